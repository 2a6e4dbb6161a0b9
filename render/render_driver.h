// The one road from a frame's parameters and the host's buffers to finished pixels.
#pragma once

#include "cpu/kernel_compat.h"
#include "render/render_records.h"

// Renders the frame into `output`. Returns true when the buffer holds the frame (or the output is
// empty), false when the host asked to stop. Failures are thrown as std::runtime_error with a
// message for the user; the output buffer is untouched by every failure.
bool renderFlames(const FrameGeometry& output, const FlameParams& params, const RenderRequest& request);

// Maps an image channel into [0, 1]; non-finite values become 0.
float saturateChannel(float value);

// Converts one row of the float image (r, g, b, a) into host pixels (a, r, g, b) at `depth`.
void writeOutputRow(const float4* imageRow, int32_t width, void* outputRow, int32_t depth);
