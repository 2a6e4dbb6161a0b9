// Windows of consecutive noise lattice indices that cover every index a frame can touch, one per
// fbm octave, and the table of noiseHash values over them. The GPU kernel reads its hash values
// from such a table instead of evaluating a sine; a CPU renderer may use the same table.
#pragma once

#include <array>
#include <vector>

#include "cpu/flame_settings.h"

constexpr int kHashOctaves = 4;

// Both bounds inclusive, as computed in double before any limit is applied.
struct HashWindowBounds {
  double lowest;
  double highest;
};

// The bounds of the four octaves' windows for these settings. Plain arithmetic, never throws;
// the results may lie far outside the int32 range (or be NaN) for extreme settings.
std::array<HashWindowBounds, kHashOctaves> hashWindowBounds(const FlameSettings& settings);

// Writes lanes x (first index), y (offset in the value array) and z (count) of the four
// hashWindows, packed in octave order; lane w is left as it is. Throws std::runtime_error
// "Noise coordinates exceed supported range" when a window leaves +-2,000,000,000, spans more
// than 16,000,000 indices or fewer than the 172 of one cell (a negative reach), and "Noise hash table exceeds supported range" when the windows
// together hold more than 16,000,000 values. On failure the record may hold the windows
// computed so far.
void assignHashWindows(FlameSettings& settings);

// Throws std::invalid_argument unless the windows are what assignHashWindows writes: packed in
// octave order from offset 0, each 172 (one cell) to 16,000,000 indices wide, all within
// +-2,000,000,000, 16,000,000 values in all. The tables index such windows without further checks.
void checkHashWindows(const int4 (&windows)[kHashOctaves]);

// Number of values the windows hold together (offset plus count of the last window).
size_t hashTableSize(const int4 (&windows)[kHashOctaves]);

// noiseHash(float(first + j)) at offset + j for every window, bit for bit what the CPU noise
// computes for the same float index. Overlapping windows each keep their own copy. Throws as
// checkHashWindows does.
std::vector<float> hashTableValues(const int4 (&windows)[kHashOctaves]);
