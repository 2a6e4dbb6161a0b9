// Emitter mattes for renderer tests, filled cell by cell so that each test picks the structure
// its comparison needs.
#pragma once

#include <algorithm>
#include <cstdint>

#include "cpu/emitter_matte.h"

// A width x height matte whose cell at column x, row y (row 0 at the top) is cellAt(x, y).
template <typename CellAt>
EmitterMatte makeMatte(int32_t width, int32_t height, CellAt cellAt) {
  EmitterMatte matte;
  matte.width = width;
  matte.height = height;
  matte.cells.reserve(size_t(width) * size_t(height));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      matte.cells.push_back(cellAt(x, y));
    }
  }
  return matte;
}

// The bottom rows emit strongly, base + step * (x % period) across a row; above them a trail
// fades as trail / (rows from the bottom + trailOffset) and is max(0, rows from the bottom -
// ageOffset) rows old.
struct EmitterBand {
  int rows;
  float base;
  float step;
  int period;
  float trail;
  int trailOffset;
  int ageOffset;
};

inline EmitterMatte bandMatte(int32_t width, int32_t height, const EmitterBand& band) {
  return makeMatte(width, height, [&](int32_t x, int32_t y) {
    const int fromBottom = height - 1 - y;
    const float value = fromBottom < band.rows ? band.base + band.step * float(x % band.period)
                                               : band.trail / float(fromBottom + band.trailOffset);
    return MatteCell{value, float(std::max(0, fromBottom - band.ageOffset))};
  });
}
