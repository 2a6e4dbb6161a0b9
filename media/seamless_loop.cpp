#include "media/seamless_loop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "finishing/mix_bits.h"

namespace {

// The dissolve's pattern: patches about a ninth of the frame's shorter side across, so that a patch
// holds a tongue of flame or two, alike at every size and downsampling.
constexpr float patchesPerSide = 9.0f;
// The share of the fade over which one pixel turns from one frame to the other: with the default
// fade of 24 frames, about a frame, and one pixel in twenty is between the frames at a time. A
// pixel between them is a plain mix, which shows an opaque flame's colour half transparent, a
// colour the frames' own edges never have; a pixel that turns at once leaves hard seams.
constexpr float turnSoftness = 0.05f;

uint32_t hashOf(int x, int y, uint32_t salt) {
  uint32_t hash = uint32_t(x) * 0x8da6b343u ^ uint32_t(y) * 0xd8163841u ^ salt * 0xcb1ab31fu;
  return mixBits(hash);
}

// A value in [0, 1) for each point (x, y >= 0) of the integer lattice. Each block of 3 x 3 points
// takes one value from each ninth of [0, 1), in a shuffled order: every part of the frame then
// turns over throughout the fade, rather than one part early and another late.
float latticeValue(int x, int y) {
  const int blockX = x / 3;
  const int blockY = y / 3;
  std::array<int, 9> strata{0, 1, 2, 3, 4, 5, 6, 7, 8};
  for (int index = 8; index > 0; --index) {
    std::swap(strata[size_t(index)], strata[hashOf(blockX, blockY, uint32_t(index)) % uint32_t(index + 1)]);
  }
  const int stratum = strata[size_t((y - 3 * blockY) * 3 + (x - 3 * blockX))];
  return (float(stratum) + float(hashOf(x, y, 9) >> 8) / float(1 << 24)) / 9.0f;
}

// Value noise, one value per pixel: the lattice values (a lattice step being `step` pixels)
// interpolated with a smooth step, so that the pattern has no creases. The lattice values are
// looked up once per lattice point.
std::vector<float> valueNoise(int width, int height, float step) {
  if (width <= 0 || height <= 0) {
    return {};
  }
  const int columns = int(float(width) / step) + 2;
  const int rows = int(float(height) / step) + 2;
  std::vector<float> lattice(size_t(columns) * rows);
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      lattice[size_t(row) * columns + column] = latticeValue(column, row);
    }
  }
  auto at = [&](int column, int row) { return lattice[size_t(row) * columns + column]; };
  auto smooth = [](float t) { return t * t * (3.0f - 2.0f * t); };
  std::vector<float> noise(size_t(width) * height);
  for (int y = 0; y < height; ++y) {
    const float v = (float(y) + 0.5f) / step;
    const int row = int(v);
    const float ty = smooth(v - float(row));
    for (int x = 0; x < width; ++x) {
      const float u = (float(x) + 0.5f) / step;
      const int column = int(u);
      const float tx = smooth(u - float(column));
      const float top = (at(column + 1, row) - at(column, row)) * tx + at(column, row);
      const float bottom = (at(column + 1, row + 1) - at(column, row + 1)) * tx + at(column, row + 1);
      noise[size_t(y) * width + x] = (bottom - top) * ty + top;
    }
  }
  return noise;
}

// For each pixel, the moment of the fade (0 to 1) at which it turns from one frame to the other:
// smooth patches, spread evenly over [0, 1] (each value replaced by its share of smaller values)
// so that as many pixels turn in each frame of the fade.
std::vector<float> dissolveOrder(int width, int height) {
  std::vector<float> order = valueNoise(width, height, float(std::min(width, height)) / patchesPerSide);
  constexpr int bins = 4096;
  std::array<uint32_t, bins + 1> below{};
  auto binOf = [](float value) { return std::clamp(int(value * float(bins)), 0, bins - 1); };
  for (float value : order) {
    ++below[size_t(binOf(value)) + 1];
  }
  for (int bin = 0; bin < bins; ++bin) {
    below[size_t(bin) + 1] += below[size_t(bin)];
  }
  const float count = float(order.size());
  for (float& value : order) {
    const int bin = binOf(value);
    const float within = std::clamp(value * float(bins) - float(bin), 0.0f, 1.0f);
    const float before = float(below[size_t(bin)]);
    value = ((float(below[size_t(bin) + 1]) - before) * within + before) / count;
  }
  return order;
}

template <typename Channel>
void dissolve(const HostWorld& a, const HostWorld& b, HostWorld& mixed, float weight) {
  const int width = a.world.width;
  const int height = a.world.height;
  const std::vector<float> order = dissolveOrder(width, height);
  // The pixels that turn last reach 1 exactly when weight does.
  const float front = weight * (1.0f + turnSoftness);
  for (int y = 0; y < height; ++y) {
    const std::byte* rowA = pixelAddress(a.world, 0, y, a.bitDepth);
    const std::byte* rowB = pixelAddress(b.world, 0, y, b.bitDepth);
    std::byte* row = pixelAddress(mixed.world, 0, y, mixed.bitDepth);
    for (int x = 0; x < width; ++x) {
      const float turned = std::clamp((front - order[size_t(y) * width + x]) / turnSoftness, 0.0f, 1.0f);
      // A smooth step, so that the patches' edges show no crease.
      const float pixelWeight = turned * turned * (3.0f - 2.0f * turned);
      const size_t pixel = size_t(x) * 4 * sizeof(Channel);
      // Most pixels are wholly one frame's: copied, so that they keep every bit.
      if (pixelWeight == 0.0f || pixelWeight == 1.0f) {
        std::memcpy(row + pixel, (pixelWeight == 0.0f ? rowA : rowB) + pixel, 4 * sizeof(Channel));
        continue;
      }
      for (int channel = 0; channel < 4; ++channel) {
        const size_t offset = pixel + size_t(channel) * sizeof(Channel);
        Channel first;
        Channel second;
        std::memcpy(&first, rowA + offset, sizeof(Channel));
        std::memcpy(&second, rowB + offset, sizeof(Channel));
        const float value = (float(second) - float(first)) * pixelWeight + float(first);
        Channel result;
        if constexpr (std::is_floating_point_v<Channel>) {
          result = value;
        } else {
          result = static_cast<Channel>(std::floor(value + 0.5f));
        }
        std::memcpy(row + offset, &result, sizeof(Channel));
      }
    }
  }
}

}  // namespace

long defaultLoopFade(long length, const FrameClock& clock) {
  const long oneSecond = std::lround(double(clock.timeScale) / double(clock.timeStep));
  return std::max(1L, std::min(oneSecond, length / 2));
}

LoopMix loopMix(const LoopSettings& loop, long frame) {
  const long fadeStart = loop.length - loop.fadeFrames;
  if (loop.length <= 0 || frame < fadeStart || frame >= loop.length) {
    return LoopMix{frame, 0.0f};
  }
  return LoopMix{frame - loop.length, float(double(frame - fadeStart + 1) / double(loop.fadeFrames))};
}

HostWorld crossFadeWorlds(const HostWorld& a, const HostWorld& b, float weight) {
  HostWorld mixed = makeHostWorld(a.world.width, a.world.height, a.bitDepth);
  // The ends are the frames themselves, exactly: the loop's last frame is the frame before its first.
  if (weight == 0.0f || weight == 1.0f) {
    copyWorldInto(weight == 0.0f ? a.world : b.world, mixed.world, 0, 0, a.bitDepth);
  } else if (a.bitDepth == 32) {
    dissolve<float>(a, b, mixed, weight);
  } else if (a.bitDepth == 16) {
    dissolve<uint16_t>(a, b, mixed, weight);
  } else {
    dissolve<uint8_t>(a, b, mixed, weight);
  }
  return mixed;
}

HostWorld renderLoopFrame(HostSession& session, long frame, const LoopSettings& loop, RenderPath path) {
  const LoopMix mix = loopMix(loop, frame);
  HostWorld own = renderFrame(session, frame, path);
  if (mix.earlierWeight == 0.0f) {
    return own;
  }
  HostWorld earlier = renderFrame(session, mix.earlierFrame, path);
  return crossFadeWorlds(own, earlier, mix.earlierWeight);
}
