// Pixel buffers in the host's layout (alpha, red, green, blue; full intensity 255 at 8 bits,
// 32768 at 16 bits, 1.0 at 32 bits) and their conversion from decoded image files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sdk/effect_sdk.h"

// A decoded image: red, green, blue, alpha floats per pixel, top row first, colour premultiplied
// by alpha as in the host's layers (PNG files are converted on the way in and out). 8- and 16-bit files map their full value to 1.0.
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<float> rgba;
};

struct PixelMemoryRelease {
  void operator()(std::byte* pixels) const;
};

// A host world with the pixels it points at. Move-only: world.data points into pixels.
struct HostWorld {
  PF_EffectWorld world{};
  int bitDepth = 8;  // 8, 16 or 32 bits per channel
  std::unique_ptr<std::byte[], PixelMemoryRelease> pixels;
};

// The effect refuses layers wider or higher than this, in pixels.
constexpr int largestLayerSide = 16384;

int bytesPerPixel(int bitDepth);

// A transparent world. Rows are padded as a host's often are, so that an effect that assumes
// packed rows shows it. Throws std::bad_alloc.
HostWorld makeHostWorld(int width, int height, int bitDepth);

// The image's channels at the world's depth: 8 and 16 bits round to the nearest step of full
// intensity (values outside 0..1 saturate, NaN becomes 0); 32 bits keep the values as they are.
HostWorld hostWorldFromImage(const RgbaImage& image, int bitDepth);

// The image at 1/factor of its size (rounded up), each pixel the mean of its factor x factor block
// (fewer at the right and bottom edges), as a host hands layers to a render at reduced resolution.
RgbaImage downsampleImage(const RgbaImage& image, int factor);

// Copies source into target with source's first pixel at (x, y) of target; parts outside are cut.
void copyWorldInto(const PF_EffectWorld& source, PF_EffectWorld& target, int x, int y, int bitDepth);

// Straight colour (PNG files, frei0r frames) becomes the premultiplied colour of host layers.
void premultiplyByAlpha(RgbaImage& image);

// 8-bit straight RGBA pixels, packed rows, as an image file would bring them in.
RgbaImage imageFromStraightRgba8(const uint8_t* rgba, int width, int height);

// 16-bit values: the host's full intensity is 32768, that of files and of other programs' 16-bit
// images 65535. Each way rounds to nearest; as a 65535 step is smaller than a 32768 step, every host
// value has its own full-range value and comes back from it unchanged.
uint16_t fullRange16FromHost(uint32_t hostValue);
uint16_t hostFromFullRange16(uint32_t value);

// The address of pixel (x, y) of a world.
std::byte* pixelAddress(const PF_EffectWorld& world, int x, int y, int bitDepth);

// A frame as files store it: red, green, blue, alpha per pixel, rows packed, top row first; 8 bits
// from an 8-bit world, else 16 bits (full intensity 65535).
struct RgbaSamples {
  int width = 0;
  int height = 0;
  int bitDepth = 8;
  std::vector<uint16_t> values;
};

// The world's pixels as samples. Straight: colour divided by alpha (rounded to nearest), as PNG
// files and movies with alpha store it. Otherwise the host's premultiplied colour, which is the
// frame over black: what a file without alpha should show.
RgbaSamples rgbaSamplesFromWorld(const PF_EffectWorld& world, int bitDepth, bool straight);
