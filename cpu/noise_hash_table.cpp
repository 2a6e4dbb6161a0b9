#include "cpu/noise_hash_table.h"

#include <cmath>
#include <stdexcept>

#include "cpu/noise_hash.h"

namespace {

constexpr double kBoundLimit = 2000000000.0;
constexpr double kMaxWindowSpan = 16000000.0;
constexpr double kMaxTableValues = 16000000.0;
// The eight corners of a cell use n to n + 171 (1 + 57 + 113).
constexpr double kLargestCornerOffset = 171.0;
constexpr double kSmallestWindow = kLargestCornerOffset + 1.0;
// Length of the lattice stride vector (1, 57, 113): over a ball of radius R the index of a point
// moves by at most sqrt(16019) * R.
const double kStrideLength = std::sqrt(16019.0);
// The same octave multipliers as fbm, in the order it applies them.
constexpr double kOctaveScale[kHashOctaves - 1] = {2.02, 2.03, 2.01};

}  // namespace

std::array<HashWindowBounds, kHashOctaves> hashWindowBounds(const FlameSettings& settings) {
  const double time = settings.time;
  double x = double(settings.animX) * time;
  double y;
  double z;
  double radius;
  if (settings.emitterMode == 0) {
    y = double(settings.animY) * time;
    z = double(settings.animZ) * time - double(settings.camera) * double(settings.frequency);
    // The march starts one unit from the camera and covers 10 * stepSize; float like the kernel.
    const float reach = fabsf(settings.stepSize) * 10.0f + 1.0f;
    radius = double(reach) * double(settings.frequency);
  } else {
    y = (double(settings.riseSpeed) - double(settings.animY)) * time;
    z = double(settings.animZ) * time;
    const float reach = ((settings.aspect + 2.0f) * 8.0f + 3.0f) * settings.frequency + 24.0f;
    radius = double(reach);
  }
  std::array<HashWindowBounds, kHashOctaves> bounds;
  for (int k = 0; k < kHashOctaves; ++k) {
    const double centre = (y * 57.0 + x) + z * 113.0;
    // The small multiple of the centre's size covers the float rounding of far-away samples;
    // 512 keeps every window at least 1,196 indices wide.
    const double margin = ((std::fabs(y) * 57.0 + std::fabs(x)) + std::fabs(z) * 113.0) * 0.00001 +
                          (kStrideLength * radius + 512.0);
    bounds[k].lowest = std::floor(centre - margin);
    bounds[k].highest = std::ceil((margin + centre) + kLargestCornerOffset);
    if (k + 1 < kHashOctaves) {
      const double m = kOctaveScale[k];
      const double nextX = m * (-0.8 * y - 0.6 * z);
      const double nextY = m * ((0.36 * y + 0.8 * x) - 0.48 * z);
      const double nextZ = m * ((0.6 * x - 0.48 * y) + 0.64 * z);
      x = nextX;
      y = nextY;
      z = nextZ;
      // Slightly wider than the exact scaling.
      radius = radius * (m * 1.000001);
    }
  }
  return bounds;
}

void assignHashWindows(FlameSettings& settings) {
  const std::array<HashWindowBounds, kHashOctaves> bounds = hashWindowBounds(settings);
  double total = 0.0;
  for (int k = 0; k < kHashOctaves; ++k) {
    const double lowest = bounds[k].lowest;
    const double highest = bounds[k].highest;
    // Written so that a NaN bound fails too.
    if (!(lowest >= -kBoundLimit && highest <= kBoundLimit && highest - lowest <= kMaxWindowSpan &&
          highest - lowest + 1.0 >= kSmallestWindow)) {
      throw std::runtime_error("Noise coordinates exceed supported range");
    }
    const double count = (highest - lowest) + 1.0;
    settings.hashWindows[k].x = int32_t(lowest);
    settings.hashWindows[k].y = int32_t(total);
    settings.hashWindows[k].z = int32_t(count);
    total += count;
    if (total > kMaxTableValues) {
      throw std::runtime_error("Noise hash table exceeds supported range");
    }
  }
}

void checkHashWindows(const int4 (&windows)[kHashOctaves]) {
  double packed = 0.0;
  for (const int4& window : windows) {
    const double first = window.x;
    const double count = window.z;
    if (!(window.y == packed && count >= kSmallestWindow && count <= kMaxWindowSpan + 1.0 &&
          first >= -kBoundLimit && first + count - 1.0 <= kBoundLimit)) {
      throw std::invalid_argument("Noise hash windows must be packed, each 172 to 16,000,001 indices within "
                                  "+-2,000,000,000");
    }
    packed += count;
  }
  if (packed > kMaxTableValues) {
    throw std::invalid_argument("Noise hash windows hold more than 16,000,000 values");
  }
}

size_t hashTableSize(const int4 (&windows)[kHashOctaves]) {
  const int4& last = windows[kHashOctaves - 1];
  return size_t(last.y) + size_t(last.z);
}

std::vector<float> hashTableValues(const int4 (&windows)[kHashOctaves]) {
  checkHashWindows(windows);
  std::vector<float> values(hashTableSize(windows), 0.0f);
  for (const int4& window : windows) {
    for (int32_t j = 0; j < window.z; ++j) {
      values[size_t(window.y) + size_t(j)] = noiseHash(float(window.x + j));
    }
  }
  return values;
}
