// Builds the emitter field a layer emitter rises from, out of the emitter layer's host pixels.
#pragma once

#include <cstdint>

#include "cpu/emitter_matte.h"
#include "cpu/flame_settings.h"
#include "render/render_records.h"

// Emission of the emitter pixel at layer position (x, y): its alpha for emitter mode 1, the luma
// of its stored (premultiplied) colour otherwise; clamped to [0, 1]. Zero outside the buffer,
// for a transparent pixel, and for a non-finite candidate.
float sampleEmitterLayer(const FrameGeometry& emitter, uint32_t emitterMode, int32_t x, int32_t y);

// Fills matte with a frameWidth x frameHeight field, built from the bottom row up: each cell
// keeps its own emission or a decayed, sideways-blurred copy of the row below, whichever is
// stronger, so every emitting pixel leaves a trail about riseHeight rows long. Without a usable
// emitter the field is all zero. Throws std::runtime_error("Invalid matte geometry") for a buffer
// over 16384 pixels a side or with rows shorter than its width. Returns false when the abort
// check (asked every 64 rows) says stop; the field then holds only the rows built so far.
bool buildEmitterMatte(const FrameGeometry* emitter, const FlameSettings& settings, const RenderRequest& request,
                       EmitterMatte& matte);
