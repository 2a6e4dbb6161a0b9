// The project's declarations of the host's custom-control interface: the event record of
// PF_Cmd_EVENT, the "PF Effect Custom UI Suite" that hands out a drawing reference, and the three
// DRAWBOT suites that draw on it. Written so that the real SDK headers could stand in their place;
// the suite tables declare only the functions the effect calls.
#pragma once

#include "sdk/effect_sdk.h"

extern "C" {

// ---- Event record ----

// The host's token for the panel, composition or layer window an event belongs to.
typedef struct _PF_Context* PF_ContextH;

typedef A_long PF_EventType;
enum : A_long {
  PF_Event_NEW_CONTEXT = 0,
  PF_Event_ACTIVATE = 1,
  PF_Event_DO_CLICK = 2,
  PF_Event_DRAG = 3,
  PF_Event_DRAW = 4,
  PF_Event_DEACTIVATE = 5,
  PF_Event_CLOSE_CONTEXT = 6,
  PF_Event_IDLE = 7,
  PF_Event_ADJUST_CURSOR = 8,
  PF_Event_KEYDOWN = 9,
  PF_Event_MOUSE_EXITED = 10,
};

// Which part of a control in the effect panel the event is for.
typedef A_long PF_EffectArea;
enum : A_long { PF_EA_NONE = 0, PF_EA_PARAM_TITLE = 1, PF_EA_CONTROL = 2 };

typedef A_long PF_EventOutFlags;
enum : A_long {
  PF_EO_NONE = 0,
  PF_EO_HANDLED_EVENT = 1,
  PF_EO_ALWAYS_UPDATE = 2,
  PF_EO_NEVER_UPDATE = 4,
  PF_EO_UPDATE_NOW = 8,
};

struct PF_EffectWindowInfo {
  PF_ParamIndex index;  // parameter position of the control
  PF_EffectArea area;
  PF_Rect current_frame;  // the control's rectangle in panel coordinates
  PF_Rect param_title_frame;
  A_long horiz_offset;
};

struct PF_EventExtra {
  PF_ContextH contextH;
  PF_EventType e_type;
  PF_EffectWindowInfo effect_win;
  PF_EventOutFlags evt_out_flags;  // the effect adds bits; the host sets what it expects kept
};

// ---- DRAWBOT ----

typedef struct _DRAWBOT_DrawRef* DRAWBOT_DrawRef;
typedef struct _DRAWBOT_SupplierRef* DRAWBOT_SupplierRef;
typedef struct _DRAWBOT_SurfaceRef* DRAWBOT_SurfaceRef;
typedef struct _DRAWBOT_ObjectRef* DRAWBOT_ObjectRef;
typedef DRAWBOT_ObjectRef DRAWBOT_ImageRef;

struct DRAWBOT_PointF32 {
  float x, y;
};

// An affine transform for row vectors: (x, y, 1) * mat, so mat[2][0] and mat[2][1] translate.
struct DRAWBOT_MatrixF32 {
  float mat[3][3];
};

typedef A_long DRAWBOT_PixelLayout;
enum : A_long {
  kDRAWBOT_PixelLayout_24RGB = 0,
  kDRAWBOT_PixelLayout_24BGR = 1,
  kDRAWBOT_PixelLayout_32RGB = 2,
  kDRAWBOT_PixelLayout_32BGR = 3,
  kDRAWBOT_PixelLayout_32ARGB_Straight = 4,
  kDRAWBOT_PixelLayout_32ARGB_Premul = 5,
  kDRAWBOT_PixelLayout_32BGRA_Straight = 6,
  kDRAWBOT_PixelLayout_32BGRA_Premul = 7,
};

#define kPFEffectCustomUISuite "PF Effect Custom UI Suite"
#define kPFEffectCustomUISuiteVersion2 2

struct PF_EffectCustomUISuite2 {
  // An empty reference means the context cannot be drawn on now.
  PF_Err (*PF_GetDrawingReference)(const PF_ContextH effect_contextH, DRAWBOT_DrawRef* referenceP);
};

#define kDRAWBOT_DrawSuite "DRAWBOT Draw Suite"
#define kDRAWBOT_DrawSuite_Version1 1

struct DRAWBOT_DrawbotSuite1 {
  SPErr (*GetSupplier)(DRAWBOT_DrawRef in_drawbot_ref, DRAWBOT_SupplierRef* out_supplierP);
  SPErr (*GetSurface)(DRAWBOT_DrawRef in_drawbot_ref, DRAWBOT_SurfaceRef* out_surfaceP);
};

#define kDRAWBOT_SupplierSuite "DRAWBOT Supplier Suite"
#define kDRAWBOT_SupplierSuite_Version1 1

struct DRAWBOT_SupplierSuite1 {
  // The supplier copies the pixels: the buffer may go away once the image exists.
  SPErr (*NewImageFromBuffer)(DRAWBOT_SupplierRef in_supplier_ref, int in_width, int in_height, int in_row_bytes,
                              DRAWBOT_PixelLayout in_pl, const void* in_dataP, DRAWBOT_ImageRef* out_imageP);
  SPErr (*ReleaseObject)(DRAWBOT_ObjectRef in_obj_ref);
};

#define kDRAWBOT_SurfaceSuite "DRAWBOT Surface Suite"
#define kDRAWBOT_SurfaceSuite_Version2 2

struct DRAWBOT_SurfaceSuite2 {
  // Saves the transform, clip and drawing state; PopStateStack brings the last saved one back.
  SPErr (*PushStateStack)(DRAWBOT_SurfaceRef in_surface_ref);
  SPErr (*PopStateStack)(DRAWBOT_SurfaceRef in_surface_ref);
  // Applies the matrix before the surface's current transform.
  SPErr (*Transform)(DRAWBOT_SurfaceRef in_surface_ref, const DRAWBOT_MatrixF32* in_matrixP);
  // Draws the image with its top-left corner at the origin, in the current transform.
  SPErr (*DrawImage)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_ImageRef in_imageP, const DRAWBOT_PointF32* in_originP,
                     float in_alpha);
};

}  // extern "C"
