#include "render/emitter_matte_build.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

constexpr int32_t kMaxEmitterSide = 16384;
constexpr int32_t kAbortCheckRows = 64;

// The matte reads every depth code other than 8 and 16 bits as float channels, so it needs 16
// bytes a pixel there, not the 4 the output writer uses for unknown codes.
int64_t emitterBytesPerPixel(int32_t depth) {
  if (depth == kDepth8) return 4;
  if (depth == kDepth16) return 8;
  return 16;
}

// Channels in host order: alpha, red, green, blue.
struct EmitterPixel {
  float a, r, g, b;
};

EmitterPixel readEmitterPixel(const unsigned char* pixel, int32_t depth) {
  if (depth == kDepth8) {
    return {pixel[0] / 255.0f, pixel[1] / 255.0f, pixel[2] / 255.0f, pixel[3] / 255.0f};
  }
  if (depth == kDepth16) {
    uint16_t channels[4];
    std::memcpy(channels, pixel, sizeof channels);
    // Full intensity at 16 bits is 32768, not 65535.
    const float scale = 1.0f / 32768.0f;
    return {channels[0] * scale, channels[1] * scale, channels[2] * scale, channels[3] * scale};
  }
  float channels[4];
  std::memcpy(channels, pixel, sizeof channels);
  return {channels[0], channels[1], channels[2], channels[3]};
}

}  // namespace

float sampleEmitterLayer(const FrameGeometry& emitter, uint32_t emitterMode, int32_t x, int32_t y) {
  const int64_t lx = int64_t{x} - emitter.originX;
  const int64_t ly = int64_t{y} - emitter.originY;
  if (lx < 0 || ly < 0 || lx >= emitter.width || ly >= emitter.height) {
    return 0.0f;
  }
  const unsigned char* pixel = static_cast<const unsigned char*>(emitter.pixels) +
                               ly * emitter.rowBytes + lx * emitterBytesPerPixel(emitter.depth);
  const EmitterPixel p = readEmitterPixel(pixel, emitter.depth);
  const float candidate = emitterMode == 1 ? p.a : (p.r * 0.2125f + p.g * 0.7154f) + p.b * 0.0721f;
  // A fully transparent pixel never emits, in luma mode too.
  if (!(p.a > 0.0f) || !std::isfinite(candidate)) {
    return 0.0f;
  }
  return candidate > 1.0f ? 1.0f : (candidate < 0.0f ? 0.0f : candidate);
}

bool buildEmitterMatte(const FrameGeometry* emitter, const FlameSettings& settings, const RenderRequest& request,
                       EmitterMatte& matte) {
  matte.width = int32_t(settings.frameWidth);
  matte.height = int32_t(settings.frameHeight);
  const int32_t width = matte.width;
  const int32_t height = matte.height;
  matte.cells.assign(size_t(width) * size_t(height), MatteCell{0.0f, 0.0f});
  if (emitter == nullptr || emitter->pixels == nullptr || emitter->width <= 0 ||
      emitter->height <= 0) {
    return true;
  }
  // Rows run either way (a negative stride is a bottom-up buffer) but must hold the whole width.
  const int64_t minRowBytes = int64_t{emitter->width} * emitterBytesPerPixel(emitter->depth);
  const bool rowsTooShort = emitter->rowBytes > -minRowBytes && emitter->rowBytes < minRowBytes;
  if (emitter->width > kMaxEmitterSide || emitter->height > kMaxEmitterSide || rowsTooShort) {
    throw std::runtime_error("Invalid matte geometry");
  }

  const float decay = std::exp(-1.5f / settings.riseHeight);
  float spread = (settings.frameHeight * 0.2f) / 1080.0f;
  if (spread > 0.45f) {
    spread = 0.45f;
  }
  const float keep = 1.0f - (spread + spread);
  const MatteCell empty{0.0f, 0.0f};

  for (int32_t y = height - 1; y >= 0; --y) {
    if (y % kAbortCheckRows == 0 && stopRequested(request.abortCheck, request.abortContext)) {
      return false;
    }
    MatteCell* row = matte.cells.data() + size_t(y) * size_t(width);
    const MatteCell* below = y < height - 1 ? row + width : nullptr;
    for (int32_t x = 0; x < width; ++x) {
      float e = sampleEmitterLayer(*emitter, settings.emitterMode, x, y);
      float age = 0.0f;
      if (below != nullptr) {
        const MatteCell b = below[x];
        const MatteCell l = x > 0 ? below[x - 1] : empty;
        const MatteCell r = x < width - 1 ? below[x + 1] : empty;
        const float c = (r.value + l.value) * spread + keep * b.value;
        // The carried age is the value-weighted mean age of the three source cells, plus a row.
        const float carriedAge =
            c > 0.0f
                ? ((r.value * r.age + l.value * l.age) * spread + (b.value * b.age) * keep) / c + 1.0f
                : 0.0f;
        const float carried = c * decay;
        if (carried > e && carriedAge < settings.riseHeight) {
          e = carried;
          age = carriedAge;
        }
      }
      row[x] = MatteCell{e, age};
    }
  }
  return true;
}
