#include "cpu/value_noise.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

TEST(NoiseHash, KnownValues) {
  struct Case {
    float n;
    float expected;
  };
  const Case cases[] = {
      {0.0f, 0.0f},
      {1.0f, 0.546875f},
      // Negative h still lands in [0, 1): h = -36821.546875 gives 0.453125.
      {-1.0f, 0.453125f},
      {57.0f, 0.935546875f},
      {454.0f, 0.7890625f},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(noiseHash(c.n), c.expected) << "n = " << c.n;
  }
}

TEST(NoiseHash, StaysInUnitInterval) {
  for (int i = -5000; i <= 5000; ++i) {
    const float n = float(i) * 37.25f;
    const float h = noiseHash(n);
    ASSERT_GE(h, 0.0f) << n;
    ASSERT_LT(h, 1.0f) << n;
  }
}

TEST(ValueNoise, LatticePointsGiveTheirHash) {
  struct Case {
    float x, y, z;
  };
  const Case cases[] = {{1, 2, 3}, {0, 0, 0}, {-3, 5, -2}, {17, -4, 9}};
  for (const Case& c : cases) {
    const float n = (c.y * 57.0f + c.x) + c.z * 113.0f;
    EXPECT_EQ(valueNoise(make_float3(c.x, c.y, c.z), 0), noiseHash(n))
        << c.x << ", " << c.y << ", " << c.z;
  }
  EXPECT_EQ(valueNoise(make_float3(1, 2, 3), 0), 0.7890625f);
  EXPECT_EQ(valueNoise(make_float3(0, 0, 0), 0), 0.0f);
}

TEST(ValueNoise, NegativeCoordinateFallsIntoTheCellBelow) {
  // x = -0.25 lies in cell -1 with fraction 0.75: weight (3 - 1.5) * 0.5625 = 0.84375 on cell 0.
  // hash(-1) = 0.453125 and hash(0) = 0, so the blend is 0.453125 * 0.15625.
  EXPECT_EQ(valueNoise(make_float3(-0.25f, 0.0f, 0.0f), 0), 0.07080078125f);
  // Blending cells 0 and 1 instead would give a value between hash(0) and hash(1) near hash(0).
  EXPECT_NE(valueNoise(make_float3(-0.25f, 0.0f, 0.0f), 0),
            valueNoise(make_float3(0.25f, 0.0f, 0.0f), 0));
}

TEST(ValueNoise, IsContinuousAcrossCellFaces) {
  const float3 inside = make_float3(nextafterf(2.0f, 1.0f), 0.3f, -1.7f);
  const float3 onFace = make_float3(2.0f, 0.3f, -1.7f);
  EXPECT_NEAR(valueNoise(inside, 0), valueNoise(onFace, 0), 1e-5f);
}

TEST(Fbm, OriginIsZeroAndRangeIsBelowFifteenSixteenths) {
  EXPECT_EQ(fbm(make_float3(0, 0, 0)), 0.0f);
  float lowest = 1.0f;
  float highest = 0.0f;
  for (int i = 0; i < 4000; ++i) {
    const float3 p = make_float3(float(i) * 0.173f - 300.0f, float(i % 97) * 0.61f,
                                 float(i % 13) * -1.37f);
    const float v = fbm(p);
    lowest = std::min(lowest, v);
    highest = std::max(highest, v);
  }
  EXPECT_GE(lowest, 0.0f);
  EXPECT_LT(highest, 0.9375f);
  // The octaves really vary: a broken rotation or weight would squeeze the range.
  EXPECT_GT(highest - lowest, 0.4f);
}

}  // namespace
