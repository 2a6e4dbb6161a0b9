// The effect's two entry points, the only symbols the module exports.
#pragma once

#include "sdk/effect_sdk.h"

#define VORTELLINE_EXPORT __attribute__((visibility("default")))

extern "C" {

VORTELLINE_EXPORT PF_Err PluginDataEntryFunction2(void* inPtr, PF_PluginDataCB2 inPluginDataCallBackPtr,
                                                  SPBasicSuite* inSPBasicSuitePtr, const char* inHostName,
                                                  const char* inHostVersion);

VORTELLINE_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                    PF_ParamDef* params[], PF_LayerDef* output, void* extra);

}  // extern "C"
