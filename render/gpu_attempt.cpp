#include "render/gpu_attempt.h"

#include <exception>

#include "gpu/gpu_context.h"

std::optional<bool> tryRenderOnGpu(std::vector<float4>& image, const FlameSettings& settings,
                                   const RenderRequest& request, const EmitterMatte& matte, int32_t processing) {
  try {
    std::shared_ptr<GpuContext> context = acquireSharedGpuContext();
    // The GPU frame writes its hash windows into the record; a CPU fallback needs the original.
    FlameSettings gpuSettings = settings;
    return renderFrame(*context, image, gpuSettings, request.abortCheck, request.abortContext, matte);
  } catch (const std::exception&) {
    if (processing == kProcessingGpuRequired) throw;
    return std::nullopt;
  }
}
