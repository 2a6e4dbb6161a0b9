// The process-wide GPU context and the GPU frame renderer.
//
// This machine has no hardware adapter and the Vulkan renderer has not landed yet, so acquiring
// the context fails exactly as it does on a machine without a hardware GPU; "Auto (GPU preferred)"
// then renders on the CPU and "GPU required" reports the failure.
#pragma once

#include <memory>
#include <vector>

#include "cpu/abort_check.h"
#include "cpu/emitter_matte.h"
#include "cpu/flame_settings.h"

struct GpuContext;

// Creates the shared context on first use; throws std::runtime_error on failure.
std::shared_ptr<GpuContext> acquireSharedGpuContext();

// Destroys the shared context if one exists; safe to call any number of times.
void releaseSharedGpuContext();

// Renders one frame into `image` (resized to width x height). Writes the record's hashWindows.
// Returns false when the abort check asked to stop; throws std::runtime_error on GPU failure.
bool renderFrame(GpuContext& context, std::vector<float4>& image, FlameSettings& settings,
                 AbortCheckFunction abortCheck, void* abortContext, const EmitterMatte& matte);
