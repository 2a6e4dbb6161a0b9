#include "cpu/hash_corner_table.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace {

constexpr size_t kMaxTableBytes = size_t{64} << 20;
constexpr size_t kCellBytes = kCellCorners * sizeof(float);

// Smallest float not below the integer, and largest float not above it.
float floatAtOrAbove(int32_t value) {
  float f = float(value);
  return double(f) < double(value) ? std::nextafter(f, INFINITY) : f;
}

float floatAtOrBelow(int32_t value) {
  float f = float(value);
  return double(f) > double(value) ? std::nextafter(f, -INFINITY) : f;
}

}  // namespace

std::shared_ptr<const HashCornerTable> buildHashCornerTable(const int4 (&windows)[kHashOctaves]) {
  checkHashWindows(windows);
  size_t cells[kHashOctaves];
  size_t totalCells = 0;
  for (int k = 0; k < kHashOctaves; ++k) {
    // Every window holds at least one cell.
    cells[k] = size_t(windows[k].z) - size_t(kCornerOffsets[kCellCorners - 1]);
    totalCells += cells[k];
  }
  if (totalCells * kCellBytes > kMaxTableBytes) {
    return nullptr;
  }
  const std::vector<float> values = hashTableValues(windows);
  auto table = std::make_shared<HashCornerTable>();
  std::memcpy(table->windows, windows, sizeof table->windows);
  // One spare cell so that the first can start on a 32-byte boundary.
  table->storage.resize((totalCells + 1) * kCellCorners);
  float* next = table->storage.data();
  next += (kCellBytes - reinterpret_cast<uintptr_t>(next) % kCellBytes) % kCellBytes / sizeof(float);
  for (int k = 0; k < kHashOctaves; ++k) {
    const int4& window = windows[k];
    HashCornerOctave& octave = table->octaves[k];
    octave.firstCell = window.x;
    octave.lowestCell = floatAtOrAbove(window.x);
    octave.highestCell = floatAtOrBelow(window.x + int32_t(cells[k]) - 1);
    octave.corners = next;
    // Corner n + c of cell n is the value of index n + c: float(n) + c rounds like the integer
    // sum because float(n) is exact for a cell index, so the values match the noise bit for bit.
    const float* windowValues = values.data() + window.y;
    for (size_t cell = 0; cell < cells[k]; ++cell) {
      float corners[kCellCorners];
      for (int c = 0; c < kCellCorners; ++c) {
        corners[c] = windowValues[cell + size_t(kCornerOffsets[c])];
      }
      writeCellTuple(corners, next);
      next += kCellCorners;
    }
  }
  return table;
}

std::shared_ptr<const HashCornerTable> hashCornerTableFor(const FlameSettings& settings) {
  FlameSettings windowed = settings;
  try {
    assignHashWindows(windowed);
  } catch (const std::runtime_error&) {
    return nullptr;
  }
  static std::mutex cacheMutex;
  static std::shared_ptr<const HashCornerTable> cached;
  std::lock_guard<std::mutex> lock(cacheMutex);
  if (cached == nullptr ||
      std::memcmp(cached->windows, windowed.hashWindows, sizeof windowed.hashWindows) != 0) {
    // Dropped before the build so that two large tables never coexist.
    cached = nullptr;
    cached = buildHashCornerTable(windowed.hashWindows);
  }
  return cached;
}
