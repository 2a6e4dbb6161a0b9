#include "cpu/kernel_compat.h"
#include "cpu/simd_row_shading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

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
// near 88.7, on every path (the fast ones fuse the double-precision steps); bench/
// kernel_exp_check.cpp covers all non-positive floats.
TEST(KernelExp, EveryPathMatchesTheLibraryOnASweepOfFloats) {
  std::vector<float> x;
  for (uint64_t bits = 0; bits < 0x100000000ull; bits += 1009) {
    float value;
    const uint32_t pattern = uint32_t(bits);
    std::memcpy(&value, &pattern, sizeof value);
    if (!std::isnan(value)) {
      x.push_back(value);
    }
  }
  std::vector<float> result(x.size());
  for (CpuKernel kernel : {CpuKernel::reference, CpuKernel::scalar, CpuKernel::avx2, CpuKernel::avx512}) {
    if (!cpuSupports(kernel)) {
      continue;
    }
    // A count that leaves the last vector partly filled.
    const size_t count = x.size() - x.size() % 16 - 3;
    kernelExpWith(kernel, x.data(), result.data(), count);
    for (size_t i = 0; i < count; ++i) {
      ASSERT_EQ(bitsOf(result[i]), bitsOf(expf(x[i]))) << cpuKernelName(kernel) << std::hexfloat << ": x = " << x[i];
    }
  }
}

}  // namespace
