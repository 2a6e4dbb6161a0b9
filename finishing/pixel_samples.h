// Reading and writing the samples of a host world by their type, for the finishing room's passes:
// uint8_t (full intensity 255), uint16_t (32768) and float (1.0), four per pixel, alpha first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "session/host_pixels.h"

template <typename Sample>
Sample readSample(const std::byte* at) {
  Sample value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <typename Sample>
void writeSample(std::byte* at, Sample value) {
  std::memcpy(at, &value, sizeof value);
}

template <typename Sample>
constexpr float fullIntensity() {
  if constexpr (sizeof(Sample) == 1) {
    return 255.0f;
  } else if constexpr (sizeof(Sample) == 2) {
    return 32768.0f;
  } else {
    return 1.0f;
  }
}

// A value in units of full intensity as the sample type stores it: 8 and 16 bits saturate and round
// half up, as the effect's own output does; floats stay as they are.
template <typename Sample>
Sample sampleFromValue(float value) {
  if constexpr (sizeof(Sample) == 4) {
    return value;
  } else {
    if (!(value > 0.0f)) {
      return 0;
    }
    if (value > 1.0f) {
      value = 1.0f;
    }
    return static_cast<Sample>(value * fullIntensity<Sample>() + 0.5f);
  }
}

// The sample at channel (0 alpha, 1 red, 2 green, 3 blue) of pixel x in row.
template <typename Sample>
std::byte* sampleAddress(std::byte* row, int x, int channel) {
  return row + (static_cast<size_t>(x) * 4 + static_cast<size_t>(channel)) * sizeof(Sample);
}

inline std::byte* rowAddress(const HostWorld& frame, int y) { return pixelAddress(frame.world, 0, y, frame.bitDepth); }

// Calls body.template operator()<Sample>() with the world's sample type.
template <typename Body>
void forSampleType(int bitDepth, Body&& body) {
  if (bitDepth == 32) {
    body.template operator()<float>();
  } else if (bitDepth == 16) {
    body.template operator()<uint16_t>();
  } else {
    body.template operator()<uint8_t>();
  }
}
