#include "media/seamless_loop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace {

template <typename Channel>
Channel readChannel(const std::byte* at) {
  Channel value;
  std::memcpy(&value, at, sizeof(Channel));
  return value;
}

// A frame's four channels as floats, each a plane of width x height values, row after row.
struct Planes {
  int width = 0;
  int height = 0;
  std::array<std::vector<float>, 4> channels;  // alpha, red, green, blue
};

template <typename Channel>
Planes planesOf(const HostWorld& image) {
  Planes planes{image.world.width, image.world.height, {}};
  for (std::vector<float>& plane : planes.channels) {
    plane.reserve(size_t(planes.width) * planes.height);
  }
  for (int y = 0; y < planes.height; ++y) {
    const std::byte* row = pixelAddress(image.world, 0, y, image.bitDepth);
    for (int x = 0; x < planes.width; ++x) {
      for (int channel = 0; channel < 4; ++channel) {
        planes.channels[channel].push_back(float(readChannel<Channel>(row + (size_t(x) * 4 + channel) * sizeof(Channel))));
      }
    }
  }
  return planes;
}

// The mean of each value's (2 radius + 1)^2 neighbourhood, the edges repeated: the frame's broad
// shapes, without its fine detail.
std::vector<float> boxBlur(const std::vector<float>& plane, int width, int height, int radius) {
  std::vector<float> across(plane.size());
  std::vector<float> blurred(plane.size());
  const float count = float(2 * radius + 1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      float sum = 0.0f;
      for (int dx = -radius; dx <= radius; ++dx) {
        sum += plane[size_t(y) * width + std::clamp(x + dx, 0, width - 1)];
      }
      across[size_t(y) * width + x] = sum / count;
    }
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      float sum = 0.0f;
      for (int dy = -radius; dy <= radius; ++dy) {
        sum += across[size_t(std::clamp(y + dy, 0, height - 1)) * width + x];
      }
      blurred[size_t(y) * width + x] = sum / count;
    }
  }
  return blurred;
}

// Maps the mixed values, in their order, onto the distribution of the two frames' values taken
// together, a's weighing 1 - weight and b's weight: the mix then has as many clear,
// semi-transparent and opaque pixels as the two frames have, weighed so.
void matchDistribution(std::vector<float>& mixed, const std::vector<float>& a, const std::vector<float>& b, float weight) {
  std::vector<float> sortedA = a;
  std::vector<float> sortedB = b;
  std::vector<float> sortedMixed = mixed;
  std::sort(sortedA.begin(), sortedA.end());
  std::sort(sortedB.begin(), sortedB.end());
  std::sort(sortedMixed.begin(), sortedMixed.end());
  const size_t count = mixed.size();
  // The value of each rank in the weighed union of both frames' values: walk both in order.
  std::vector<float> ranked(count);
  size_t nextA = 0;
  size_t nextB = 0;
  double taken = 0.0;
  float value = 0.0f;
  for (size_t rank = 0; rank < count; ++rank) {
    while (taken < double(rank) + 0.5 && (nextA < count || nextB < count)) {
      const bool fromA = nextB == count || (nextA < count && sortedA[nextA] <= sortedB[nextB]);
      value = fromA ? sortedA[nextA++] : sortedB[nextB++];
      taken += fromA ? 1.0 - weight : weight;
    }
    ranked[rank] = value;
  }
  for (float& mixedValue : mixed) {
    const auto [first, last] = std::equal_range(sortedMixed.begin(), sortedMixed.end(), mixedValue);
    // Equal values share their middle rank.
    const size_t rank = (size_t(first - sortedMixed.begin()) + size_t(last - sortedMixed.begin())) / 2;
    mixedValue = ranked[std::min(rank, count - 1)];
  }
}

// A plain mix (1 - w) a + w b of two frames far apart in time has less contrast than either: the
// fine detail of two unrelated frames cancels (to sqrt((1 - w)^2 + w^2) of its strength halfway),
// and where one frame burns and the other is clear the mix is half transparent. For the fade the
// flames went soft, semi-transparent pixels doubled and the motion seemed to slow. So:
// - alpha is mixed plainly and then given the distribution of the two frames' alphas;
// - colour's broad shapes (a 3 x 3 box blur) are mixed plainly, and its fine detail (the rest) is
//   mixed and scaled so that the result, within its alpha, is as sharp as the two frames,
//   interpolated by weight (sharpness: the mean step between neighbouring colour values). The
//   scale is found, not assumed, so frames alike in places are not over-sharpened; the three
//   colours share it so that hues stay as they are.
Planes mixKeepingTheLook(const Planes& a, const Planes& b, float weight, float full, bool brighterThanOpaque) {
  const float keep = 1.0f - weight;
  const int width = a.width;
  const int height = a.height;
  const size_t count = size_t(width) * height;
  Planes mixed{width, height, {}};
  std::vector<float>& alpha = mixed.channels[0];
  alpha.resize(count);
  for (size_t i = 0; i < count; ++i) {
    alpha[i] = keep * a.channels[0][i] + weight * b.channels[0][i];
  }
  matchDistribution(alpha, a.channels[0], b.channels[0], weight);
  for (float& value : alpha) {
    value = std::clamp(value, 0.0f, full);
  }
  // Premultiplied colour stays within its alpha; float frames may be brighter than 1 where opaque.
  auto withinAlpha = [&](float value, size_t index) {
    value = std::max(value, 0.0f);
    return brighterThanOpaque && alpha[index] >= full ? value : std::min(value, alpha[index]);
  };

  std::array<std::vector<float>, 4> broad;
  std::array<std::vector<float>, 4> detail;
  for (int channel = 1; channel < 4; ++channel) {
    const std::vector<float> broadA = boxBlur(a.channels[channel], width, height, 1);
    const std::vector<float> broadB = boxBlur(b.channels[channel], width, height, 1);
    broad[channel].resize(count);
    detail[channel].resize(count);
    for (size_t i = 0; i < count; ++i) {
      broad[channel][i] = keep * broadA[i] + weight * broadB[i];
      detail[channel][i] = keep * (a.channels[channel][i] - broadA[i]) + weight * (b.channels[channel][i] - broadB[i]);
    }
  }
  // The summed steps between neighbours of the colour planes of value(channel, index).
  auto colourSharpness = [&](const auto& value) {
    double sum = 0.0;
    for (int channel = 1; channel < 4; ++channel) {
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          const size_t index = size_t(y) * width + x;
          const float here = value(channel, index);
          if (x + 1 < width) {
            sum += std::fabs(value(channel, index + 1) - here);
          }
          if (y + 1 < height) {
            sum += std::fabs(value(channel, index + width) - here);
          }
        }
      }
    }
    return sum;
  };
  const double wanted =
      keep * colourSharpness([&](int channel, size_t index) { return a.channels[channel][index]; }) +
      weight * colourSharpness([&](int channel, size_t index) { return b.channels[channel][index]; });
  auto colourAt = [&](float scale, int channel, size_t index) {
    return withinAlpha(broad[channel][index] + scale * detail[channel][index], index);
  };
  // Sharpness grows with the scale; halving the interval 20 times finds it to a millionth.
  float low = 0.0f;
  float high = 4.0f;
  for (int step = 0; step < 20; ++step) {
    const float middle = 0.5f * (low + high);
    const double sharpness = colourSharpness([&](int channel, size_t index) { return colourAt(middle, channel, index); });
    (sharpness < wanted ? low : high) = middle;
  }
  const float scale = 0.5f * (low + high);
  for (int channel = 1; channel < 4; ++channel) {
    mixed.channels[channel].resize(count);
    for (size_t i = 0; i < count; ++i) {
      mixed.channels[channel][i] = colourAt(scale, channel, i);
    }
  }
  return mixed;
}

template <typename Channel>
void crossFadeKeepingTheLook(const HostWorld& a, const HostWorld& b, HostWorld& mixed, float weight) {
  constexpr bool isFloat = std::is_floating_point_v<Channel>;
  const float full = isFloat ? 1.0f : sizeof(Channel) == 1 ? 255.0f : 32768.0f;
  const Planes planes = mixKeepingTheLook(planesOf<Channel>(a), planesOf<Channel>(b), weight, full, isFloat);
  size_t index = 0;
  for (int y = 0; y < planes.height; ++y) {
    std::byte* row = pixelAddress(mixed.world, 0, y, mixed.bitDepth);
    for (int x = 0; x < planes.width; ++x, ++index) {
      for (int channel = 0; channel < 4; ++channel) {
        const float value = planes.channels[channel][index];
        Channel result;
        if constexpr (isFloat) {
          result = value;
        } else {
          result = static_cast<Channel>(std::floor(value + 0.5f));
        }
        std::memcpy(row + (size_t(x) * 4 + channel) * sizeof(Channel), &result, sizeof(Channel));
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
    crossFadeKeepingTheLook<float>(a, b, mixed, weight);
  } else if (a.bitDepth == 16) {
    crossFadeKeepingTheLook<uint16_t>(a, b, mixed, weight);
  } else {
    crossFadeKeepingTheLook<uint8_t>(a, b, mixed, weight);
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
