// Emitter images land where each fit mode says, and settings files keep the placement.
#include <gtest/gtest.h>

#include <cmath>

#include "authoring/emitter_placement.h"
#include "authoring/settings_file.h"
#include "session/program_errors.h"
#include "tests/support/program_runner.h"

namespace {

// An opaque image whose pixels all differ, so that an exact copy can be told from a shifted one.
RgbaImage numberedImage(int width, int height) {
  RgbaImage image{width, height, {}};
  for (int pixel = 0; pixel < width * height; ++pixel) {
    float value = float(pixel + 1) / float(width * height);
    image.rgba.insert(image.rgba.end(), {value, value * 0.5f, 0.25f, 1.0f});
  }
  return image;
}

struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  bool operator==(const Box&) const = default;
};

// The pixels at least half covered.
Box coveredBox(const RgbaImage& image) {
  Box box{image.width, image.height, 0, 0};
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (image.rgba[(size_t(y) * image.width + x) * 4 + 3] >= 0.5f) {
        box = Box{std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1), std::max(box.bottom, y + 1)};
      }
    }
  }
  return box;
}

double coveredArea(const RgbaImage& image) {
  double area = 0.0;
  for (size_t pixel = 0; pixel < image.rgba.size() / 4; ++pixel) {
    area += image.rgba[pixel * 4 + 3];
  }
  return area;
}

TEST(EmitterPlacement, FitModesPlaceTheImageWhereDocumented) {
  const RgbaImage image = numberedImage(4, 2);
  struct Case {
    EmitterPlacement placement;
    Box expected;
    bool exactCopy;  // unscaled at whole pixels: the source pixels themselves
  };
  const Case cases[] = {
      {{EmitterFit::none, 1.0, 3.0, 2.0}, {3, 2, 7, 4}, true},
      {{EmitterFit::none, 1.0, -2.0, 0.0}, {0, 0, 2, 2}, true},  // cut at the layer's edge
      {{EmitterFit::centre, 1.0, 0.0, 0.0}, {6, 5, 10, 7}, true},
      {{EmitterFit::centre, 1.0, -6.0, 5.0}, {0, 10, 4, 12}, true},
      {{EmitterFit::fit, 1.0, 0.0, 0.0}, {0, 2, 16, 10}, false},   // x4: 16 x 8, centred
      {{EmitterFit::fill, 1.0, 0.0, 0.0}, {0, 0, 16, 12}, false},  // x6: 24 x 12, sides cut
      {{EmitterFit::fit, 0.5, 0.0, 0.0}, {4, 4, 12, 8}, false},    // x2 about the centre
      {{EmitterFit::none, 2.0, 1.0, 1.0}, {1, 1, 9, 5}, false},    // x2 from the top left
      {{EmitterFit::centre, 0.5, 0.0, 0.5}, {7, 6, 9, 7}, false},  // 2 x 1, each pixel the mean of 2 x 2
  };
  for (const Case& test : cases) {
    const EmitterPlacement& placement = test.placement;
    SCOPED_TRACE(emitterFitName(placement.fit) + " scale " + std::to_string(placement.scale) + " offset " +
                 std::to_string(placement.offsetX) + "," + std::to_string(placement.offsetY));
    RgbaImage placed = placeEmitterImage(image, 16, 12, placement);
    ASSERT_EQ(placed.width, 16);
    ASSERT_EQ(placed.height, 12);
    EXPECT_EQ(coveredBox(placed), test.expected);
    const EmitterRectangle rectangle = emitterRectangle(4, 2, 16, 12, placement);
    if (test.exactCopy) {
      for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) {
          int lx = x + int(rectangle.left), ly = y + int(rectangle.top);
          if (lx < 0 || ly < 0 || lx >= 16 || ly >= 12) {
            continue;
          }
          for (int channel = 0; channel < 4; ++channel) {
            EXPECT_EQ(placed.rgba[(size_t(ly) * 16 + lx) * 4 + channel], image.rgba[(size_t(y) * 4 + x) * 4 + channel]);
          }
        }
      }
    } else if (const double spill = rectangle.scale / 2; rectangle.left >= spill && rectangle.top >= spill &&
               rectangle.left + 4 * rectangle.scale + spill <= 16 && rectangle.top + 2 * rectangle.scale + spill <= 12) {
      // Resampling neither loses nor adds coverage while the image and its softened edge (half a
      // source pixel) lie inside the layer.
      EXPECT_NEAR(coveredArea(placed), 8.0 * rectangle.scale * rectangle.scale, 1e-3);
    }
  }
}

TEST(EmitterPlacement, OptionsAndSettingsFilesKeepThePlacement) {
  EmitterPlacement placement;
  placement.fit = parseEmitterFit("center");
  placement.scale = parseEmitterScale("0.75");
  parseEmitterOffset("-12.5,40", placement);
  EXPECT_EQ(placement.fit, EmitterFit::centre);
  for (const char* bad : {"", "0", "-1", "200", "nan", "x"}) {
    EXPECT_THROW(parseEmitterScale(bad), UsageError) << bad;
  }
  for (const char* bad : {"", "1", "1,", "a,b", "1,inf"}) {
    EXPECT_THROW(parseEmitterOffset(bad, placement), UsageError) << bad;
  }
  EXPECT_THROW(parseEmitterFit("stretch"), UsageError);

  const std::string folder = makeScratchFolder();
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  SettingsScene scene;
  scene.emitterPath = "/tmp/logo.png";
  scene.emitterPlacement = placement;
  writeSettingsFile(folder + "/placed.json", *session, scene);
  const EmitterPlacement read = readSettingsFile(folder + "/placed.json").scene.emitterPlacement;
  EXPECT_EQ(read.fit, EmitterFit::centre);
  EXPECT_EQ(read.scale, 0.75);
  EXPECT_EQ(read.offsetX, -12.5);
  EXPECT_EQ(read.offsetY, 40.0);
}

}  // namespace
