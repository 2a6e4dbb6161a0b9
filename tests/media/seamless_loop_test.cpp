// A loop's last frame runs into its first as any frame runs into the next.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <cstring>

#include "authoring/render_job.h"
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

struct ChannelSpread {
  double mean = 0.0;
  double deviation = 0.0;
};

ChannelSpread spreadOf(const HostWorld& image, int channel) {
  double sum = 0.0;
  double squares = 0.0;
  const double count = double(image.world.width) * image.world.height;
  for (int y = 0; y < image.world.height; ++y) {
    for (int x = 0; x < image.world.width; ++x) {
      const double value = channelAt(image, x, y, channel);
      sum += value;
      squares += value * value;
    }
  }
  const double mean = sum / count;
  return {mean, std::sqrt(std::max(0.0, squares / count - mean * mean))};
}

// Two unrelated frames mixed halfway keep their contrast, at every depth; the ends are the frames.
TEST(SeamlessLoop, CrossFadeKeepsTheContrastOfUnrelatedFrames) {
  for (int bitDepth : {8, 16, 32}) {
    const float full = bitDepth == 8 ? 255.0f : bitDepth == 16 ? 32768.0f : 1.0f;
    HostWorld a = makeHostWorld(64, 64, bitDepth);
    HostWorld b = makeHostWorld(64, 64, bitDepth);
    uint32_t state = 12345;
    auto uniform = [&] {
      state = state * 1664525u + 1013904223u;
      return float(state >> 8) / float(1 << 24);
    };
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) {
        for (HostWorld* image : {&a, &b}) {
          setChannel(*image, x, y, 0, full);
          // Values away from 0 and full, so that nothing is clipped.
          const float value = std::round((0.2f + 0.6f * uniform()) * full * (bitDepth == 32 ? 1000.0f : 1.0f));
          setChannel(*image, x, y, 1, bitDepth == 32 ? value / 1000.0f : value);
        }
      }
    }
    EXPECT_TRUE(sameBytes(crossFadeWorlds(a, b, 0.0f), a)) << bitDepth;
    EXPECT_TRUE(sameBytes(crossFadeWorlds(a, b, 1.0f), b)) << bitDepth;
    const HostWorld half = crossFadeWorlds(a, b, 0.5f);
    const ChannelSpread mixed = spreadOf(half, 1);
    const ChannelSpread first = spreadOf(a, 1);
    const ChannelSpread second = spreadOf(b, 1);
    EXPECT_NEAR(mixed.mean, (first.mean + second.mean) / 2.0, 0.01 * full) << bitDepth;
    EXPECT_NEAR(mixed.deviation / ((first.deviation + second.deviation) / 2.0), 1.0, 0.05) << bitDepth;
    // Opaque stays opaque; an even field stays even.
    EXPECT_EQ(spreadOf(half, 0).mean, full) << bitDepth;
    EXPECT_EQ(spreadOf(half, 2).deviation, 0.0) << bitDepth;
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

// What the eye sees of a frame: how sharp the flames are, and how much of it is semi-transparent.
struct FrameLook {
  double sharpness = 0.0;          // mean step of the colour between neighbouring pixels
  double semiTransparent = 0.0;    // share of pixels with 0 < alpha < full
};

FrameLook lookOf(const HostWorld& image) {
  const float full = image.bitDepth == 8 ? 255.0f : image.bitDepth == 16 ? 32768.0f : 1.0f;
  FrameLook look;
  const int width = image.world.width;
  const int height = image.world.height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const float alpha = channelAt(image, x, y, 0);
      look.semiTransparent += alpha > 0.0f && alpha < full ? 1.0 : 0.0;
      for (int channel = 1; channel < 4; ++channel) {
        const float here = channelAt(image, x, y, channel);
        if (x + 1 < width) {
          look.sharpness += std::fabs(channelAt(image, x + 1, y, channel) - here);
        }
        if (y + 1 < height) {
          look.sharpness += std::fabs(channelAt(image, x, y + 1, channel) - here);
        }
      }
    }
  }
  look.sharpness /= double(width) * height * 3.0;
  look.semiTransparent /= double(width) * height;
  return look;
}

// The fade's frames look like the frames around them: as sharp, as transparent, and the seam from
// the last frame to the first is a step like any other. A plain mix softened them by a fifth and
// doubled the semi-transparent pixels.
TEST(SeamlessLoop, TheFadeLooksLikeTheUnloopedFrames) {
  RgbaImage emitter{64, 36, std::vector<float>(64 * 36 * 4, 0.0f)};
  for (int y = 28; y < 36; ++y) {
    for (int x = 8; x < 56; ++x) {
      std::fill_n(&emitter.rgba[(y * 64 + x) * 4], 4, 1.0f);
    }
  }
  struct Case {
    const char* source;
    const RgbaImage* emitter;
  };
  for (const Case& test : {Case{"Original Volume", nullptr}, Case{"Layer Alpha", &emitter}}) {
    std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
    session->layerWidth = 64;
    session->layerHeight = 36;
    session->bitDepth = 8;
    for (const char* setting : {"Quality=Draft (64)", "Processing=CPU"}) {
      setParamTrack(*session, parseAssignment(session->params, setting));
    }
    setParamTrack(*session, parseAssignment(session->params, std::string("Source=") + test.source));
    placeLayers(*session, nullptr, test.emitter);
    const LoopSettings loop{24, 12};
    FrameLook looped;
    FrameLook unlooped;
    for (long frame = loop.length - loop.fadeFrames; frame < loop.length - 1; ++frame) {
      const FrameLook fade = lookOf(renderLoopFrame(*session, frame, loop, RenderPath::smart));
      // What the two frames it comes from look like, weighed as the fade weighs them.
      const LoopMix mix = loopMix(loop, frame);
      const FrameLook own = lookOf(renderFrame(*session, frame, RenderPath::smart));
      const FrameLook earlier = lookOf(renderFrame(*session, mix.earlierFrame, RenderPath::smart));
      looped.sharpness += fade.sharpness;
      looped.semiTransparent += fade.semiTransparent;
      unlooped.sharpness += (1.0 - mix.earlierWeight) * own.sharpness + mix.earlierWeight * earlier.sharpness;
      unlooped.semiTransparent +=
          (1.0 - mix.earlierWeight) * own.semiTransparent + mix.earlierWeight * earlier.semiTransparent;
    }
    // Motion: the fade's frame-to-frame steps against the unlooped frames' steps; the seam from
    // the last frame to the first against all of the loop's steps.
    std::vector<double> loopSteps;
    std::vector<double> fadeSteps;
    std::vector<double> plainSteps;
    HostWorld previous = renderLoopFrame(*session, 0, loop, RenderPath::smart);
    HostWorld previousPlain = renderFrame(*session, 0, RenderPath::smart);
    for (long frame = 1; frame < loop.length; ++frame) {
      HostWorld current = renderLoopFrame(*session, frame, loop, RenderPath::smart);
      HostWorld currentPlain = renderFrame(*session, frame, RenderPath::smart);
      loopSteps.push_back(meanDifference(previous, current));
      if (frame > loop.length - loop.fadeFrames) {
        fadeSteps.push_back(loopSteps.back());
        plainSteps.push_back(meanDifference(previousPlain, currentPlain));
      }
      previous = std::move(current);
      previousPlain = std::move(currentPlain);
    }
    const double seam = meanDifference(previous, renderLoopFrame(*session, 0, loop, RenderPath::smart));
    auto median = [](std::vector<double> values) {
      std::sort(values.begin(), values.end());
      return values[values.size() / 2];
    };
    const double sharpness = looped.sharpness / unlooped.sharpness;
    const double semiTransparent = (looped.semiTransparent + 1e-9) / (unlooped.semiTransparent + 1e-9);
    const double motion = median(fadeSteps) / median(plainSteps);
    const double seamStep = seam / median(loopSteps);
    std::cout << test.source << ": against the unlooped frames, sharpness " << sharpness << ", semi-transparent pixels "
              << semiTransparent << ", motion " << motion << "; seam step " << seamStep << " of the median step\n";
    EXPECT_NEAR(sharpness, 1.0, 0.05) << test.source;
    EXPECT_NEAR(semiTransparent, 1.0, 0.05) << test.source;
    EXPECT_GE(motion, 0.95) << test.source;  // a plain mix slowed it
    // The seam is a natural step between two frames; on frames this small a step varies by a few percent.
    EXPECT_LE(seamStep, 1.1) << test.source;
    endSession(*session);
  }
}

}  // namespace
