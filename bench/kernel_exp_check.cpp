// Compares kernelExp with the C library's expf on every float the renderer can pass it: all
// non-positive finite floats and -0 (2,139,095,040 values). Prints how many differ and the first
// few; exits 1 when any does. Takes a minute or so on one core.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cpu/kernel_compat.h"

int main() {
  uint64_t checked = 0;
  uint64_t differing = 0;
  // Bit patterns 0x80000000 (-0) up to 0xff7fffff (the most negative finite float).
  for (uint32_t bits = 0x80000000u; bits <= 0xff7fffffu; ++bits) {
    float x;
    std::memcpy(&x, &bits, sizeof x);
    const float ours = kernelExp(x);
    const float library = expf(x);
    ++checked;
    if (std::memcmp(&ours, &library, sizeof ours) != 0) {
      if (differing < 10) {
        std::printf("x = %a: kernelExp %a, expf %a\n", double(x), double(ours), double(library));
      }
      ++differing;
    }
  }
  std::printf("%llu non-positive floats checked, %llu differ from expf\n",
              static_cast<unsigned long long>(checked), static_cast<unsigned long long>(differing));
  return differing == 0 ? 0 : 1;
}
