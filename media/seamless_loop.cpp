#include "media/seamless_loop.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace {

template <typename Channel>
void crossFadeChannels(const std::byte* a, const std::byte* b, std::byte* out, int channels, float weight) {
  for (int channel = 0; channel < channels; ++channel) {
    Channel first;
    Channel second;
    std::memcpy(&first, a + channel * sizeof(Channel), sizeof(Channel));
    std::memcpy(&second, b + channel * sizeof(Channel), sizeof(Channel));
    // (1 - w) a + w b, not a + (b - a) w: a weight of 1 must give b exactly.
    float mixed = (1.0f - weight) * float(first) + weight * float(second);
    Channel result;
    if constexpr (std::is_floating_point_v<Channel>) {
      result = mixed;
    } else {
      result = static_cast<Channel>(std::floor(mixed + 0.5f));
    }
    std::memcpy(out + channel * sizeof(Channel), &result, sizeof(Channel));
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
  const int width = a.world.width;
  const int height = a.world.height;
  HostWorld mixed = makeHostWorld(width, height, a.bitDepth);
  for (int y = 0; y < height; ++y) {
    const std::byte* rowA = pixelAddress(a.world, 0, y, a.bitDepth);
    const std::byte* rowB = pixelAddress(b.world, 0, y, b.bitDepth);
    std::byte* rowOut = pixelAddress(mixed.world, 0, y, mixed.bitDepth);
    const int channels = width * 4;
    if (a.bitDepth == 32) {
      crossFadeChannels<float>(rowA, rowB, rowOut, channels, weight);
    } else if (a.bitDepth == 16) {
      crossFadeChannels<uint16_t>(rowA, rowB, rowOut, channels, weight);
    } else {
      crossFadeChannels<uint8_t>(rowA, rowB, rowOut, channels, weight);
    }
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
