// An integer hash's last step: mixes every bit of the input into every bit of the output, so that
// neighbouring inputs (cells, pixels) give unrelated values. The constants are a well-tested
// 32-bit finalizer (two multiplies, three xor-shifts).
#pragma once

#include <cstdint>

inline uint32_t mixBits(uint32_t h) {
  h ^= h >> 16;
  h *= 0x7feb352du;
  h ^= h >> 15;
  h *= 0x846ca68bu;
  h ^= h >> 16;
  return h;
}
