#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "finishing/finishing.h"
#include "finishing/pixel_samples.h"

namespace {

// A disc of light (premultiplied, opaque) of the given radius at the centre of a transparent frame.
RgbaImage discOfLight(int width, int height, double radius, float light) {
  RgbaImage image{width, height, std::vector<float>(static_cast<size_t>(width) * height * 4, 0.0f)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double dx = x + 0.5 - width / 2.0;
      const double dy = y + 0.5 - height / 2.0;
      if (dx * dx + dy * dy <= radius * radius) {
        float* pixel = &image.rgba[(static_cast<size_t>(y) * width + x) * 4];
        pixel[0] = pixel[1] = pixel[2] = light;
        pixel[3] = 1.0f;
      }
    }
  }
  return image;
}

// Flames-like light: soft blobs of orange with a transparent surround, some of it beyond full
// intensity (clipped at 8 and 16 bits).
RgbaImage flameLight(int width, int height) {
  RgbaImage image{width, height, std::vector<float>(static_cast<size_t>(width) * height * 4, 0.0f)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const float u = static_cast<float>(x) / width;
      const float v = static_cast<float>(y) / height;
      const float blob = std::exp(-((u - 0.4f) * (u - 0.4f) + (v - 0.6f) * (v - 0.6f)) * 40.0f) +
                         0.5f * std::exp(-((u - 0.7f) * (u - 0.7f) + (v - 0.3f) * (v - 0.3f)) * 120.0f);
      const float alpha = std::min(1.0f, blob * 1.2f);
      float* pixel = &image.rgba[(static_cast<size_t>(y) * width + x) * 4];
      pixel[0] = std::min(alpha, blob * 1.1f);
      pixel[1] = blob * 0.45f;
      pixel[2] = blob * 0.08f;
      pixel[3] = alpha;
    }
  }
  return image;
}

float channelAt(const HostWorld& frame, int x, int y, int channel) {
  std::byte* at = pixelAddress(frame.world, x, y, frame.bitDepth) + channel * (frame.bitDepth / 8);
  if (frame.bitDepth == 32) {
    return readSample<float>(at);
  }
  if (frame.bitDepth == 16) {
    return readSample<uint16_t>(at) / 32768.0f;
  }
  return readSample<uint8_t>(at) / 255.0f;
}

std::vector<std::byte> bytesOf(const HostWorld& frame) {
  std::vector<std::byte> bytes;
  for (int y = 0; y < frame.world.height; ++y) {
    const std::byte* row = pixelAddress(frame.world, 0, y, frame.bitDepth);
    bytes.insert(bytes.end(), row, row + static_cast<size_t>(frame.world.width) * bytesPerPixel(frame.bitDepth));
  }
  return bytes;
}

FinishingValues glowOf(double amount, double radius, double threshold = 0.0) {
  FinishingValues finishing;
  setFinishingValue(finishing, glowAmount, amount);
  setFinishingValue(finishing, glowRadius, radius);
  setFinishingValue(finishing, glowThreshold, threshold);
  return finishing;
}

TEST(Glow, FallsOffSteeplyNearAndSlowlyFarAlikeAtEverySize) {
  // The glow around a small disc, at distances in units of the radius, for layers of two heights
  // whose disc is the same share of the layer: the same curve, steep near, reaching past the radius.
  const double distances[] = {0.1, 0.2, 0.3, 0.5, 0.75, 1.0, 1.25};
  std::vector<std::vector<double>> curves;
  for (int height : {180, 360}) {
    const int width = height * 2;
    HostWorld frame = hostWorldFromImage(discOfLight(width, height, height / 60.0, 1.0f), 32);
    addGlow(frame, glowOf(100, 20), height);
    const double radius = 0.2 * height;
    std::vector<double> curve;
    for (double distance : distances) {
      const int x = static_cast<int>(std::lround(width / 2.0 + distance * radius));
      curve.push_back(channelAt(frame, x, height / 2, 1));
    }
    for (size_t i = 1; i < curve.size(); ++i) {
      EXPECT_LT(curve[i], curve[i - 1]) << "height " << height << ", at " << distances[i] << " radii";
    }
    // One Gaussian as wide as the halo would keep 85% from 0.1 to 0.3 radii, one as narrow as
    // the spill nothing at the radius.
    EXPECT_LT(curve[2], 0.5 * curve[0]) << height;
    EXPECT_GT(curve[5], 0.05 * curve[2]) << height;
    EXPECT_GT(curve[6], 0.0) << height;
    curves.push_back(curve);
  }
  for (size_t i = 0; i < curves[0].size(); ++i) {
    EXPECT_NEAR(curves[1][i], curves[0][i], 0.15 * curves[0][i]) << "at " << distances[i] << " radii";
  }
}

TEST(Glow, AgreesAtEveryDepthAndLeavesLightBeyondFullIntensityUnclipped) {
  const RgbaImage light = flameLight(160, 90);
  HostWorld reference = hostWorldFromImage(light, 32);
  addGlow(reference, glowOf(80, 15, 10), 90);
  for (int bitDepth : {8, 16}) {
    HostWorld frame = hostWorldFromImage(light, bitDepth);
    addGlow(frame, glowOf(80, 15, 10), 90);
    const float step = bitDepth == 8 ? 1.0f / 255.0f : 1.0f / 32768.0f;
    float worst = 0.0f;
    for (int y = 0; y < 90; ++y) {
      for (int x = 0; x < 160; ++x) {
        for (int channel = 1; channel < 4; ++channel) {
          const float expected = std::min(channelAt(reference, x, y, channel), 1.0f);
          worst = std::max(worst, std::fabs(channelAt(frame, x, y, channel) - expected));
        }
      }
    }
    // The input's own rounding, carried through the glow: a couple of steps at most.
    EXPECT_LE(worst, 2.5f * step + 1e-6f) << bitDepth << " bits";
  }

  RgbaImage bright = discOfLight(120, 80, 3.0, 4.0f);
  HostWorld frame = hostWorldFromImage(bright, 32);
  addGlow(frame, glowOf(100, 10), 80);
  EXPECT_GT(channelAt(frame, 60, 40, 1), 4.0f);
  EXPECT_GT(channelAt(frame, 64, 40, 1), 1.0f) << "glow near a light beyond full intensity is clipped";
}

TEST(Glow, SameBitsAtEveryThreadCountAndDepth) {
  const RgbaImage light = flameLight(203, 117);
  for (int bitDepth : {8, 16, 32}) {
    HostWorld single = hostWorldFromImage(light, bitDepth);
    addGlow(single, glowOf(120, 25, 5), 117, 1);
    for (unsigned threads : {2u, 3u, 7u, 0u}) {
      HostWorld shared = hostWorldFromImage(light, bitDepth);
      addGlow(shared, glowOf(120, 25, 5), 117, threads);
      EXPECT_EQ(bytesOf(shared), bytesOf(single)) << bitDepth << " bits, " << threads << " threads";
    }
  }
}

TEST(Glow, ThresholdKeepsDimLightFromGlowing) {
  // Two discs, one dim and one bright: above the dim one's light only the bright one glows.
  RgbaImage image = discOfLight(200, 100, 4.0, 0.3f);
  const RgbaImage bright = discOfLight(200, 100, 4.0, 1.0f);
  for (size_t at = 0; at < image.rgba.size(); at += 4) {
    // The bright disc moved 60 pixels right.
    const size_t pixel = at / 4;
    const int x = static_cast<int>(pixel % 200);
    if (x >= 60) {
      for (int c = 0; c < 4; ++c) {
        image.rgba[at + c] = std::max(image.rgba[at + c], bright.rgba[at - 60 * 4 + c]);
      }
    }
  }
  struct Case {
    double threshold;
    bool dimGlows;
  };
  for (const Case& test : {Case{0, true}, Case{40, false}}) {
    HostWorld frame = hostWorldFromImage(image, 32);
    addGlow(frame, glowOf(100, 10, test.threshold), 100);
    EXPECT_EQ(channelAt(frame, 100 - 8, 50, 1) > 0.0f, test.dimGlows) << "threshold " << test.threshold;
    EXPECT_GT(channelAt(frame, 160 - 8, 50, 1), 0.0f) << "threshold " << test.threshold;
  }
}

TEST(Finishing, OutputAlphaHoldsTheGlowInEveryModeAndDefaultsChangeNothing) {
  const RgbaImage light = flameLight(120, 68);
  struct Case {
    OutputAlpha mode;
    const char* name;
  };
  for (int bitDepth : {8, 16, 32}) {
    for (const Case& test : {Case{OutputAlpha::automatic, "auto"}, Case{OutputAlpha::light, "light"},
                             Case{OutputAlpha::effect, "effect"}}) {
      HostWorld untouched = hostWorldFromImage(light, bitDepth);
      HostWorld plain = hostWorldFromImage(light, bitDepth);
      applyOutputAlpha(plain, test.mode);
      finishFrame(untouched, FinishingValues{}, FinishingFrame{1.0, 0.0, 68.0}, test.mode);
      EXPECT_EQ(bytesOf(untouched), bytesOf(plain)) << bitDepth << " bits, " << test.name;

      HostWorld frame = hostWorldFromImage(light, bitDepth);
      FinishingValues finishing = glowOf(150, 30);
      setFinishingValue(finishing, flickerAmount, 40);
      finishFrame(frame, finishing, FinishingFrame{0.3, 0.0, 68.0}, test.mode);
      // The glow reaches beyond the flames: their alpha grows there.
      int litBeyondAlpha = 0;
      for (int y = 0; y < 68; ++y) {
        for (int x = 0; x < 120; ++x) {
          const float alpha = channelAt(frame, x, y, 0);
          for (int channel = 1; channel < 4; ++channel) {
            ASSERT_LE(std::min(channelAt(frame, x, y, channel), 1.0f), alpha)
                << bitDepth << " bits, " << test.name << " at " << x << "," << y;
          }
          litBeyondAlpha += alpha > channelAt(plain, x, y, 0);
        }
      }
      EXPECT_GT(litBeyondAlpha, 0) << bitDepth << " bits, " << test.name;
    }
  }
}

}  // namespace
