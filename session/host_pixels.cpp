#include "session/host_pixels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Extra bytes at the end of every row.
constexpr int rowPadding = 32;

// Same rule as the effect's own conversion: saturate, then scale and round half up.
template <typename Channel>
Channel quantize(float value, float fullIntensity) {
  if (!(value > 0.0f)) {
    return 0;
  }
  if (value > 1.0f) {
    value = 1.0f;
  }
  return static_cast<Channel>(value * fullIntensity + 0.5f);
}

}  // namespace

void PixelMemoryRelease::operator()(std::byte* pixels) const { std::free(pixels); }

int bytesPerPixel(int bitDepth) { return bitDepth == 32 ? 16 : bitDepth == 16 ? 8 : 4; }

HostWorld makeHostWorld(int width, int height, int bitDepth) {
  HostWorld host;
  host.bitDepth = bitDepth;
  size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel(bitDepth) + rowPadding;
  size_t totalBytes = rowBytes * static_cast<size_t>(std::max(height, 0));
  // calloc: large zeroed blocks come straight from the system, so pages nobody writes cost
  // nothing (an effect that only writes its output never touches most of an input layer).
  host.pixels.reset(static_cast<std::byte*>(std::calloc(std::max<size_t>(totalBytes, 1), 1)));
  if (!host.pixels) {
    throw std::bad_alloc();
  }
  host.world.data = reinterpret_cast<PF_PixelPtr>(host.pixels.get());
  host.world.width = width;
  host.world.height = height;
  host.world.rowbytes = static_cast<A_long>(rowBytes);
  host.world.world_flags = bitDepth == 16 ? PF_WorldFlag_DEEP : 0;
  host.world.extent_hint = PF_LRect{0, 0, width, height};
  return host;
}

std::byte* pixelAddress(const PF_EffectWorld& world, int x, int y, int bitDepth) {
  return reinterpret_cast<std::byte*>(world.data) + static_cast<ptrdiff_t>(y) * world.rowbytes +
         static_cast<ptrdiff_t>(x) * bytesPerPixel(bitDepth);
}

HostWorld hostWorldFromImage(const RgbaImage& image, int bitDepth) {
  HostWorld host = makeHostWorld(image.width, image.height, bitDepth);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const float* rgba = &image.rgba[(static_cast<size_t>(y) * image.width + x) * 4];
      const float argb[4] = {rgba[3], rgba[0], rgba[1], rgba[2]};
      std::byte* pixel = pixelAddress(host.world, x, y, bitDepth);
      for (int channel = 0; channel < 4; ++channel) {
        if (bitDepth == 32) {
          std::memcpy(pixel + channel * 4, &argb[channel], 4);
        } else if (bitDepth == 16) {
          uint16_t value = quantize<uint16_t>(argb[channel], 32768.0f);
          std::memcpy(pixel + channel * 2, &value, 2);
        } else {
          pixel[channel] = static_cast<std::byte>(quantize<uint8_t>(argb[channel], 255.0f));
        }
      }
    }
  }
  return host;
}

RgbaImage downsampleImage(const RgbaImage& image, int factor) {
  if (factor <= 1) {
    return image;
  }
  RgbaImage small;
  small.width = (image.width + factor - 1) / factor;
  small.height = (image.height + factor - 1) / factor;
  small.rgba.assign(static_cast<size_t>(small.width) * small.height * 4, 0.0f);
  for (int y = 0; y < small.height; ++y) {
    for (int x = 0; x < small.width; ++x) {
      double sum[4] = {0, 0, 0, 0};
      int count = 0;
      for (int sy = y * factor; sy < std::min((y + 1) * factor, image.height); ++sy) {
        for (int sx = x * factor; sx < std::min((x + 1) * factor, image.width); ++sx) {
          const float* source = &image.rgba[(static_cast<size_t>(sy) * image.width + sx) * 4];
          for (int channel = 0; channel < 4; ++channel) {
            sum[channel] += source[channel];
          }
          ++count;
        }
      }
      float* target = &small.rgba[(static_cast<size_t>(y) * small.width + x) * 4];
      for (int channel = 0; channel < 4; ++channel) {
        target[channel] = static_cast<float>(sum[channel] / count);
      }
    }
  }
  return small;
}

void copyWorldInto(const PF_EffectWorld& source, PF_EffectWorld& target, int x, int y, int bitDepth) {
  int left = std::max(x, 0);
  int top = std::max(y, 0);
  int right = std::min(x + source.width, target.width);
  int bottom = std::min(y + source.height, target.height);
  if (right <= left || bottom <= top) {
    return;
  }
  size_t rowLength = static_cast<size_t>(right - left) * bytesPerPixel(bitDepth);
  for (int row = top; row < bottom; ++row) {
    std::memcpy(pixelAddress(target, left, row, bitDepth), pixelAddress(source, left - x, row - y, bitDepth),
                rowLength);
  }
}

namespace {

uint16_t fileSampleFromFloat(float value) {
  if (!(value > 0.0f)) {
    return 0;
  }
  return static_cast<uint16_t>(std::lround(std::min(value, 1.0f) * 65535.0f));
}

}  // namespace

uint16_t fullRange16FromHost(uint32_t hostValue) {
  return static_cast<uint16_t>((std::min(hostValue, 32768u) * 65535u + 16384u) / 32768u);
}

uint16_t hostFromFullRange16(uint32_t value) {
  return static_cast<uint16_t>((std::min(value, 65535u) * 32768u + 32767u) / 65535u);
}

RgbaSamples rgbaSamplesFromWorld(const PF_EffectWorld& world, int bitDepth, bool straight) {
  RgbaSamples samples{world.width, world.height, bitDepth == 8 ? 8 : 16, {}};
  samples.values.resize(static_cast<size_t>(world.width) * static_cast<size_t>(world.height) * 4);
  uint16_t* out = samples.values.data();
  for (int y = 0; y < world.height; ++y) {
    for (int x = 0; x < world.width; ++x, out += 4) {
      const std::byte* pixel = pixelAddress(world, x, y, bitDepth);
      if (bitDepth == 32) {
        float argb[4];
        std::memcpy(argb, pixel, sizeof argb);
        const float alpha = argb[0] > 0.0f ? std::min(argb[0], 1.0f) : 0.0f;
        for (int channel = 0; channel < 3; ++channel) {
          float colour = argb[channel + 1];
          out[channel] = fileSampleFromFloat(!straight ? colour : alpha > 0.0f ? colour / alpha : 0.0f);
        }
        out[3] = fileSampleFromFloat(alpha);
        continue;
      }
      const uint32_t full = bitDepth == 16 ? 32768 : 255;
      uint32_t argb[4];
      for (int channel = 0; channel < 4; ++channel) {
        if (bitDepth == 16) {
          uint16_t value;
          std::memcpy(&value, pixel + channel * 2, 2);
          argb[channel] = std::min<uint32_t>(value, full);
        } else {
          argb[channel] = static_cast<uint8_t>(pixel[channel]);
        }
      }
      const uint32_t alpha = argb[0];
      if (straight) {
        for (int channel = 1; channel < 4; ++channel) {
          argb[channel] = alpha == 0 ? 0 : std::min(full, (argb[channel] * full + alpha / 2) / alpha);
        }
      }
      for (int channel = 0; channel < 4; ++channel) {
        uint32_t value = argb[(channel + 1) % 4];  // RGBA from the host's ARGB
        out[channel] = bitDepth == 16 ? fullRange16FromHost(value) : static_cast<uint16_t>(value);
      }
    }
  }
  return samples;
}

void premultiplyByAlpha(RgbaImage& image) {
  for (size_t i = 0; i + 3 < image.rgba.size(); i += 4) {
    for (size_t channel = 0; channel < 3; ++channel) {
      image.rgba[i + channel] *= image.rgba[i + 3];
    }
  }
}

RgbaImage imageFromStraightRgba8(const uint8_t* rgba, int width, int height) {
  RgbaImage image;
  image.width = width;
  image.height = height;
  image.rgba.resize(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < image.rgba.size(); ++i) {
    image.rgba[i] = static_cast<float>(rgba[i]) / 255.0f;
  }
  premultiplyByAlpha(image);
  return image;
}
