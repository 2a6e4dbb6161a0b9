// Validation of a frame's parameters into the FlameSettings both renderers read.
#pragma once

#include "cpu/flame_settings.h"
#include "render/render_records.h"

// Fills `settings` from the parameters, clamping every finite value into its supported range and
// writing the clamped value back into `params`. Throws std::runtime_error naming the first
// non-finite parameter, or a time outside the supported range. The request's geometry must
// already be checked (see renderFlames).
FlameSettings& buildFlameSettings(FlameSettings& settings, const FrameGeometry& output, FlameParams& params,
                                  const RenderRequest& request);

// A palette colour from hue (degrees), gain and opacity (percent); gain above 100 exceeds 1.
float4 paletteColorFromHue(float hue, float gain, float opacity);

// Width or height of the layer at the current resolution, rounded up unless it is within 1e-9
// of a whole pixel.
double downsampledSize(int32_t fullSize, double downsample);
