// The process-wide GPU context and the GPU frame renderer, on Vulkan.
//
// Only hardware devices are candidates unless VORTELLINE_GPU_ALLOW_SOFTWARE=1 (see
// gpu/gpu_operations.h); without one, acquiring the context fails with "No hardware GPU
// available", and the render driver falls back to the CPU or reports it.
#pragma once

#include <memory>
#include <vector>

#include "cpu/abort_check.h"
#include "cpu/emitter_matte.h"
#include "cpu/flame_settings.h"

struct GpuContext;

// Creates the shared context on first use; throws std::runtime_error on failure, leaving the
// slot empty so that the next call tries again from the start.
std::shared_ptr<GpuContext> acquireSharedGpuContext();

// Destroys the shared context if one exists; safe to call any number of times. A render still
// holding the context keeps it alive until it returns.
void releaseSharedGpuContext();

// Renders one frame into `image` (resized to width x height). Writes the record's hashWindows.
// Returns false when the abort check asked to stop; throws std::runtime_error on GPU failure.
bool renderFrame(GpuContext& context, std::vector<float4>& image, FlameSettings& settings,
                 AbortCheckFunction abortCheck, void* abortContext, const EmitterMatte& matte);


// Whether the context's kernel computes e^x like the CPU renderer (in double precision, on a
// device with 64-bit floats); its frames are then bit-identical to CPU frames.
bool usesCpuExponential(const GpuContext& context);
