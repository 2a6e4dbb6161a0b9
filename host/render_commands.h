// The three host commands that lead to a rendered frame.
#pragma once

#include "sdk/effect_sdk.h"
#include "sdk/smart_render_sdk.h"
#include "render/render_records.h"

// What smart pre-render hands the host to give back at smart render: the parameters read once,
// at pre-render time, and the full-resolution layer size then.
struct PreRenderData {
  FlameParams params;
  int32_t layerWidth = 0;
  int32_t layerHeight = 0;
};

// The emitter layer is checked out under the same number as its parameter position.
inline constexpr A_long kEmitterCheckoutId = 7;

PF_Err handleRender(PF_InData* in_data, PF_ParamDef* params[], PF_EffectWorld* output);
PF_Err handleSmartPreRender(PF_InData* in_data, PF_PreRenderExtra* extra);
PF_Err handleSmartRender(PF_InData* in_data, PF_SmartRenderExtra* extra);
