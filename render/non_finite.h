#pragma once

#include <bit>
#include <cstdint>

// True when every exponent bit is set (an infinity or a NaN): the bit test the validation rules
// are stated in, independent of how the compiler treats floating-point classification.
inline bool isNonFinite(float value) {
  return (std::bit_cast<uint32_t>(value) & 0x7F800000u) == 0x7F800000u;
}
inline bool isNonFinite(double value) {
  return (std::bit_cast<uint64_t>(value) & 0x7FF0000000000000ull) == 0x7FF0000000000000ull;
}
