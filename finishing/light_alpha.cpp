#include "finishing/light_alpha.h"

#include <algorithm>
#include <cctype>

#include "finishing/pixel_samples.h"

namespace {

// The light's alpha for samples of one type, full intensity `full`: its brightest channel, at most
// full intensity.
template <typename Sample>
Sample lightAlphaAt(const std::byte* pixel, Sample full) {
  const Sample red = readSample<Sample>(pixel + sizeof(Sample));
  const Sample green = readSample<Sample>(pixel + 2 * sizeof(Sample));
  const Sample blue = readSample<Sample>(pixel + 3 * sizeof(Sample));
  // A NaN channel may or may not win the comparisons; a NaN alpha becomes none.
  Sample alpha = std::max({red, green, blue});
  if (!(alpha > Sample{0})) {
    alpha = Sample{0};
  }
  return std::min(alpha, full);
}

// Alpha from the light, or (holding) the larger of the pixel's own alpha and the light's.
template <typename Sample>
void alphaFromLightAt(std::byte* pixel, Sample full, bool holding) {
  const Sample light = lightAlphaAt<Sample>(pixel, full);
  const Sample own = readSample<Sample>(pixel);
  writeSample<Sample>(pixel, holding && own > light ? own : light);
}

void setAlphaFromLight(HostWorld& frame, bool holding) {
  const PF_EffectWorld& world = frame.world;
  for (int y = 0; y < world.height; ++y) {
    for (int x = 0; x < world.width; ++x) {
      std::byte* pixel = pixelAddress(world, x, y, frame.bitDepth);
      if (frame.bitDepth == 32) {
        alphaFromLightAt<float>(pixel, 1.0f, holding);
      } else if (frame.bitDepth == 16) {
        alphaFromLightAt<uint16_t>(pixel, 32768, holding);
      } else {
        alphaFromLightAt<uint8_t>(pixel, 255, holding);
      }
    }
  }
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

void makeAlphaFromLight(HostWorld& frame) { setAlphaFromLight(frame, false); }

void holdLightInAlpha(HostWorld& frame) { setAlphaFromLight(frame, true); }

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
