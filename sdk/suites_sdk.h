// The project's declarations of the host suites the effect acquires through SPBasicSuite,
// written so that the real SDK headers could stand in their place.
#pragma once

#include "sdk/effect_sdk.h"

extern "C" {

#define kPFEffectUISuite "PF Effect UI Suite"
#define kPFEffectUISuiteVersion1 1

struct PF_EffectUISuite1 {
  PF_Err (*PF_SetOptionsButtonName)(PF_ProgPtr effect_ref, const A_char* nameZ);
};

#define kPFParamUtilsSuite "PF Param Utils Suite"
#define kPFParamUtilsSuiteVersion3 3

struct PF_ParamUtilsSuite3 {
  PF_Err (*PF_UpdateParamUI)(PF_ProgPtr effect_ref, PF_ParamIndex param_index, const PF_ParamDef* defP);
};

#define kPFAppSuite "PF AE App Suite"
#define kPFAppSuiteVersion1 1

typedef A_long PF_App_ColorType;
enum : A_long { PF_App_Color_TEXT = 2, PF_App_Color_PANEL_BACKGROUND = 1000 };

struct PF_App_Color {
  A_u_short red, green, blue;
};

// Only the render-engine query (the seventh entry) and the colour query are called; the other
// entries keep their places in the table.
struct PFAppSuite1 {
  PF_Err (*PF_AppGetBgColor)(PF_App_Color* bg_colorP);
  PF_Err (*PF_AppGetColor)(PF_App_ColorType color_type, PF_App_Color* app_colorP);
  void* reserved_entry3;
  void* reserved_entry4;
  void* reserved_entry5;
  void* reserved_entry6;
  PF_Err (*PF_IsRenderEngine)(PF_Boolean* render_enginePB);
};

}  // extern "C"
