// Reading a frame's render parameters from the host into the render records.
#pragma once

#include "sdk/effect_sdk.h"
#include "render/render_records.h"

// Reads from `params` when the command has a parameter array (plain render), otherwise checks
// each value out at the command's time and checks it back in (smart pre-render). A failed
// checkout is raised as the host's own error code (a plain PF_Err).
float readFloatParam(PF_InData* in_data, PF_ParamDef* params[], PF_ParamIndex position);
A_long readIntParam(PF_InData* in_data, PF_ParamDef* params[], PF_ParamIndex position);

// A popup value (counting from 1) as a choice code 0 .. 2; projects may hold any value.
int32_t choiceCode(A_long choice);

FlameParams checkoutFlameParams(PF_InData* in_data, PF_ParamDef* params[]);

RenderRequest makeRenderRequest(PF_InData* in_data);

// Describes a host world; an absent world gives the all-zero description.
FrameGeometry geometryFromWorld(const PF_EffectWorld* world);
