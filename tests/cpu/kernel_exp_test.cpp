#include "cpu/kernel_compat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

uint32_t bitsOf(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

TEST(KernelExp, EdgeValues) {
  const float infinity = std::numeric_limits<float>::infinity();
  struct Case {
    float x;
    float expected;
  };
  const Case cases[] = {
      {-0.0f, 1.0f},
      {0.0f, 1.0f},
      {-1e-30f, 1.0f},
      {-infinity, 0.0f},
      {infinity, infinity},
      {-1e30f, 0.0f},
      {1e30f, infinity},
      // The most negative input that does not round to zero gives the smallest subnormal.
      {-103.97207641601562f, 0x1p-149f},
      {std::nextafter(-103.97207641601562f, -infinity), 0.0f},
      {-1.0f, 0.36787945f},
      {1.0f, 2.7182817f},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bitsOf(kernelExp(c.x)), bitsOf(c.expected)) << "x = " << c.x;
  }
  EXPECT_TRUE(std::isnan(kernelExp(std::numeric_limits<float>::quiet_NaN())));
}

// Every 1009th float, both signs, including the subnormal results near -103 and the overflow
// near 88.7; bench/kernel_exp_check.cpp covers all non-positive floats.
TEST(KernelExp, MatchesTheLibraryOnASweepOfFloats) {
  for (uint64_t bits = 0; bits < 0x100000000ull; bits += 1009) {
    float x;
    const uint32_t pattern = uint32_t(bits);
    std::memcpy(&x, &pattern, sizeof x);
    if (std::isnan(x)) {
      continue;
    }
    ASSERT_EQ(bitsOf(kernelExp(x)), bitsOf(expf(x))) << std::hexfloat << "x = " << x;
  }
}

}  // namespace
