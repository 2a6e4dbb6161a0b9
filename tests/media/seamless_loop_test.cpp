// A loop's last frame runs into its first as any frame runs into the next.
#include <gtest/gtest.h>

#include <cmath>
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

TEST(SeamlessLoop, CrossFadesEveryDepthAndRoundsToTheNearestStep) {
  struct Case {
    int bitDepth;
    float a, b, weight, expected;
  };
  const Case cases[] = {
      {8, 0, 255, 0.5f, 128},        {8, 10, 20, 0.25f, 13},  {8, 200, 100, 1.0f, 100},
      {16, 0, 32768, 0.5f, 16384},   {16, 3, 4, 0.5f, 4},     {32, 0.25f, 2.0f, 0.5f, 1.125f},
      {32, 1e30f, -0.5f, 1.0f, -0.5f},  // a weight of 1 is the later frame exactly
  };
  for (const Case& test : cases) {
    HostWorld a = makeHostWorld(3, 2, test.bitDepth);
    HostWorld b = makeHostWorld(3, 2, test.bitDepth);
    for (HostWorld* world : {&a, &b}) {
      const float value = world == &a ? test.a : test.b;
      std::byte* pixel = pixelAddress(world->world, 2, 1, test.bitDepth) + 2 * (test.bitDepth / 8);
      if (test.bitDepth == 32) {
        std::memcpy(pixel, &value, 4);
      } else if (test.bitDepth == 16) {
        uint16_t stored = uint16_t(value);
        std::memcpy(pixel, &stored, 2);
      } else {
        *pixel = std::byte(uint8_t(value));
      }
    }
    HostWorld mixed = crossFadeWorlds(a, b, test.weight);
    EXPECT_EQ(channelAt(mixed, 2, 1, 2), test.expected) << test.bitDepth << " " << test.a << " " << test.b;
    EXPECT_EQ(channelAt(mixed, 0, 0, 2), 0.0f);
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

}  // namespace
