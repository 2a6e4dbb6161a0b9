#include "render/render_driver.h"

#include <cmath>
#include <stdexcept>
#include <vector>

#include "cpu/parallel_rows.h"
#include "render/emitter_matte_build.h"
#include "render/flame_settings_build.h"
#include "render/gpu_attempt.h"
#include "render/non_finite.h"

namespace {

constexpr int32_t kMaxFrameSize = 16384;

bool isUsableFactor(double value, double max) { return std::isfinite(value) && value > 0.0 && value <= max; }

bool isSupportedGeometry(const FrameGeometry& output, const RenderRequest& request) {
  return request.layerWidth > 0 && request.layerHeight > 0 && request.layerWidth <= kMaxFrameSize &&
         request.layerHeight <= kMaxFrameSize && output.width <= kMaxFrameSize &&
         output.height <= kMaxFrameSize && isUsableFactor(request.downsampleX, 1.0) &&
         isUsableFactor(request.downsampleY, 1.0) && isUsableFactor(request.pixelAspect, 100.0);
}

}  // namespace

float saturateChannel(float value) {
  if (isNonFinite(value)) return 0.0f;
  if (value > 1.0f) return 1.0f;
  if (value < 0.0f) return 0.0f;
  return value;
}

void writeOutputRow(const float4* imageRow, int32_t width, void* outputRow, int32_t depth) {
  for (int32_t x = 0; x < width; ++x) {
    const float4 pixel = imageRow[x];
    const float channels[4] = {saturateChannel(pixel.w), saturateChannel(pixel.x), saturateChannel(pixel.y),
                               saturateChannel(pixel.z)};
    for (int c = 0; c < 4; ++c) {
      if (depth == kDepth32) {
        static_cast<float*>(outputRow)[x * 4 + c] = channels[c];
      } else if (depth == kDepth16) {
        static_cast<uint16_t*>(outputRow)[x * 4 + c] = uint16_t(channels[c] * 32768.0f + 0.5f);
      } else {
        static_cast<uint8_t*>(outputRow)[x * 4 + c] = uint8_t(channels[c] * 255.0f + 0.5f);
      }
    }
  }
}

bool renderFlames(const FrameGeometry& output, const FlameParams& params, const RenderRequest& request) {
  if (output.width <= 0 || output.height <= 0) return true;
  if (output.pixels == nullptr) throw std::runtime_error("Missing output buffer");
  if (!isSupportedGeometry(output, request)) throw std::runtime_error("Unsupported frame geometry");
  // Compared on both sides rather than through the magnitude, which INT64_MIN does not have.
  const int64_t minRowBytes = output.width * bytesPerPixel(output.depth);
  if (output.rowBytes > -minRowBytes && output.rowBytes < minRowBytes) {
    throw std::runtime_error("Output row is too short");
  }
  if (stopRequested(request.abortCheck, request.abortContext)) return false;

  FlameParams validated = params;
  FlameSettings settings;
  buildFlameSettings(settings, output, validated, request);

  EmitterMatte matte;
  // A stop seen during the build ends the frame even if the host answers differently next time.
  if (settings.emitterMode != 0 && !buildEmitterMatte(request.emitter, settings, request, matte)) return false;
  if (stopRequested(request.abortCheck, request.abortContext)) return false;

  std::vector<float4> image;
  std::optional<bool> rendered;
  if (params.processing != kProcessingCpu) rendered = tryRenderOnGpu(image, settings, request, matte, params.processing);
  if (!rendered) rendered = renderFrameCpu(settings, request.abortCheck, request.abortContext, matte, image);
  if (!*rendered) return false;

  parallelFor(output.height, [&](int y) {
    void* outputRow = static_cast<uint8_t*>(output.pixels) + int64_t(y) * output.rowBytes;
    writeOutputRow(image.data() + int64_t(y) * output.width, output.width, outputRow, output.depth);
  });
  return !stopRequested(request.abortCheck, request.abortContext);
}
