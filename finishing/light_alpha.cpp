#include "media/light_alpha.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

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

// Alpha from the light for samples of one type, full intensity `full`.
template <typename Sample>
void alphaFromLightAt(std::byte* pixel, Sample full) {
  const Sample red = readSample<Sample>(pixel + sizeof(Sample));
  const Sample green = readSample<Sample>(pixel + 2 * sizeof(Sample));
  const Sample blue = readSample<Sample>(pixel + 3 * sizeof(Sample));
  // A NaN channel may or may not win the comparisons; a NaN alpha becomes none.
  Sample alpha = std::max({red, green, blue});
  if (!(alpha > Sample{0})) {
    alpha = Sample{0};
  }
  writeSample<Sample>(pixel, std::min(alpha, full));
}

}  // namespace

std::optional<OutputAlpha> parseOutputAlpha(const std::string& text) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower == "auto") {
    return OutputAlpha::automatic;
  }
  if (lower == "light") {
    return OutputAlpha::light;
  }
  if (lower == "effect") {
    return OutputAlpha::effect;
  }
  return std::nullopt;
}

void makeAlphaFromLight(HostWorld& frame) {
  const PF_EffectWorld& world = frame.world;
  for (int y = 0; y < world.height; ++y) {
    for (int x = 0; x < world.width; ++x) {
      std::byte* pixel = pixelAddress(world, x, y, frame.bitDepth);
      if (frame.bitDepth == 32) {
        alphaFromLightAt<float>(pixel, 1.0f);
      } else if (frame.bitDepth == 16) {
        alphaFromLightAt<uint16_t>(pixel, 32768);
      } else {
        alphaFromLightAt<uint8_t>(pixel, 255);
      }
    }
  }
}

bool isOpaque(const HostWorld& frame) {
  const PF_EffectWorld& world = frame.world;
  for (int y = 0; y < world.height; ++y) {
    for (int x = 0; x < world.width; ++x) {
      const std::byte* pixel = pixelAddress(world, x, y, frame.bitDepth);
      const bool opaque = frame.bitDepth == 32   ? readSample<float>(pixel) >= 1.0f
                          : frame.bitDepth == 16 ? readSample<uint16_t>(pixel) >= 32768
                                                 : readSample<uint8_t>(pixel) == 255;
      if (!opaque) {
        return false;
      }
    }
  }
  return true;
}

bool applyOutputAlpha(HostWorld& frame, OutputAlpha mode) {
  if (mode == OutputAlpha::effect || (mode == OutputAlpha::automatic && !isOpaque(frame))) {
    return false;
  }
  makeAlphaFromLight(frame);
  return true;
}
