#include "cpu/colour_shaping.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/cpu/test_settings.h"

namespace {

void expectColourEq(float4 actual, float4 expected, const char* what) {
  EXPECT_EQ(actual.x, expected.x) << what;
  EXPECT_EQ(actual.y, expected.y) << what;
  EXPECT_EQ(actual.z, expected.z) << what;
  EXPECT_EQ(actual.w, expected.w) << what;
}

void expectColourNear(float4 actual, float4 expected, float tolerance, const char* what) {
  EXPECT_NEAR(actual.x, expected.x, tolerance) << what;
  EXPECT_NEAR(actual.y, expected.y, tolerance) << what;
  EXPECT_NEAR(actual.z, expected.z, tolerance) << what;
  EXPECT_NEAR(actual.w, expected.w, tolerance) << what;
}

TEST(PaletteColor, KnotsBelongToTheUpperSegment) {
  const FlameSettings s = testSettings(4, 4, 0, false);
  const float4 clear = make_float4(0, 0, 0, 0);
  expectColourEq(paletteColor(-3.0f, s), s.color0, "negative");
  expectColourEq(paletteColor(0.0f, s), s.color0, "0");
  expectColourEq(paletteColor(0.25f, s), s.color1, "0.25");
  expectColourEq(paletteColor(0.5f, s), clear, "0.5");
  expectColourEq(paletteColor(0.75f, s), s.color3, "0.75");
  expectColourEq(paletteColor(1.0f, s), paletteColor(0.999f, s), "1");
  expectColourEq(paletteColor(40.0f, s), paletteColor(0.999f, s), "40");
  // At 0.999 the last segment's fraction is 0.996: color3 almost faded out.
  expectColourNear(paletteColor(0.999f, s),
                   make_float4(s.color3.x * 0.004f, s.color3.y * 0.004f, 0.0f,
                               s.color3.w * 0.004f),
                   1e-6f, "0.999");
  // Mid-segment: halfway from color0 to color1, and color1 half faded.
  expectColourEq(paletteColor(0.125f, s),
                 make_float4((s.color1.x - s.color0.x) * 0.5f + s.color0.x,
                             (s.color1.y - s.color0.y) * 0.5f + s.color0.y, 0.0f,
                             (s.color1.w - s.color0.w) * 0.5f + s.color0.w),
                 "0.125");
  expectColourEq(paletteColor(0.375f, s),
                 make_float4(s.color1.x * 0.5f, s.color1.y * 0.5f, 0.0f, s.color1.w * 0.5f),
                 "0.375");
}

TEST(SegmentIntegral, FillsTheTableForAPlainRedPalette) {
  FlameSettings s = testSettings(4, 4, 0, false);
  s.color0 = s.color1 = s.color3 = make_float4(1, 0, 0, 1);
  fillIntegralBase(s);
  expectColourEq(s.integralBase[0], make_float4(0, 0, 0, 0), "base 0");
  expectColourEq(s.integralBase[1], make_float4(0.25f, 0, 0, 0.25f), "base 1");
  EXPECT_FLOAT_EQ(s.integralBase[2].x, 0.3333333f);
  EXPECT_EQ(s.integralBase[2].w, 0.375f);
  EXPECT_FLOAT_EQ(s.integralBase[3].x, 0.4166667f);
  EXPECT_EQ(s.integralBase[3].w, 0.5f);
}

TEST(PaletteIntegral, IsContinuousAtEveryKnot) {
  const FlameSettings s = testSettings(4, 4, 0, false);
  const float knots[] = {0.0f, 0.25f, 0.5f, 0.75f, 0.999f};
  for (float knot : knots) {
    const float4 below = paletteIntegral(nextafterf(knot, -1.0f), s);
    const float4 at = paletteIntegral(knot, s);
    expectColourNear(below, at, 1e-5f, "knot");
  }
  expectColourEq(paletteIntegral(0.0f, s), make_float4(0, 0, 0, 0), "0");
}

TEST(PaletteIntegral, ExtendsLinearlyBeyondBothEnds) {
  const FlameSettings s = testSettings(4, 4, 0, false);
  const float4 c0 = s.color0;
  const float4 premultiplied0 = make_float4(c0.x * c0.w, c0.y * c0.w, c0.z * c0.w, c0.w);
  expectColourEq(paletteIntegral(-2.0f, s),
                 make_float4(premultiplied0.x * -2.0f, premultiplied0.y * -2.0f, 0.0f, -0.8f),
                 "-2");
  // A step that stays below 0 averages to color0 premultiplied.
  const float4 low = paletteIntegral(-0.7f, s);
  const float4 high = paletteIntegral(-0.2f, s);
  const float w = 1.0f / (-0.2f - -0.7f);
  expectColourNear(make_float4((high.x - low.x) * w, (high.y - low.y) * w, (high.z - low.z) * w,
                               (high.w - low.w) * w),
                   premultiplied0, 1e-6f, "average below 0");
  // Beyond 0.999 it grows by the premultiplied colour at 0.999 per unit.
  const float4 e = paletteColor(0.999f, s);
  const float4 end = paletteIntegral(0.999f, s);
  const float4 beyond = paletteIntegral(2.999f, s);
  expectColourNear(make_float4(beyond.x - end.x, beyond.y - end.y, 0.0f, beyond.w - end.w),
                   make_float4(e.x * e.w * 2.0f, e.y * e.w * 2.0f, 0.0f, e.w * 2.0f), 1e-6f,
                   "beyond 0.999");
}

TEST(PaletteIntegral, MatchesANumericalIntegralOfTheRamp) {
  const FlameSettings s = testSettings(4, 4, 0, false);
  double sum[4] = {0, 0, 0, 0};
  const int samples = 20000;
  for (int i = 0; i < samples; ++i) {
    const float t = (float(i) + 0.5f) / float(samples) * 0.999f;
    const float4 q = paletteColor(t, s);
    sum[0] += double(q.x) * q.w;
    sum[1] += double(q.y) * q.w;
    sum[3] += q.w;
  }
  const double dt = 0.999 / samples;
  const float4 integral = paletteIntegral(0.999f, s);
  EXPECT_NEAR(integral.x, sum[0] * dt, 1e-4);
  EXPECT_NEAR(integral.y, sum[1] * dt, 1e-4);
  EXPECT_NEAR(integral.w, sum[3] * dt, 1e-4);
}

TEST(AdjustColor, EachKnobOnItsOwn) {
  struct Case {
    const char* name;
    float saturation, contrast, brightness, tint, tintR;
    float4 input;
    float4 expected;  // alpha from colour
  };
  const Case cases[] = {
      {"identity clamps", 1, 1, 1, 0, 1, make_float4(2.0f, -1.0f, 0.0f, 0.3f),
       make_float4(1, 0, 0, 1)},
      {"identity keeps", 1, 1, 1, 0, 1, make_float4(1.0f, 0.0f, 0.0f, 0.3f),
       make_float4(1, 0, 0, 1)},
      {"black is transparent", 1, 1, 1, 0, 1, make_float4(0, 0, 0, 1), make_float4(0, 0, 0, 0)},
      {"saturation 0 gives luma", 0, 1, 1, 0, 1, make_float4(1, 0, 0, 0),
       make_float4(0.2125f, 0.2125f, 0.2125f, 0.2125f)},
      {"contrast about 0.5", 1, 2, 1, 0, 1, make_float4(0.75f, 0.5f, 0.25f, 0),
       make_float4(1.0f, 0.5f, 0.0f, 1.0f)},
      {"brightness adds", 1, 1, 1.25f, 0, 1, make_float4(0.5f, 0.25f, 0.0f, 0),
       make_float4(0.75f, 0.5f, 0.25f, 0.75f)},
      {"full tint multiplies", 1, 1, 1, 1, 1.5f, make_float4(0.5f, 0.5f, 0.5f, 0),
       make_float4(0.75f, 0.5f, 0.5f, 0.75f)},
      {"half tint", 1, 1, 1, 0.5f, 0.0f, make_float4(0.5f, 0.0f, 0.0f, 0),
       make_float4(0.25f, 0.0f, 0.0f, 0.25f)},
  };
  for (const Case& c : cases) {
    FlameSettings s = testSettings(4, 4, 1, false);
    s.saturation = c.saturation;
    s.contrast = c.contrast;
    s.brightness = c.brightness;
    s.tint = c.tint;
    s.tintR = c.tintR;
    s.tintG = 1.0f;
    s.tintB = 1.0f;
    const float4 layer = adjustColor(c.input, s, true);
    EXPECT_FLOAT_EQ(layer.x, c.expected.x) << c.name;
    EXPECT_FLOAT_EQ(layer.y, c.expected.y) << c.name;
    EXPECT_FLOAT_EQ(layer.z, c.expected.z) << c.name;
    EXPECT_FLOAT_EQ(layer.w, c.expected.w) << c.name;
    const float4 volume = adjustColor(c.input, s, false);
    EXPECT_EQ(volume.x, layer.x) << c.name;
    EXPECT_EQ(volume.w, 1.0f) << c.name;
  }
}

}  // namespace
