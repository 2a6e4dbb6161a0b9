#include "media/light_alpha.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

// Premultiplied light on an opaque black frame, as the effect draws its own volume.
HostWorld opaqueLight(int bitDepth, const std::vector<std::array<float, 3>>& lights) {
  RgbaImage image{static_cast<int>(lights.size()), 1, {}};
  for (const auto& light : lights) {
    image.rgba.insert(image.rgba.end(), {light[0], light[1], light[2], 1.0f});
  }
  return hostWorldFromImage(image, bitDepth);
}

// Straight samples composited with `over` onto a background value, in file code values.
double overOnto(const RgbaSamples& samples, size_t pixel, int channel, double background) {
  const double full = samples.bitDepth == 8 ? 255.0 : 65535.0;
  const double alpha = samples.values[pixel * 4 + 3] / full;
  return samples.values[pixel * 4 + channel] * alpha + background * (1.0 - alpha);
}

TEST(LightAlpha, OverBlackIsTheEffectsFrameAndOverAPictureAScreenOfTheBrightestChannel) {
  const std::vector<std::array<float, 3>> lights = {
      {0, 0, 0}, {1, 1, 1}, {1, 0.5f, 0.1f}, {0.02f, 0.01f, 0}, {0.3f, 0.9f, 0.4f}, {0.5f, 0.5f, 0.5f}, {0.004f, 0, 0}, {0.1f, 0.3f, 0.8f}};
  for (int bitDepth : {8, 16, 32}) {
    HostWorld frame = opaqueLight(bitDepth, lights);
    const RgbaSamples own = rgbaSamplesFromWorld(frame.world, bitDepth, true);
    ASSERT_TRUE(isOpaque(frame));
    ASSERT_TRUE(applyOutputAlpha(frame, OutputAlpha::automatic));
    ASSERT_FALSE(isOpaque(frame));
    const RgbaSamples light = rgbaSamplesFromWorld(frame.world, bitDepth, true);
    const double full = light.bitDepth == 8 ? 255.0 : 65535.0;
    for (size_t pixel = 0; pixel < lights.size(); ++pixel) {
      const double brightest = *std::max_element(own.values.begin() + pixel * 4, own.values.begin() + pixel * 4 + 3);
      EXPECT_NEAR(light.values[pixel * 4 + 3], brightest, 1.0) << bitDepth << " bits, pixel " << pixel;
      for (int channel = 0; channel < 3; ++channel) {
        const double effect = own.values[pixel * 4 + channel];
        EXPECT_NEAR(overOnto(light, pixel, channel, 0), effect, 1.0) << bitDepth << " bits, pixel " << pixel;
        // Over grey: the light plus what its alpha leaves of the background.
        const double grey = full / 2;
        EXPECT_NEAR(overOnto(light, pixel, channel, grey), effect + (1 - brightest / full) * grey, 1.0)
            << bitDepth << " bits, pixel " << pixel;
      }
    }
  }
}

TEST(LightAlpha, ModesAndText) {
  HostWorld transparent = makeHostWorld(3, 2, 16);
  EXPECT_FALSE(isOpaque(transparent));
  EXPECT_FALSE(applyOutputAlpha(transparent, OutputAlpha::automatic));
  HostWorld opaque = opaqueLight(8, {{0.5f, 0.2f, 0}});
  EXPECT_FALSE(applyOutputAlpha(opaque, OutputAlpha::effect));
  EXPECT_TRUE(isOpaque(opaque));
  EXPECT_EQ(parseOutputAlpha("Light"), OutputAlpha::light);
  EXPECT_EQ(parseOutputAlpha("auto"), OutputAlpha::automatic);
  EXPECT_EQ(parseOutputAlpha("effect"), OutputAlpha::effect);
  EXPECT_EQ(parseOutputAlpha(""), std::nullopt);
  EXPECT_EQ(parseOutputAlpha("lights"), std::nullopt);
}

TEST(LightAlpha, FloatLightBeyondFullAndNaNKeepAValidAlpha) {
  RgbaImage image{3, 1, {2.0f, 0.5f, 0, 1, NAN, 0.25f, 0, 1, -1, -2, -3, 1}};
  HostWorld frame = hostWorldFromImage(image, 32);
  makeAlphaFromLight(frame);
  for (int x = 0; x < 3; ++x) {
    float alpha;
    std::memcpy(&alpha, pixelAddress(frame.world, x, 0, 32), 4);
    EXPECT_TRUE(alpha >= 0.0f && alpha <= 1.0f) << x;
  }
}

}  // namespace
