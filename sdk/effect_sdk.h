// The project's declarations of the compositing host's effect interface (API 13.28).
//
// The host's own SDK headers are not available on this platform, so this file declares exactly
// the records, callbacks, commands, flags and error codes that the effect uses, under the SDK's
// names and with the SDK's types and values, so that the real headers could stand in its place.
// Fields the effect never touches are kept where they shape a record the host fills, and left
// out otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef uint8_t A_u_char;
typedef double PF_FpLong;
typedef float PF_FpShort;
typedef A_long PF_Fixed;  // 16.16 fixed point
typedef A_u_char PF_Boolean;
typedef A_long PF_ParamIndex;
typedef A_long PF_ParamValue;
typedef A_long PF_Err;
typedef A_long SPErr;

// Opaque token the host hands to the effect and expects back in every callback.
typedef struct _PF_ProgressInfo* PF_ProgPtr;

// Error codes. Handlers raise some of these as values of this enumeration type (not as plain
// integers); the dispatcher deliberately maps such a raised value to 512.
enum PF_ErrorCode : A_long {
  PF_Err_NONE = 0,
  PF_Err_OUT_OF_MEMORY = 4,
  PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
  PF_Err_INVALID_CALLBACK = 515,
  PF_Err_BAD_CALLBACK_PARAM = 516,
  PF_Interrupt_CANCEL = 517,
};

typedef A_long PF_Cmd;
enum : A_long {
  PF_Cmd_ABOUT = 0,
  PF_Cmd_GLOBAL_SETUP = 1,
  PF_Cmd_GLOBAL_SETDOWN = 3,
  PF_Cmd_PARAMS_SETUP = 4,
  PF_Cmd_DO_DIALOG = 9,
  PF_Cmd_RENDER = 11,
  PF_Cmd_USER_CHANGED_PARAM = 13,
  PF_Cmd_UPDATE_PARAMS_UI = 14,
  PF_Cmd_EVENT = 15,
  PF_Cmd_SMART_PRE_RENDER = 23,
  PF_Cmd_SMART_RENDER = 24,
};

typedef A_long PF_OutFlags;
enum : A_long {
  PF_OutFlag_NON_PARAM_VARY = 0x00000004,
  PF_OutFlag_I_DO_DIALOG = 0x00000020,
  PF_OutFlag_DISPLAY_ERROR_MESSAGE = 0x00000100,
  PF_OutFlag_CUSTOM_UI = 0x00008000,
  PF_OutFlag_DEEP_COLOR_AWARE = 0x02000000,
  PF_OutFlag_SEND_UPDATE_PARAMS_UI = 0x04000000,
};

typedef A_long PF_OutFlags2;
enum : A_long {
  PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG = 0x00000008,
  PF_OutFlag2_REVEALS_ZERO_ALPHA = 0x00000080,
  PF_OutFlag2_SUPPORTS_SMART_RENDER = 0x00000400,
  PF_OutFlag2_FLOAT_COLOR_AWARE = 0x00001000,
  PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 0x08000000,
};

typedef A_long PF_ParamType;
enum : A_long {
  PF_Param_LAYER = 0,
  PF_Param_CHECKBOX = 4,
  PF_Param_ANGLE = 6,
  PF_Param_POPUP = 7,
  PF_Param_NO_DATA = 9,
  PF_Param_FLOAT_SLIDER = 10,
  PF_Param_GROUP_START = 13,
  PF_Param_GROUP_END = 14,
};

typedef A_long PF_ParamFlags;
enum : A_long {
  PF_ParamFlag_CANNOT_TIME_VARY = 0x2,
  PF_ParamFlag_CANNOT_INTERP = 0x4,
  PF_ParamFlag_COLLAPSE_TWIRLY = 0x20,
  PF_ParamFlag_SUPERVISE = 0x40,
};

typedef A_long PF_ParamUIFlags;
enum : A_long {
  PF_PUI_CONTROL = 0x2,
  PF_PUI_STD_CONTROL_ONLY = 0x4,
  PF_PUI_NO_ECW_UI = 0x8,
  PF_PUI_DISABLED = 0x20,
};

enum : A_long { PF_ChangeFlag_CHANGED_VALUE = 0x1 };
enum : A_short { PF_ValueDisplayFlag_PERCENT = 0x1 };
enum : A_long { PF_LayerDefault_MYSELF = -1 };
enum : A_long { PF_WorldFlag_DEEP = 0x1 };
enum : A_long { PF_CustomEFlag_EFFECT = 0x4 };

// Four-character codes stored as 32-bit values: 'eFKT' is 0x65464B54.
constexpr A_long PF_FourCharCode(const char (&code)[5]) {
  return (A_long(A_u_char(code[0])) << 24) | (A_long(A_u_char(code[1])) << 16) |
         (A_long(A_u_char(code[2])) << 8) | A_long(A_u_char(code[3]));
}
constexpr A_long PF_Kind_EFFECT = PF_FourCharCode("eFKT");

struct PF_RationalScale {
  A_long num;
  A_u_long den;
};

struct PF_LRect {
  A_long left, top, right, bottom;
};
typedef PF_LRect PF_Rect;

// 8-bit pixel; 16-bit and float pixels have the same channel order.
struct PF_Pixel {
  A_u_char alpha, red, green, blue;
};
typedef PF_Pixel* PF_PixelPtr;

// A host pixel buffer. The layer parameter's definition is the same record.
struct PF_LayerDef {
  void* reserved0;
  void* reserved1;
  A_long world_flags;
  PF_PixelPtr data;
  A_long rowbytes;
  A_long width;
  A_long height;
  PF_Rect extent_hint;
  void* platform_ref;
  A_long reserved_long1;
  void* reserved_long4;
  A_long origin_x;
  A_long origin_y;
  A_long reserved_long2;
  A_long dephault;  // PF_LayerDefault_MYSELF or none
};
typedef PF_LayerDef PF_EffectWorld;

struct PF_FloatSliderDef {
  PF_FpLong value;
  PF_FpLong phase;
  A_char* value_desc;
  PF_FpShort valid_min, valid_max;
  PF_FpShort slider_min, slider_max;
  PF_FpShort dephault;
  A_short precision;
  A_short display_flags;
  A_long fs_flags;
  PF_FpShort curve_tolerance;
  PF_Boolean useExponent;
  PF_FpShort exponent;
};

struct PF_PopupDef {
  A_long value;
  A_short num_choices;
  A_short dephault;
  union {
    A_long id;
    const A_char* namesptr;  // choices separated by "|"
  } u;
};

struct PF_CheckBoxDef {
  A_long value;
  A_long dephault;
  union {
    A_long id;
    const A_char* nameptr;
  } u;
};

struct PF_AngleDef {
  PF_Fixed value;
  PF_Fixed dephault;
  PF_Fixed valid_min, valid_max;
};

union PF_ParamDefUnion {
  PF_LayerDef ld;
  PF_FloatSliderDef fs_d;
  PF_PopupDef pd;
  PF_CheckBoxDef bd;
  PF_AngleDef ad;
};

struct PF_ParamDef {
  union {
    A_long id;
    A_long change_flags;
  } uu;
  PF_ParamUIFlags ui_flags;
  A_short ui_width;
  A_short ui_height;
  PF_ParamType param_type;
  A_char name[32];
  PF_ParamFlags flags;
  A_long unused;
  PF_ParamDefUnion u;
};
typedef PF_ParamDef* PF_ParamDefPtr;
typedef PF_ParamDef** PF_ParamList;

struct PF_CustomUIInfo {
  A_long events;
  A_long comp_ui_width, comp_ui_height, comp_ui_alignment;
  A_long layer_ui_width, layer_ui_height, layer_ui_alignment;
  A_long preview_ui_width, preview_ui_height, preview_ui_alignment;
};

struct PF_InteractCallbacks {
  PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                           A_long time_step, A_u_long time_scale, PF_ParamDef* param);
  PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
  PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
  PF_Err (*abort)(PF_ProgPtr effect_ref);
  PF_Err (*progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
  PF_Err (*register_ui)(PF_ProgPtr effect_ref, PF_CustomUIInfo* cust_info);
};

typedef A_long PF_PlatDataID;
enum : A_long { PF_PlatData_MAIN_WND = 0 };

struct PF_UtilCallbacks {
  PF_Err (*get_platform_data)(PF_ProgPtr effect_ref, PF_PlatDataID which, void* data);
};

struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char* name, A_long version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, A_long version);
  PF_Boolean (*IsEqual)(const char* token1, const char* token2);
  SPErr (*AllocateBlock)(size_t size, void** block);
  SPErr (*FreeBlock)(void* block);
  SPErr (*ReallocateBlock)(void* block, size_t new_size, void** new_block);
  SPErr (*Undefined)(void);
};

struct PF_InData {
  PF_InteractCallbacks inter;
  PF_UtilCallbacks* utils;
  PF_ProgPtr effect_ref;
  A_long current_time;
  A_long time_step;
  A_long total_time;
  A_u_long time_scale;
  A_long width;
  A_long height;
  A_long output_origin_x;
  A_long output_origin_y;
  PF_RationalScale downsample_x;
  PF_RationalScale downsample_y;
  PF_RationalScale pixel_aspect_ratio;
  SPBasicSuite* pica_basicP;
};

struct PF_OutData {
  A_u_long my_version;
  A_char name[32];
  void* global_data;
  A_long num_params;
  void* sequence_data;
  A_long width;
  A_long height;
  PF_OutFlags out_flags;
  A_char return_msg[256];
  PF_OutFlags2 out_flags2;
};

struct PF_UserChangedParamExtra {
  PF_ParamIndex param_index;
};

// Registration call through which the effect announces itself at load time.
typedef PF_Err (*PF_PluginDataCB2)(void* inPtr, const A_u_char* inNodeName, const A_u_char* inMatchName,
                                   const A_u_char* inCategoryName, const A_u_char* inEntryPointName,
                                   A_long inkind, A_long inApiVersionMajor, A_long inApiVersionMinor,
                                   A_long inReservedInfo, const A_u_char* inSupportURL);

}  // extern "C"
