// Compares kernelExp, and the exponential of every fast CPU path this machine has, with the C
// library's expf on every float the renderer can pass it: all non-positive finite floats and -0
// (2,139,095,040 values). Prints how many differ and the first few; exits 1 when any does. Takes
// a minute or two.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cpu/simd_row_shading.h"

int main() {
  constexpr uint32_t kFirst = 0x80000000u;  // -0
  constexpr uint32_t kLast = 0xff7fffffu;   // the most negative finite float
  constexpr size_t kChunk = size_t{1} << 20;
  std::vector<CpuKernel> kernels{CpuKernel::reference};
  for (CpuKernel kernel : {CpuKernel::scalar, CpuKernel::avx2, CpuKernel::avx512}) {
    if (cpuSupports(kernel)) {
      kernels.push_back(kernel);
    }
  }
  std::vector<float> x(kChunk);
  std::vector<float> library(kChunk);
  std::vector<float> ours(kChunk);
  std::vector<uint64_t> differing(kernels.size(), 0);
  uint64_t checked = 0;
  for (uint64_t start = kFirst; start <= kLast; start += kChunk) {
    const size_t count = size_t(std::min<uint64_t>(kChunk, uint64_t(kLast) + 1 - start));
    for (size_t i = 0; i < count; ++i) {
      const uint32_t bits = uint32_t(start + i);
      std::memcpy(&x[i], &bits, sizeof(float));
      library[i] = expf(x[i]);
    }
    checked += count;
    for (size_t k = 0; k < kernels.size(); ++k) {
      kernelExpWith(kernels[k], x.data(), ours.data(), count);
      for (size_t i = 0; i < count; ++i) {
        if (std::memcmp(&ours[i], &library[i], sizeof(float)) != 0) {
          if (differing[k] < 10) {
            std::printf("%s: x = %a: ours %a, expf %a\n", cpuKernelName(kernels[k]), double(x[i]),
                        double(ours[i]), double(library[i]));
          }
          ++differing[k];
        }
      }
    }
  }
  bool same = true;
  for (size_t k = 0; k < kernels.size(); ++k) {
    std::printf("%s: %llu non-positive floats checked, %llu differ from expf\n", cpuKernelName(kernels[k]),
                static_cast<unsigned long long>(checked), static_cast<unsigned long long>(differing[k]));
    same = same && differing[k] == 0;
  }
  return same ? 0 : 1;
}
