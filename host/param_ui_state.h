// Keeping the panel in step with the parameters: each colour's visible hue dial mirrors its
// hidden, keyframable hue slider, and controls the chosen emitter source does not use are greyed.
#pragma once

#include "sdk/effect_sdk.h"

// Both return PF_Err_BAD_CALLBACK_PARAM, changing nothing, for a missing parameter array or a
// missing entry in it.

// PF_Cmd_USER_CHANGED_PARAM: a turned hue dial is written into its slider (clamped to the
// slider's valid range), then the panel is brought in step.
PF_Err onUserChangedParam(PF_InData* in_data, PF_ParamDef* params[], const PF_UserChangedParamExtra* extra);

// PF_Cmd_UPDATE_PARAMS_UI: every hue dial is redrawn from its slider and the emitter-dependent
// controls are enabled or greyed out. Raises PF_Err_INVALID_CALLBACK (as the enumeration type)
// without the param utils suite, PF_Err_BAD_CALLBACK_PARAM for a non-finite hue.
PF_Err syncParamsUi(PF_InData* in_data, PF_ParamDef* params[]);
