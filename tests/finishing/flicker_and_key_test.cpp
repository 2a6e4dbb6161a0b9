#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "finishing/finishing.h"
#include "finishing/pixel_samples.h"
#include "frei0r/plugin_params.h"

namespace {

FinishingValues flickerOf(double amount, double speed, double tips = 0.0) {
  FinishingValues finishing;
  setFinishingValue(finishing, flickerAmount, amount);
  setFinishingValue(finishing, flickerSpeed, speed);
  setFinishingValue(finishing, flickerTips, tips);
  return finishing;
}

TEST(Flicker, VariesTheLightLikeFireWithinEachSecond) {
  // Two minutes at 24 fps: each second's swing (largest less smallest gain, over the mean) and the
  // peaks a second, as fire is measured: 10-25% within a second at 1-10 Hz.
  constexpr int fps = 24;
  for (double speed : {1.0, 2.0, 4.0, 8.0}) {
    const FinishingValues finishing = flickerOf(20, speed);
    std::vector<double> gains;
    for (int frame = 0; frame < fps * 120; ++frame) {
      gains.push_back(flickerGain(finishing, static_cast<double>(frame) / fps, 0.0));
    }
    std::vector<double> swings;
    for (size_t start = 0; start + fps <= gains.size(); start += fps) {
      const auto [low, high] = std::minmax_element(gains.begin() + start, gains.begin() + start + fps);
      double sum = 0.0;
      for (size_t i = start; i < start + fps; ++i) {
        sum += gains[i];
      }
      swings.push_back((*high - *low) / (sum / fps));
    }
    std::sort(swings.begin(), swings.end());
    const double medianSwing = swings[swings.size() / 2];
    EXPECT_GE(medianSwing, 0.10) << speed << " Hz";
    EXPECT_LE(medianSwing, 0.30) << speed << " Hz";
    int peaks = 0;
    for (size_t i = 1; i + 1 < gains.size(); ++i) {
      peaks += gains[i] > gains[i - 1] && gains[i] >= gains[i + 1];
    }
    EXPECT_GE(peaks / 120.0, 1.0) << speed << " Hz";
    EXPECT_LE(peaks / 120.0, 10.0) << speed << " Hz";
    for (double gain : gains) {
      ASSERT_GE(gain, 0.8);
      ASSERT_LE(gain, 1.2);
    }
  }
}

TEST(Flicker, PureFunctionOfTimeThatRepeatsOverALoopWithoutASeam) {
  const FinishingValues finishing = flickerOf(25, 3);
  struct Case {
    long loopFrames;
    double fps;
  };
  for (const Case& test : {Case{120, 24.0}, Case{48, 24.0}, Case{100, 30000.0 / 1001.0}}) {
    const double loopSeconds = test.loopFrames / test.fps;
    double largestStep = 0.0;
    for (long frame = 1; frame < test.loopFrames; ++frame) {
      const double now = flickerGain(finishing, frame / test.fps, loopSeconds);
      largestStep = std::max(largestStep, std::fabs(now - flickerGain(finishing, (frame - 1) / test.fps, loopSeconds)));
      // Asked again: the same value; one loop later: the same but for the time's own rounding.
      EXPECT_NEAR(flickerGain(finishing, (frame + test.loopFrames) / test.fps, loopSeconds), now, 1e-9);
      EXPECT_EQ(flickerGain(finishing, frame / test.fps, loopSeconds), now);
    }
    const double seam = std::fabs(flickerGain(finishing, 0.0, loopSeconds) -
                                  flickerGain(finishing, (test.loopFrames - 1) / test.fps, loopSeconds));
    // The seam is one more step of the same curve: no larger than the loop's others, give or take.
    EXPECT_LE(seam, 1.25 * largestStep) << test.loopFrames << " frames";
  }
  EXPECT_EQ(flickerGain(flickerOf(0, 3), 1.25, 0.0), 1.0);
}

TEST(Flicker, TipsSwingMoreThanTheCore) {
  // A bright core pixel and a faint tip pixel, at a time where the light dips.
  const FinishingValues plain = flickerOf(30, 2, 0);
  double seconds = 0.0;
  while (flickerGain(plain, seconds, 0.0) > 0.85) {
    seconds += 1.0 / 24.0;
  }
  for (double tips : {0.0, 100.0}) {
    RgbaImage image{2, 1, {0.9f, 0.6f, 0.2f, 1.0f, 0.1f, 0.05f, 0.01f, 0.2f}};
    HostWorld frame = hostWorldFromImage(image, 32);
    applyFlicker(frame, flickerOf(30, 2, tips), FinishingFrame{seconds, 0.0, 1.0});
    const float core = readSample<float>(pixelAddress(frame.world, 0, 0, 32) + 4) / 0.9f;
    const float tip = readSample<float>(pixelAddress(frame.world, 1, 0, 32) + 4) / 0.1f;
    if (tips == 0.0) {
      EXPECT_FLOAT_EQ(tip, core);
    } else {
      EXPECT_LT(tip, core - 0.5f * (1.0f - core)) << "the tip dips less than half again as much as the core";
    }
  }
}

// The editors' filter default key: the frei0r plug-ins' default for "Emitter Key/Key" and its points.
FinishingValues editorsKey() {
  FinishingValues finishing;
  for (const PluginFinishingDefault& own : pluginFinishingDefaults) {
    setFinishingValue(finishing, own.control, own.value);
  }
  return finishing;
}

// The share of pixels whose value the effect reads, after the key, burns fully (25% and more).
double burnedShare(const std::vector<float>& lumas, const FinishingValues& finishing) {
  RgbaImage image{static_cast<int>(lumas.size()), 1, {}};
  for (float luma : lumas) {
    // A warm colour of this luma, opaque.
    image.rgba.insert(image.rgba.end(), {std::min(1.0f, luma * 1.2f), luma * 0.95f, luma * 0.7f, 1.0f});
  }
  HostWorld layer = hostWorldFromImage(image, 8);
  keyEmitterLayer(layer, finishing, EmitterChannel::luma);
  int burned = 0;
  for (int x = 0; x < layer.world.width; ++x) {
    const std::byte* pixel = pixelAddress(layer.world, x, 0, 8);
    const float red = static_cast<float>(pixel[1]) / 255.0f;
    const float green = static_cast<float>(pixel[2]) / 255.0f;
    const float blue = static_cast<float>(pixel[3]) / 255.0f;
    burned += (red * 0.2125f + green * 0.7154f) + blue * 0.0721f >= 0.25f;
  }
  return static_cast<double>(burned) / layer.world.width;
}

// Lumas spread evenly over [low, high].
std::vector<float> lumaSpread(float low, float high, int count) {
  std::vector<float> lumas;
  for (int i = 0; i < count; ++i) {
    lumas.push_back(low + (high - low) * (static_cast<float>(i) + 0.5f) / static_cast<float>(count));
  }
  return lumas;
}

TEST(EmitterKey, EditorsDefaultBurnsDaylightHighlightsAndADarkClipsLights) {
  // Luma distributions as measured on photographs: a sunlit scene (nearly all above 25%, an eighth
  // in highlights) and a night scene (dark, with a few lights).
  std::vector<float> sunlit = lumaSpread(0.3f, 0.75f, 870);
  const std::vector<float> highlights = lumaSpread(0.8f, 1.0f, 130);
  sunlit.insert(sunlit.end(), highlights.begin(), highlights.end());
  std::vector<float> night = lumaSpread(0.0f, 0.25f, 950);
  const std::vector<float> lights = lumaSpread(0.92f, 1.0f, 50);
  night.insert(night.end(), lights.begin(), lights.end());

  struct Case {
    const char* name;
    const std::vector<float>& lumas;
    double keyOff;       // burned share without the key
    double keyedAtMost;  // with the editors' default
    double keyedAtLeast;
  };
  for (const Case& test : {Case{"sunlit", sunlit, 0.99, 0.15, 0.05}, Case{"night", night, 0.04, 0.05, 0.045}}) {
    EXPECT_GE(burnedShare(test.lumas, FinishingValues{}), test.keyOff) << test.name;
    const double keyed = burnedShare(test.lumas, editorsKey());
    EXPECT_LE(keyed, test.keyedAtMost) << test.name;
    EXPECT_GE(keyed, test.keyedAtLeast) << test.name;
  }
}

TEST(EmitterKey, LevelsAndThresholdOnAlphaKeepColourPremultiplied) {
  struct Case {
    int mode;
    double first;  // black point or threshold, %
    double second;  // white point or softness, %
    float alpha;
    float expected;
  };
  const Case cases[] = {
      {emitterKeyLevels, 20, 60, 0.1f, 0.0f},         {emitterKeyLevels, 20, 60, 0.4f, 0.5f},
      {emitterKeyLevels, 20, 60, 0.8f, 1.0f},         {emitterKeyThresholdMode, 50, 0, 0.49f, 0.0f},
      {emitterKeyThresholdMode, 50, 0, 0.51f, 1.0f},  {emitterKeyThresholdMode, 50, 20, 0.5f, 0.5f},
      {emitterKeyThresholdMode, 50, 20, 0.39f, 0.0f}, {emitterKeyOff, 50, 20, 0.3f, 0.3f},
  };
  for (const Case& test : cases) {
    FinishingValues finishing;
    setFinishingValue(finishing, emitterKeyMode, test.mode);
    setFinishingValue(finishing, test.mode == emitterKeyLevels ? emitterKeyBlackPoint : emitterKeyThreshold, test.first);
    setFinishingValue(finishing, test.mode == emitterKeyLevels ? emitterKeyWhitePoint : emitterKeySoftness, test.second);
    RgbaImage image{1, 1, {test.alpha * 0.5f, test.alpha * 0.25f, test.alpha, test.alpha}};
    HostWorld layer = hostWorldFromImage(image, 32);
    keyEmitterLayer(layer, finishing, EmitterChannel::alpha);
    const std::byte* pixel = pixelAddress(layer.world, 0, 0, 32);
    const float alpha = readSample<float>(pixel);
    EXPECT_NEAR(alpha, test.expected, 1e-6f) << test.mode << " at " << test.alpha;
    EXPECT_NEAR(readSample<float>(pixel + 12), alpha, 1e-6f) << "blue, as opaque as the pixel";
    EXPECT_NEAR(readSample<float>(pixel + 4), alpha * 0.5f, 1e-6f);
  }
}

}  // namespace
