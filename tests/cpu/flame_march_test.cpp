#include "cpu/flame_march.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/cpu/test_settings.h"

namespace {

EmitterMatte uniformMatte(int width, int height, float value, float age) {
  EmitterMatte matte;
  matte.width = width;
  matte.height = height;
  matte.cells.assign(size_t(width) * size_t(height), MatteCell{value, age});
  return matte;
}

TEST(SampleMatte, BlendsBilinearlyWithZeroOutsideTheField) {
  EmitterMatte matte;
  matte.width = 3;
  matte.height = 2;
  matte.cells = {{0.5f, 2.0f}, {1.0f, 4.0f}, {0.25f, 8.0f},
                 {0.75f, 1.0f}, {0.0f, 0.0f}, {1.0f, 16.0f}};
  const EmitterMatteView view = viewOf(matte);
  struct Case {
    float x, y;
    float value, age;
  };
  const Case cases[] = {
      {0.0f, 0.0f, 0.5f, 2.0f},
      {2.0f, 1.0f, 1.0f, 16.0f},     // last cell exactly
      {-0.5f, 0.0f, 0.25f, 1.0f},    // half of cell (0, 0), half of the zero cell left of it
      {-1.0f, 0.0f, 0.0f, 0.0f},     // entirely the outside column
      {0.5f, 0.0f, 0.75f, 3.0f},     // between the first two cells of the top row
      {0.0f, 0.5f, 0.625f, 1.5f},    // between the two rows of the first column
      {0.5f, 0.5f, 0.5625f, 1.75f},  // the four cells of the first column pair
      {2.5f, 1.0f, 0.5f, 8.0f},      // half of the last cell, half outside on the right
      {1.0f, 1.75f, 0.0f, 0.0f},     // a quarter of row 1, three quarters of the row below the field
      {1.0f, 1.5f, 0.0f, 0.0f},
      {2.0f, 1.5f, 0.5f, 8.0f},
  };
  for (const Case& c : cases) {
    const MatteCell m = sampleMatte(view, c.x, c.y);
    EXPECT_EQ(m.value, c.value) << c.x << ", " << c.y;
    EXPECT_EQ(m.age, c.age) << c.x << ", " << c.y;
  }
}

TEST(SampleMatte, EmptyMatteReadsZero) {
  const EmitterMatte empty;
  const MatteCell m = sampleMatte(viewOf(empty), 0.25f, 0.75f);
  EXPECT_EQ(m.value, 0.0f);
  EXPECT_EQ(m.age, 0.0f);
}

// A ramp whose premultiplied red grows as the square of the coordinate from 0: the step average
// over [0, h] is a third of the end value's, the midpoint's a quarter, far apart.
FlameSettings quadraticRampSettings() {
  FlameSettings s = testSettings(4, 4, 0, true);
  s.color0 = make_float4(0, 0, 0, 0);
  s.color1 = make_float4(10, 0, 0, 1);
  fillIntegralBase(s);
  return s;
}

TEST(MarchSample, SmoothStepsBelowOneThousandthUseTheMidpoint) {
  const FlameSettings s = quadraticRampSettings();
  struct Case {
    float s;
    float redPerAlpha;  // premultiplied red over alpha of the contribution
  };
  // Red over alpha of the ramp at coordinate t is 40 t; the average weights the far end more.
  const Case cases[] = {
      {0.001f, 40.0f * 0.001f * 2.0f / 3.0f},                    // exactly 0.001: quotient
      {nextafterf(0.001f, 0.0f), 40.0f * 0.0005f},                // just below: midpoint
      {0.002f, 40.0f * 0.002f * 2.0f / 3.0f},
  };
  for (const Case& c : cases) {
    MarchState state = startMarch(0.0f, s);
    state = marchSample(state, c.s, 1.0f, s);
    EXPECT_NEAR(state.accumulator.x / state.accumulator.w, c.redPerAlpha, 1e-4f) << c.s;
    EXPECT_EQ(state.sPrev, c.s);
  }
}

TEST(MarchSample, CompositesFrontToBackWithoutEarlyExit) {
  FlameSettings s = testSettings(4, 4, 0, false);
  s.color0 = make_float4(1, 0.5f, 0, 1);
  MarchState state = startMarch(0.0f, s);
  // Fully opaque first sample: nothing behind it shows.
  state = marchSample(state, -1.0f, 1.0f, s);
  state = marchSample(state, 0.25f, 1.0f, s);
  EXPECT_EQ(state.accumulator.x, 1.0f);
  EXPECT_EQ(state.accumulator.y, 0.5f);
  EXPECT_EQ(state.accumulator.w, 1.0f);
  // Half opacity twice: 0.5 then 0.5 of the remaining 0.5.
  state = startMarch(0.0f, s);
  state = marchSample(state, -1.0f, 0.5f, s);
  state = marchSample(state, -1.0f, 0.5f, s);
  EXPECT_EQ(state.accumulator.w, 0.75f);
  EXPECT_EQ(state.accumulator.x, 0.75f);
}

TEST(MarchSample, SmoothOpacityFollowsTheExponentialLaw) {
  FlameSettings s = testSettings(4, 4, 0, true);
  s.color0 = make_float4(1, 1, 1, 1);
  fillIntegralBase(s);
  const float alphas[] = {0.0005f, 0.00099f, 0.001f, 0.5f, 3.0f};
  for (float alpha : alphas) {
    MarchState state = startMarch(-2.0f, s);
    state = marchSample(state, -1.0f, alpha, s);
    EXPECT_NEAR(state.accumulator.w, 1.0f - std::exp(-double(alpha)), 1e-6) << alpha;
    EXPECT_NEAR(state.accumulator.x, state.accumulator.w, 1e-6) << alpha;
  }
}

TEST(ShadePixel, ZeroDensityLeavesOnlyTheAdjustedBlack) {
  const float4 black = make_float4(0, 0, 0, 0);
  for (uint32_t smooth = 0; smooth < 2; ++smooth) {
    FlameSettings volume = testSettings(8, 8, 0, smooth != 0);
    volume.density = 0.0f;
    const float4 adjustedBlack = adjustColor(black, volume, false);
    const float4 v = shadeVolumePixel(3, 4, volume);
    EXPECT_EQ(v.x, adjustedBlack.x);
    EXPECT_EQ(v.y, adjustedBlack.y);
    EXPECT_EQ(v.z, adjustedBlack.z);
    EXPECT_EQ(v.w, 1.0f);

    FlameSettings layer = testSettings(8, 8, 1, smooth != 0);
    layer.density = 0.0f;
    const EmitterMatte matte = uniformMatte(8, 8, 0.125f, 0.0f);
    const float4 q = adjustColor(black, layer, true);
    const float4 l = shadeLayerPixel(3, 4, layer, viewOf(matte));
    EXPECT_EQ(l.x, q.x * 0.5f);
    EXPECT_EQ(l.y, q.y * 0.5f);
    EXPECT_EQ(l.z, q.z * 0.5f);
    EXPECT_EQ(l.w, q.w * 0.5f);
  }
}

TEST(ShadeLayerPixel, TransparentWhereTheMatteIsOutOfReachOrEmpty) {
  FlameSettings s = testSettings(8, 8, 1, true);
  const EmitterMatte full = uniformMatte(8, 8, 1.0f, 0.0f);
  const EmitterMatte weak = uniformMatte(8, 8, 0.0009f, 0.0f);
  struct Case {
    const char* name;
    float originX, originY;
    const EmitterMatte* matte;
    int x, y;
    bool transparent;
  };
  const Case cases[] = {
      {"inside", 0, 0, &full, 3, 3, false},
      {"at -1", -1, 0, &full, 0, 3, true},
      {"between -1 and 0 still blends", -0.5f, 0, &full, 0, 3, false},
      {"at the right edge", 8, 0, &full, 0, 3, true},
      {"at the bottom edge", 0, 8, &full, 3, 0, true},
      {"above the top by one", 0, -1, &full, 3, 0, true},
      {"value below 0.001", 0, 0, &weak, 3, 3, true},
  };
  for (const Case& c : cases) {
    s.originX = c.originX;
    s.originY = c.originY;
    const float4 p = shadeLayerPixel(c.x, c.y, s, viewOf(*c.matte));
    if (c.transparent) {
      EXPECT_EQ(p.x, 0.0f) << c.name;
      EXPECT_EQ(p.w, 0.0f) << c.name;
    } else {
      EXPECT_GT(p.w, 0.0f) << c.name;
    }
    EXPECT_LE(p.x, p.w) << c.name;
    EXPECT_LE(p.y, p.w) << c.name;
    EXPECT_LE(p.z, p.w) << c.name;
  }
}

TEST(ShadeLayerPixel, NoiseStandsStillWhenRiseSpeedEqualsNoiseDirectionY) {
  EmitterMatte matte = uniformMatte(12, 12, 0.0f, 0.0f);
  for (int i = 0; i < 144; ++i) {
    matte.cells[i] = MatteCell{float(i % 7) / 6.0f, float(i % 5)};
  }
  FlameSettings still = testSettings(12, 12, 2, true);
  still.animX = 0.0f;
  still.animZ = 0.0f;
  still.riseSpeed = still.animY;
  FlameSettings later = still;
  later.time = still.time + 5.0f;
  FlameSettings rising = later;
  rising.riseSpeed = 1.5f;
  int differing = 0;
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 12; ++x) {
      const float4 a = shadeLayerPixel(x, y, still, viewOf(matte));
      const float4 b = shadeLayerPixel(x, y, later, viewOf(matte));
      const float4 c = shadeLayerPixel(x, y, rising, viewOf(matte));
      EXPECT_EQ(a.x, b.x);
      EXPECT_EQ(a.w, b.w);
      differing += (a.x != c.x || a.w != c.w) ? 1 : 0;
    }
  }
  EXPECT_GT(differing, 0);
}

}  // namespace
