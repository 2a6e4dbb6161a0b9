// A loop's last frame runs into its first as any frame runs into the next.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iostream>
#include <numeric>
#include <optional>

#include "authoring/emitter_placement.h"
#include "authoring/render_job.h"
#include "authoring/settings_file.h"
#include "media/image_files.h"
#include "finishing/light_alpha.h"
#include "media/seamless_loop.h"

namespace {

float channelAt(const HostWorld& image, int x, int y, int channel) {
  const std::byte* pixel = pixelAddress(image.world, x, y, image.bitDepth) + channel * (image.bitDepth / 8);
  if (image.bitDepth == 32) {
    float value;
    std::memcpy(&value, pixel, 4);
    return value;
  }
  if (image.bitDepth == 16) {
    uint16_t value;
    std::memcpy(&value, pixel, 2);
    return value;
  }
  return float(std::to_integer<uint8_t>(*pixel));
}

double meanDifference(const HostWorld& a, const HostWorld& b) {
  double sum = 0.0;
  for (int y = 0; y < a.world.height; ++y) {
    for (int x = 0; x < a.world.width; ++x) {
      for (int channel = 1; channel < 4; ++channel) {
        sum += std::fabs(channelAt(a, x, y, channel) - channelAt(b, x, y, channel));
      }
    }
  }
  return sum / (a.world.width * a.world.height * 3.0);
}

bool sameBytes(const HostWorld& a, const HostWorld& b) {
  for (int y = 0; y < a.world.height; ++y) {
    if (std::memcmp(pixelAddress(a.world, 0, y, a.bitDepth), pixelAddress(b.world, 0, y, b.bitDepth),
                    size_t(a.world.width) * bytesPerPixel(a.bitDepth)) != 0) {
      return false;
    }
  }
  return true;
}

TEST(SeamlessLoop, TheFadeRisesToTheFrameOneLoopEarlier) {
  const LoopSettings loop{10, 4};
  struct Case {
    long frame;
    long earlierFrame;
    float weight;
  };
  const Case cases[] = {{0, 0, 0.0f},      {5, 5, 0.0f},       {6, -4, 0.25f}, {7, -3, 0.5f},
                        {9, -1, 1.0f},     {10, 10, 0.0f},     {-1, -1, 0.0f}};
  for (const Case& test : cases) {
    LoopMix mix = loopMix(loop, test.frame);
    EXPECT_EQ(mix.earlierWeight, test.weight) << test.frame;
    if (test.weight > 0.0f) {
      EXPECT_EQ(mix.earlierFrame, test.earlierFrame) << test.frame;
    }
  }
  EXPECT_EQ(loopMix(LoopSettings{}, 9).earlierWeight, 0.0f);
  // One second, at most half the loop.
  EXPECT_EQ(defaultLoopFade(120, FrameClock{24, 1}), 24);
  EXPECT_EQ(defaultLoopFade(120, FrameClock{30000, 1001}), 30);
  EXPECT_EQ(defaultLoopFade(12, FrameClock{24, 1}), 6);
  EXPECT_EQ(defaultLoopFade(2, FrameClock{24, 1}), 1);
}

void setChannel(HostWorld& image, int x, int y, int channel, float value) {
  std::byte* pixel = pixelAddress(image.world, x, y, image.bitDepth) + channel * (image.bitDepth / 8);
  if (image.bitDepth == 32) {
    std::memcpy(pixel, &value, 4);
  } else if (image.bitDepth == 16) {
    uint16_t stored = uint16_t(value);
    std::memcpy(pixel, &stored, 2);
  } else {
    *pixel = std::byte(uint8_t(value));
  }
}

float fullOf(const HostWorld& image) { return image.bitDepth == 8 ? 255.0f : image.bitDepth == 16 ? 32768.0f : 1.0f; }

// Two unrelated premultiplied frames of random pixels, in 8-bit steps at every depth, so that the
// depths can be compared.
void fillRandomFrames(HostWorld& a, HostWorld& b) {
  const float step = fullOf(a) / 255.0f;
  uint32_t state = 12345;
  auto randomStep = [&](int below) {
    state = state * 1664525u + 1013904223u;
    return int((uint64_t(state >> 8) * uint64_t(below)) >> 24);
  };
  for (int y = 0; y < a.world.height; ++y) {
    for (int x = 0; x < a.world.width; ++x) {
      for (HostWorld* image : {&a, &b}) {
        const int alpha = randomStep(256);
        setChannel(*image, x, y, 0, float(alpha) * step);
        for (int channel = 1; channel < 4; ++channel) {
          setChannel(*image, x, y, channel, float(randomStep(alpha + 1)) * step);
        }
      }
    }
  }
}

// The fade dissolves: most pixels are wholly one frame's or the other's (a plain mix has none), as
// many of the later frame's as the weight says, the few between them lie between them and stay
// premultiplied, and every depth dissolves the same pixels. The ends are the frames.
TEST(SeamlessLoop, CrossFadeTurnsWholePixelsAtEveryDepth) {
  constexpr int width = 96;
  constexpr int height = 54;
  HostWorld floatA = makeHostWorld(width, height, 32);
  HostWorld floatB = makeHostWorld(width, height, 32);
  fillRandomFrames(floatA, floatB);
  for (int bitDepth : {8, 16, 32}) {
    HostWorld a = makeHostWorld(width, height, bitDepth);
    HostWorld b = makeHostWorld(width, height, bitDepth);
    fillRandomFrames(a, b);
    const float full = fullOf(a);
    EXPECT_TRUE(sameBytes(crossFadeWorlds(a, b, 0.0f), a)) << bitDepth;
    EXPECT_TRUE(sameBytes(crossFadeWorlds(a, b, 1.0f), b)) << bitDepth;
    for (float weight : {0.25f, 0.5f, 0.75f}) {
      const HostWorld mixed = crossFadeWorlds(a, b, weight);
      const HostWorld floatMixed = crossFadeWorlds(floatA, floatB, weight);
      int wholeA = 0;
      int wholeB = 0;
      int outside = 0;
      int notPremultiplied = 0;
      int unlikeFloat = 0;
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          bool likeA = true;
          bool likeB = true;
          for (int channel = 0; channel < 4; ++channel) {
            const float value = channelAt(mixed, x, y, channel);
            const float first = channelAt(a, x, y, channel);
            const float second = channelAt(b, x, y, channel);
            likeA = likeA && value == first;
            likeB = likeB && value == second;
            outside += value < std::min(first, second) || value > std::max(first, second) ? 1 : 0;
            notPremultiplied += channel > 0 && value > channelAt(mixed, x, y, 0) ? 1 : 0;
            unlikeFloat += std::fabs(value / full - channelAt(floatMixed, x, y, channel)) > 0.5f / 255.0f ? 1 : 0;
          }
          // Where the frames are alike, the pixel counts for neither.
          if (likeA != likeB) {
            wholeA += likeA ? 1 : 0;
            wholeB += likeB ? 1 : 0;
          }
        }
      }
      const double pixels = double(width) * height;
      EXPECT_GT((wholeA + wholeB) / pixels, 0.85) << bitDepth << " at " << weight << ": " << wholeA << " + " << wholeB;
      EXPECT_NEAR(wholeB / double(wholeA + wholeB), weight, 0.05) << bitDepth << " at " << weight;
      EXPECT_EQ(outside, 0) << bitDepth << " at " << weight;
      EXPECT_EQ(notPremultiplied, 0) << bitDepth << " at " << weight;
      EXPECT_EQ(unlikeFloat, 0) << bitDepth << " at " << weight;
    }
  }
}

TEST(SeamlessLoop, LastFrameIsTheFrameBeforeTheFirst) {
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  session->layerWidth = 48;
  session->layerHeight = 27;
  session->bitDepth = 32;
  setParamTrack(*session, parseAssignment(session->params, "Quality=Draft (64)"));
  setParamTrack(*session, parseAssignment(session->params, "Processing=CPU"));
  placeLayers(*session, nullptr, nullptr);
  const LoopSettings loop{24, 6};

  HostWorld last = renderLoopFrame(*session, 23, loop, RenderPath::smart);
  HostWorld first = renderLoopFrame(*session, 0, loop, RenderPath::smart);
  EXPECT_TRUE(sameBytes(last, renderFrame(*session, -1, RenderPath::smart)));
  EXPECT_TRUE(sameBytes(renderLoopFrame(*session, 17, loop, RenderPath::smart),
                        renderFrame(*session, 17, RenderPath::smart)));
  // Without the loop, frame 23 is far from frame 0; with it, as close as neighbours are.
  const double looped = meanDifference(last, first);
  const double unlooped = meanDifference(renderFrame(*session, 23, RenderPath::smart), first);
  const double neighbours = meanDifference(renderFrame(*session, 1, RenderPath::smart), first);
  EXPECT_GT(looped, 0.0);
  EXPECT_LT(looped, 2.0 * neighbours);
  EXPECT_GT(unlooped, 3.0 * looped);
  endSession(*session);
}

// What the eye sees of a frame as the hosts write it (alpha from the light where the look's own
// frame is opaque): how fine its detail is, how much of it is semi-transparent and in which hues,
// and its alpha.
constexpr int hueClasses = 25;  // 24 hues of 15 degrees each, and the greys

struct FrameLook {
  double fineDetail = 0.0;       // mean difference of the colour from its 3 x 3 neighbourhood's mean, in full intensities
  double semiTransparent = 0.0;  // share of the pixels with 0 < alpha < full
  std::array<double, hueClasses> semiTransparentHues{};  // pixels of each hue class
  std::array<double, hueClasses> visibleHues{};          // the same for every pixel with alpha > 0
  std::vector<float> alpha;      // in full intensities
};

// The hue class of a colour, premultiplied or not; -1 for one too dark to show a hue in 8 bits.
int hueClassOf(float red, float green, float blue, float full) {
  const float brightest = std::max({red, green, blue});
  const float range = brightest - std::min({red, green, blue});
  if (brightest < 2.0f / 255.0f * full) {
    return -1;
  }
  if (range < 0.15f * brightest) {
    return hueClasses - 1;
  }
  float sextant = brightest == red     ? std::fmod((green - blue) / range + 6.0f, 6.0f)
                  : brightest == green ? (blue - red) / range + 2.0f
                                       : (red - green) / range + 4.0f;
  return std::min(hueClasses - 2, int(sextant * 4.0f));
}

FrameLook lookOf(const HostWorld& rendered) {
  HostWorld frame = makeHostWorld(rendered.world.width, rendered.world.height, rendered.bitDepth);
  copyWorldInto(rendered.world, frame.world, 0, 0, rendered.bitDepth);
  applyOutputAlpha(frame, OutputAlpha::automatic);
  const float full = fullOf(frame);
  const int width = frame.world.width;
  const int height = frame.world.height;
  FrameLook look;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const float alpha = channelAt(frame, x, y, 0);
      look.alpha.push_back(alpha / full);
      const float red = channelAt(frame, x, y, 1);
      const float green = channelAt(frame, x, y, 2);
      const float blue = channelAt(frame, x, y, 3);
      const int hueClass = hueClassOf(red, green, blue, full);
      if (alpha > 0.0f && hueClass >= 0) {
        look.visibleHues[size_t(hueClass)] += 1.0;
      }
      if (alpha > 0.0f && alpha < full) {
        look.semiTransparent += 1.0;
        if (hueClass >= 0) {
          look.semiTransparentHues[size_t(hueClass)] += 1.0;
        }
      }
      if (x == 0 || y == 0 || x == width - 1 || y == height - 1) {
        continue;
      }
      for (int channel = 1; channel < 4; ++channel) {
        float neighbourhood = 0.0f;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            neighbourhood += channelAt(frame, x + dx, y + dy, channel);
          }
        }
        look.fineDetail += std::fabs(channelAt(frame, x, y, channel) - neighbourhood / 9.0f);
      }
    }
  }
  look.fineDetail /= double(width - 2) * (height - 2) * 3.0 * full;
  look.semiTransparent /= double(width) * height;
  return look;
}

// How much alpha changes from one frame to the next: the pixels' mean change.
double alphaStep(const FrameLook& from, const FrameLook& to) {
  double sum = 0.0;
  for (size_t pixel = 0; pixel < from.alpha.size(); ++pixel) {
    sum += std::fabs(to.alpha[pixel] - from.alpha[pixel]);
  }
  return sum / double(from.alpha.size());
}

// Half the summed difference of two histograms' shares: 0 alike, 1 disjoint.
double histogramDistance(const std::array<double, hueClasses>& a, const std::array<double, hueClasses>& b) {
  const double totalA = std::accumulate(a.begin(), a.end(), 0.0);
  const double totalB = std::accumulate(b.begin(), b.end(), 0.0);
  double distance = 0.0;
  for (int hueClass = 0; hueClass < hueClasses; ++hueClass) {
    distance += 0.5 * std::fabs(a[hueClass] / totalA - b[hueClass] / totalB);
  }
  return distance;
}

// The share of a histogram in classes that the other has (almost) none of.
double shareOfNewClasses(const std::array<double, hueClasses>& histogram, const std::array<double, hueClasses>& reference) {
  const double total = std::accumulate(histogram.begin(), histogram.end(), 0.0);
  const double referenceTotal = std::accumulate(reference.begin(), reference.end(), 0.0);
  double share = 0.0;
  for (int hueClass = 0; hueClass < hueClasses; ++hueClass) {
    share += reference[hueClass] < 0.001 * referenceTotal ? histogram[hueClass] / total : 0.0;
  }
  return share;
}

// The fade's frames look like the frames they come from, on a volume look and on a layer look whose
// letters burn: no hue that the frames have none of, as fine and as semi-transparent, and no
// larger alpha steps. The frames a fade frame comes from are weighed as the fade weighs them.
// The mix that matched alpha's distribution and rescaled colour's detail failed here: two thirds
// more semi-transparent pixels on the volume, and on the letters a hue distance of 0.38 (their
// semi-transparent pixels turned yellow and yellow-green).
TEST(SeamlessLoop, TheFadeLooksLikeTheFramesItComesFrom) {
  struct Case {
    const char* look;
    const char* preset;  // none: the default look
  };
  for (const Case& test : {Case{"volume", nullptr}, Case{"burning-text", "burning-text"}}) {
    std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
    session->layerWidth = 160;
    session->layerHeight = 90;
    session->bitDepth = 8;
    std::optional<RgbaImage> emitter;
    if (test.preset) {
      const SettingsFile preset =
          readSettingsFile(std::string(VORTELLINE_SOURCE_DIR) + "/presets/" + test.preset + ".json");
      applyAssignments(*session, preset.assignments, test.preset);
      emitter = placeEmitterImage(readImageFile(preset.scene.emitterPath), session->layerWidth, session->layerHeight,
                                  preset.scene.emitterPlacement);
    }
    applyAssignmentTexts(*session, {"Quality=Draft (64)", "Processing=CPU"}, "the test");
    placeLayers(*session, nullptr, emitter ? &*emitter : nullptr);
    const LoopSettings loop{48, 24};
    const long fadeStart = loop.length - loop.fadeFrames;

    FrameLook reference;
    FrameLook looped;
    std::vector<FrameLook> unloopedFrames;  // the frames before the fade and in it, then the earlier frames
    std::vector<FrameLook> loopedFrames;    // the frames before the fade and in it, then frame 0
    for (long frame = fadeStart - 1; frame < loop.length; ++frame) {
      const LoopMix mix = loopMix(loop, frame);
      const HostWorld own = renderFrame(*session, frame, RenderPath::smart);
      const HostWorld earlier = renderFrame(*session, mix.earlierFrame, RenderPath::smart);
      unloopedFrames.push_back(lookOf(own));
      loopedFrames.push_back(lookOf(crossFadeWorlds(own, earlier, mix.earlierWeight)));
      if (frame < fadeStart) {
        continue;
      }
      const FrameLook earlierLook = lookOf(earlier);
      const double weight = mix.earlierWeight;
      reference.fineDetail += (1.0 - weight) * unloopedFrames.back().fineDetail + weight * earlierLook.fineDetail;
      reference.semiTransparent +=
          (1.0 - weight) * unloopedFrames.back().semiTransparent + weight * earlierLook.semiTransparent;
      looped.fineDetail += loopedFrames.back().fineDetail;
      looped.semiTransparent += loopedFrames.back().semiTransparent;
      for (int hueClass = 0; hueClass < hueClasses; ++hueClass) {
        reference.semiTransparentHues[hueClass] += (1.0 - weight) * unloopedFrames.back().semiTransparentHues[hueClass] +
                                                   weight * earlierLook.semiTransparentHues[hueClass];
        looped.semiTransparentHues[hueClass] += loopedFrames.back().semiTransparentHues[hueClass];
        reference.visibleHues[hueClass] +=
            (1.0 - weight) * unloopedFrames.back().visibleHues[hueClass] + weight * earlierLook.visibleHues[hueClass];
        looped.visibleHues[hueClass] += loopedFrames.back().visibleHues[hueClass];
      }
    }
    for (long frame = -loop.fadeFrames; frame <= 0; ++frame) {
      unloopedFrames.push_back(lookOf(renderFrame(*session, frame, RenderPath::smart)));
    }
    loopedFrames.push_back(unloopedFrames.back());

    // Every step of the unlooped frames (none between the later frames and the earlier ones), and
    // every step of the looped frames, the seam from the last frame to frame 0 among them.
    double largestUnloopedStep = 0.0;
    for (size_t index = 0; index + 1 < unloopedFrames.size(); ++index) {
      if (index + 1 != size_t(loop.fadeFrames) + 1) {
        largestUnloopedStep = std::max(largestUnloopedStep, alphaStep(unloopedFrames[index], unloopedFrames[index + 1]));
      }
    }
    double largestLoopedStep = 0.0;
    for (size_t index = 0; index + 1 < loopedFrames.size(); ++index) {
      largestLoopedStep = std::max(largestLoopedStep, alphaStep(loopedFrames[index], loopedFrames[index + 1]));
    }

    const double fineDetail = looped.fineDetail / reference.fineDetail;
    const double semiTransparent = looped.semiTransparent / reference.semiTransparent;
    const double hueDistance = histogramDistance(looped.semiTransparentHues, reference.semiTransparentHues);
    const double newHues = shareOfNewClasses(looped.visibleHues, reference.visibleHues);
    const double alphaSteps = largestLoopedStep / largestUnloopedStep;
    std::cout << test.look << ": against the frames it comes from, the fade's fine detail " << fineDetail
              << ", semi-transparent share " << semiTransparent << ", their hues' distance " << hueDistance
              << " (visible pixels in hues the frames lack: " << newHues << "), largest alpha step " << alphaSteps << "\n";
    EXPECT_NEAR(fineDetail, 1.0, 0.1) << test.look;
    EXPECT_NEAR(semiTransparent, 1.0, 0.1) << test.look;
    EXPECT_LE(hueDistance, 0.05) << test.look;
    EXPECT_LE(newHues, 0.002) << test.look;
    EXPECT_LE(alphaSteps, 1.5) << test.look;
    endSession(*session);
  }
}

}  // namespace
