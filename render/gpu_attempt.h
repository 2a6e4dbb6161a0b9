// The GPU attempt of a frame and what its failure means for each Processing choice.
#pragma once

#include <optional>
#include <vector>

#include "cpu/emitter_matte.h"
#include "cpu/flame_settings.h"
#include "render/render_records.h"

enum : int32_t { kProcessingAuto = 0, kProcessingGpuRequired = 1, kProcessingCpu = 2 };

// Renders the frame on the shared GPU context. Returns the renderer's flag (false: the host asked
// to stop), or nothing when the GPU failed in "Auto (GPU preferred)" and the CPU should take over.
// In "GPU required" the GPU's failure is rethrown unchanged. `settings` is never modified.
std::optional<bool> tryRenderOnGpu(std::vector<float4>& image, const FlameSettings& settings,
                                   const RenderRequest& request, const EmitterMatte& matte, int32_t processing);
