// The hash values of every noise cell's eight corners, stored together per cell so that the fast
// CPU renderer reads a cell with one 32-byte load instead of eight sines or eight gathers.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cpu/flame_settings.h"
#include "cpu/noise_hash_table.h"

// Corner offsets of a cell in lattice index units, in the order valueNoise blends them.
constexpr int kCellCorners = 8;
constexpr int32_t kCornerOffsets[kCellCorners] = {0, 1, 57, 58, 113, 114, 170, 171};

// The tuple of a cell, from its eight corner hashes in kCornerOffsets order: for each of the
// cell's four edges along x, the hash at its start and its rise to the end, the difference that
// valueNoise's x lerps form. Stored taken, the rise costs nothing per sample.
inline void writeCellTuple(const float (&corners)[kCellCorners], float* tuple) {
  for (int edge = 0; edge < kCellCorners; edge += 2) {
    tuple[edge] = corners[edge];
    tuple[edge + 1] = corners[edge + 1] - corners[edge];
  }
}

// The cells of one octave's hash window whose corners all lie inside it: cell index n (the float
// lattice index of the lowest corner) has its tuple at corners[8 * (n - firstCell)].
struct HashCornerOctave {
  int32_t firstCell;
  // The float range of cell indices with a tuple: a float index n with lowestCell <= n <=
  // highestCell converts exactly to an int in the table; any other n (or NaN) has none.
  float lowestCell;
  float highestCell;
  const float* corners;  // 32-byte aligned
};

struct HashCornerTable {
  int4 windows[kHashOctaves];
  HashCornerOctave octaves[kHashOctaves];
  std::vector<float> storage;
};

// The table over these windows (packed as assignHashWindows writes them), or null when it would
// take more than 64 MB. Throws std::invalid_argument for other windows, as checkHashWindows.
std::shared_ptr<const HashCornerTable> buildHashCornerTable(const int4 (&windows)[kHashOctaves]);

// The frame's corner table. The last table built is kept and handed out again while the windows
// stay the same (every frame of a still animation). Null when the windows exceed their limits or
// the table would take more than 64 MB: the renderer then hashes the corners itself. Thread-safe.
std::shared_ptr<const HashCornerTable> hashCornerTableFor(const FlameSettings& settings);
