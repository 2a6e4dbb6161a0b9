#include "gpu/gpu_context.h"

#include <stdexcept>

struct GpuContext {};

std::shared_ptr<GpuContext> acquireSharedGpuContext() {
  throw std::runtime_error("No hardware GPU available");
}

void releaseSharedGpuContext() {}

bool renderFrame(GpuContext&, std::vector<float4>&, FlameSettings&, AbortCheckFunction, void*, const EmitterMatte&) {
  // Unreachable while no context can be acquired.
  throw std::runtime_error("No hardware GPU available");
}
