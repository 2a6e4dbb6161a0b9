// Emitter images land where each fit mode says, and settings files keep the placement.
#include <gtest/gtest.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "authoring/emitter_image_file.h"
#include "authoring/emitter_placement.h"
#include "authoring/render_job.h"
#include "authoring/settings_file.h"
#include "media/image_files.h"
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

// An OpenEXR file whose display window is width x height and whose data window, from
// (left, top) to (right, bottom), reaches beyond it on two sides; its pixels count up.
void writeWindowedExr(const std::string& path, int width, int height, Imath::Box2i data) {
  Imf::Header header(Imath::Box2i({0, 0}, {width - 1, height - 1}), data);
  const int dataWidth = data.max.x - data.min.x + 1;
  const int dataHeight = data.max.y - data.min.y + 1;
  std::vector<float> pixels(size_t(dataWidth) * dataHeight * 4);
  for (size_t i = 0; i < pixels.size(); ++i) {
    pixels[i] = float(i % 97) / 60.0f - 0.2f;
  }
  Imf::FrameBuffer frameBuffer;
  const char* names[4] = {"R", "G", "B", "A"};
  for (int channel = 0; channel < 4; ++channel) {
    header.channels().insert(names[channel], Imf::Channel(Imf::FLOAT));
    frameBuffer.insert(names[channel], Imf::Slice::Make(Imf::FLOAT, pixels.data() + channel, data, 16, 16 * dataWidth));
  }
  Imf::OutputFile file(path.c_str(), header);
  file.setFrameBuffer(frameBuffer);
  file.writePixels(dataHeight);
}

bool sameFloats(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Reading a file a row at a time, keeping only what the placement uses, gives the pixels of placing
// the whole image: each placement of each kind of file, into layers smaller and larger than it.
TEST(EmitterPlacement, ReadingRowByRowGivesThePixelsOfTheWholeImage) {
  const std::string folder = makeScratchFolder();
  HostWorld world = makeHostWorld(50, 30, 16);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 50; ++x) {
      // Rows of zeros between the pixels, as a reader may skip them.
      const uint16_t alpha = y % 7 == 3 ? 0 : uint16_t((x * 613 + y * 97) % 32769);
      const uint16_t argb[4] = {alpha, uint16_t(alpha / 2), uint16_t(alpha / 3), alpha};
      std::memcpy(pixelAddress(world.world, x, y, 16), argb, sizeof argb);
    }
  }
  const std::vector<std::string> files{folder + "/8.png", folder + "/16.png", folder + "/windowed.exr"};
  writeImageFile(files[0], world.world, 8);
  writeImageFile(files[1], world.world, 16);
  writeWindowedExr(files[2], 50, 30, Imath::Box2i({-5, 4}, {20, 40}));
  const EmitterPlacement placements[] = {
      {EmitterFit::none, 1.0, 0.0, 0.0}, {EmitterFit::none, 1.0, 7.0, -3.0}, {EmitterFit::fit, 1.0, 0.0, 0.0},
      {EmitterFit::fill, 1.0, 0.0, 0.0}, {EmitterFit::centre, 0.3, 2.5, 1.0}, {EmitterFit::none, 3.0, -4.0, 0.0},
  };
  for (const std::string& file : files) {
    const RgbaImage whole = readImageFile(file);
    for (const EmitterPlacement& placement : placements) {
      for (const auto& [layerWidth, layerHeight, downsample] : {std::tuple{16, 9, 1}, {16, 9, 3}, {120, 70, 1}}) {
        SCOPED_TRACE(file + " " + emitterFitName(placement.fit) + " scale " + std::to_string(placement.scale) +
                     " into " + std::to_string(layerWidth) + "x" + std::to_string(layerHeight) + " / " +
                     std::to_string(downsample));
        const RgbaImage read = readPlacedEmitterImage(file, layerWidth, layerHeight, placement, downsample);
        if (!leavesImageAsItIs(placement)) {
          EXPECT_TRUE(sameFloats(read.rgba, placeEmitterImage(whole, layerWidth, layerHeight, placement).rgba));
          continue;
        }
        // Unmoved, the image is cut to the layer's whole blocks of downsampled pixels.
        const int blocksWidth = (layerWidth + downsample - 1) / downsample * downsample;
        const int blocksHeight = (layerHeight + downsample - 1) / downsample * downsample;
        ASSERT_EQ(read.width, std::min(whole.width, blocksWidth));
        ASSERT_EQ(read.height, std::min(whole.height, blocksHeight));
        for (int y = 0; y < read.height; ++y) {
          const float* wholeRow = &whole.rgba[size_t(y) * whole.width * 4];
          EXPECT_TRUE(sameFloats(std::vector<float>(wholeRow, wholeRow + read.width * 4),
                                 std::vector<float>(&read.rgba[size_t(y) * read.width * 4],
                                                    &read.rgba[size_t(y) * read.width * 4] + read.width * 4)));
        }
      }
    }
  }
  std::filesystem::remove_all(folder);
}

// The effect reads no emitter pixel beyond the layer, so the cut image renders the same frames as
// the whole one, at full and at a downsampled resolution.
TEST(EmitterPlacement, TheCutEmitterRendersTheFramesOfTheWholeOne) {
  const std::string folder = makeScratchFolder();
  HostWorld world = makeHostWorld(50, 30, 8);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 50; ++x) {
      const uint8_t alpha = uint8_t((x * 37 + y * 11) % 256);
      const uint8_t argb[4] = {alpha, alpha, alpha, alpha};
      std::memcpy(pixelAddress(world.world, x, y, 8), argb, sizeof argb);
    }
  }
  const std::string file = folder + "/emitter.png";
  writeImageFile(file, world.world, 8);
  const RgbaImage whole = readImageFile(file);
  for (int downsample : {1, 3}) {
    std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
    applyAssignmentTexts(*session, {"Quality=Draft (64)", "Source=Layer Alpha"}, "test");
    session->layerWidth = 31;
    session->layerHeight = 17;
    session->downsample = downsample;
    session->bitDepth = 8;
    const RgbaImage cut = readPlacedEmitterImage(file, 31, 17, EmitterPlacement{}, downsample);
    placeLayers(*session, nullptr, &whole);
    const HostWorld fromWhole = renderFrame(*session, 3, RenderPath::smart);
    placeLayers(*session, nullptr, &cut);
    const HostWorld fromCut = renderFrame(*session, 3, RenderPath::smart);
    ASSERT_EQ(fromWhole.world.height, fromCut.world.height);
    bool flames = false;
    for (int y = 0; y < fromCut.world.height && !flames; ++y) {
      for (int x = 0; x < fromCut.world.width && !flames; ++x) {
        flames = *pixelAddress(fromCut.world, x, y, 8) != std::byte{0};
      }
    }
    EXPECT_TRUE(flames) << "downsample " << downsample;
    for (int y = 0; y < fromCut.world.height; ++y) {
      EXPECT_EQ(std::memcmp(pixelAddress(fromWhole.world, 0, y, 8), pixelAddress(fromCut.world, 0, y, 8),
                            size_t(fromCut.world.width) * 4),
                0)
          << "downsample " << downsample << " row " << y;
    }
    endSession(*session);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
