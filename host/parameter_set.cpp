#include "host/parameter_set.h"

#include <cstring>
#include <iterator>

#include "host/acquired_suite.h"
#include "sdk/suites_sdk.h"

namespace {

struct ValueRange {
  float min;
  float max;
};

// One declared control. Fields a type does not use stay zero.
struct ParamRow {
  PF_ParamType type = 0;
  A_long id = 0;
  const char* name = nullptr;  // none for group ends
  PF_ParamFlags flags = 0;
  PF_ParamUIFlags uiFlags = 0;
  float dephault = 0.0f;  // slider value, popup choice counted from 1, or angle in whole degrees
  ValueRange valid{};
  ValueRange slider{};
  A_short precision = 0;  // decimals shown
  A_short displayFlags = 0;
  const char* choices = nullptr;  // popup choices separated by "|"
};

constexpr A_short kPercent = PF_ValueDisplayFlag_PERCENT;
constexpr A_short kBannerWidth = 240;
constexpr A_short kBannerHeight = 60;
constexpr A_short kPopupChoiceCount = 3;

constexpr ParamRow customControl(A_long id, const char* name) {
  return {.type = PF_Param_NO_DATA, .id = id, .name = name,
          .flags = PF_ParamFlag_CANNOT_TIME_VARY | PF_ParamFlag_CANNOT_INTERP,
          .uiFlags = PF_PUI_CONTROL};
}

constexpr ParamRow popup(A_long id, const char* name, int choice, const char* choices,
                         PF_ParamFlags flags = 0) {
  return {.type = PF_Param_POPUP, .id = id, .name = name, .flags = flags,
          .dephault = float(choice), .choices = choices};
}

constexpr ParamRow checkbox(A_long id, const char* name) {
  return {.type = PF_Param_CHECKBOX, .id = id, .name = name};
}

constexpr ParamRow layer(A_long id, const char* name) {
  return {.type = PF_Param_LAYER, .id = id, .name = name};
}

constexpr ParamRow slider(A_long id, const char* name, float dephault, ValueRange valid,
                          ValueRange slider, A_short precision, A_short displayFlags = 0) {
  return {.type = PF_Param_FLOAT_SLIDER, .id = id, .name = name, .dephault = dephault,
          .valid = valid, .slider = slider, .precision = precision, .displayFlags = displayFlags};
}

// The keyframable hue in degrees; it never shows in the effect panel, its angle control edits it.
constexpr ParamRow hiddenHue(A_long id, float degrees) {
  return {.type = PF_Param_FLOAT_SLIDER, .id = id, .name = "Hue",
          .flags = PF_ParamFlag_COLLAPSE_TWIRLY | PF_ParamFlag_SUPERVISE,
          .uiFlags = PF_PUI_NO_ECW_UI, .dephault = degrees, .valid = {-360.0f, 720.0f},
          .slider = {0.0f, 360.0f}, .precision = 2};
}

// The hue dial the user turns; it holds no keyframes of its own.
constexpr ParamRow hueAngle(A_long id, int degrees) {
  return {.type = PF_Param_ANGLE, .id = id, .name = "Hue",
          .flags = PF_ParamFlag_CANNOT_TIME_VARY | PF_ParamFlag_SUPERVISE,
          .uiFlags = PF_PUI_STD_CONTROL_ONLY, .dephault = float(degrees)};
}

constexpr ParamRow groupStart(A_long id, const char* name) {
  return {.type = PF_Param_GROUP_START, .id = id, .name = name,
          .flags = PF_ParamFlag_COLLAPSE_TWIRLY};
}

constexpr ParamRow groupEnd(A_long id) {
  return {.type = PF_Param_GROUP_END, .id = id, .name = nullptr};
}

// Row i declares position i + 1. Identifiers are the keys projects store values under, hence
// their historical order.
constexpr ParamRow kParamTable[] = {
    customControl(33, "About"),
    popup(31, "Quality", 3, "Draft (64)|Balanced (128)|Original (256)"),
    popup(32, "Processing", 1, "Auto (GPU preferred)|GPU required|CPU"),
    checkbox(51, "Smooth Sampling"),
    groupStart(52, "Emitter"),
    popup(53, "Source", 1, "Original Volume|Layer Alpha|Layer Luma", PF_ParamFlag_SUPERVISE),
    layer(54, "Emitter Layer"),
    slider(55, "Rise Height", 35.0f, {1.0f, 100.0f}, {1.0f, 60.0f}, 1, kPercent),
    slider(57, "Rise Speed", 1.5f, {-10.0f, 10.0f}, {-3.0f, 3.0f}, 2),
    groupEnd(56),
    slider(1, "Density", 1.0f, {0.0f, 2.0f}, {0.0f, 2.0f}, 2),
    slider(2, "Step Size", 0.5f, {0.001f, 2.0f}, {0.1f, 1.0f}, 2),
    slider(3, "Sphere Radius", 7.0f, {0.1f, 30.0f}, {1.0f, 12.0f}, 2),
    slider(4, "Noise Amplitude", 9.0f, {0.0f, 30.0f}, {0.0f, 15.0f}, 2),
    slider(5, "Noise Frequency", 1.5f, {0.01f, 20.0f}, {0.1f, 5.0f}, 2),
    slider(6, "Animation Speed", 1.0f, {-20.0f, 20.0f}, {-3.0f, 3.0f}, 2),
    slider(7, "Animation Offset", 0.0f, {-1000.0f, 1000.0f}, {-10.0f, 10.0f}, 2),
    groupStart(34, "Noise Flow"),
    slider(8, "Noise Direction X", 0.0f, {-10.0f, 10.0f}, {-2.0f, 2.0f}, 2),
    slider(9, "Noise Direction Y", 0.3f, {-10.0f, 10.0f}, {-2.0f, 2.0f}, 2),
    slider(10, "Noise Direction Z", 1.0f, {-10.0f, 10.0f}, {-2.0f, 2.0f}, 2),
    groupEnd(35),
    groupStart(36, "Color Adjustment"),
    slider(11, "Brightness", 0.3f, {-4.0f, 8.0f}, {0.0f, 2.0f}, 2),
    slider(12, "Contrast", 1.3f, {0.0f, 8.0f}, {0.0f, 3.0f}, 2),
    slider(13, "Saturation", 0.1f, {0.0f, 8.0f}, {0.0f, 3.0f}, 2),
    groupEnd(37),
    groupStart(38, "Tint"),
    slider(14, "Tint Amount", 0.23f, {0.0f, 1.0f}, {0.0f, 1.0f}, 2),
    slider(15, "Red", 3.8f, {-8.0f, 16.0f}, {-2.0f, 5.0f}, 2),
    slider(16, "Green", 0.8f, {-8.0f, 16.0f}, {-2.0f, 5.0f}, 2),
    slider(17, "Blue", -1.4f, {-8.0f, 16.0f}, {-2.0f, 5.0f}, 2),
    groupEnd(39),
    groupStart(40, "Inner Color"),
    hiddenHue(18, 38.0f),
    hueAngle(48, 38),
    slider(19, "Gain", 148.0f, {0.0f, 1000.0f}, {0.0f, 500.0f}, 2, kPercent),
    slider(20, "Opacity", 40.0f, {0.0f, 100.0f}, {0.0f, 100.0f}, 2, kPercent),
    groupEnd(41),
    groupStart(42, "Main Color"),
    hiddenHue(21, 35.0f),
    hueAngle(49, 35),
    slider(22, "Gain", 382.0f, {0.0f, 1000.0f}, {0.0f, 500.0f}, 2, kPercent),
    slider(23, "Opacity", 50.0f, {0.0f, 100.0f}, {0.0f, 100.0f}, 2, kPercent),
    groupEnd(43),
    groupStart(44, "Outer Color"),
    hiddenHue(24, 61.0f),
    hueAngle(50, 61),
    slider(25, "Gain", 100.0f, {0.0f, 1000.0f}, {0.0f, 500.0f}, 2, kPercent),
    slider(26, "Opacity", 10.0f, {0.0f, 100.0f}, {0.0f, 100.0f}, 2, kPercent),
    groupEnd(45),
    groupStart(46, "View"),
    slider(27, "Zoom", 1.0f, {0.1f, 10.0f}, {0.25f, 3.0f}, 2),
    slider(28, "Center X", 0.0f, {-20.0f, 20.0f}, {-5.0f, 5.0f}, 2),
    slider(29, "Center Y", 0.0f, {-20.0f, 20.0f}, {-5.0f, 5.0f}, 2),
    slider(30, "Camera Distance", 8.0f, {1.0f, 40.0f}, {4.0f, 16.0f}, 2),
    groupEnd(47),
};
static_assert(std::size(kParamTable) == kParamCount - 1, "one row per declared position");

PF_ParamDef makeParamDef(const ParamRow& row, PF_ParamIndex position) {
  PF_ParamDef def{};
  def.uu.id = row.id;
  def.param_type = row.type;
  def.flags = row.flags;
  def.ui_flags = row.uiFlags;
  if (row.name != nullptr) {
    std::strncpy(def.name, shortParamName(position, row.name), sizeof(def.name));
    def.name[sizeof(def.name) - 1] = '\0';
  }
  switch (row.type) {
    case PF_Param_FLOAT_SLIDER:
      // The current value is the float default widened, not the double nearest the decimal.
      def.u.fs_d.value = double(row.dephault);
      def.u.fs_d.dephault = row.dephault;
      def.u.fs_d.valid_min = row.valid.min;
      def.u.fs_d.valid_max = row.valid.max;
      def.u.fs_d.slider_min = row.slider.min;
      def.u.fs_d.slider_max = row.slider.max;
      def.u.fs_d.precision = row.precision;
      def.u.fs_d.display_flags = row.displayFlags;
      def.u.fs_d.curve_tolerance = 0.05f;
      break;
    case PF_Param_POPUP:
      def.u.pd.value = A_long(row.dephault);
      def.u.pd.dephault = A_short(row.dephault);
      def.u.pd.num_choices = kPopupChoiceCount;
      def.u.pd.u.namesptr = row.choices;
      break;
    case PF_Param_CHECKBOX:
      def.u.bd.value = 1;
      def.u.bd.dephault = 1;
      def.u.bd.u.nameptr = "";
      break;
    case PF_Param_LAYER:
      def.u.ld.dephault = PF_LayerDefault_MYSELF;
      break;
    case PF_Param_ANGLE:
      // 16.16 fixed-point degrees: 38 degrees is 0x00260000.
      def.u.ad.value = PF_Fixed(row.dephault) * 65536;
      def.u.ad.dephault = def.u.ad.value;
      break;
    case PF_Param_NO_DATA:
      def.ui_width = kBannerWidth;
      def.ui_height = kBannerHeight;
      break;
    default:
      break;
  }
  return def;
}

}  // namespace

const char* shortParamName(PF_ParamIndex position, const char* longName) {
  switch (position) {
    case kParamNoiseDirectionX: return "X";
    case kParamNoiseDirectionY: return "Y";
    case kParamNoiseDirectionZ: return "Z";
    case kParamTintAmount: return "Amount";
    case kParamTintRed: return "Red";
    case kParamTintGreen: return "Green";
    case kParamTintBlue: return "Blue";
    case kParamInnerHue:
    case kParamMainHue:
    case kParamOuterHue: return "Hue";
    case kParamInnerGain:
    case kParamMainGain:
    case kParamOuterGain: return "Gain";
    case kParamInnerOpacity:
    case kParamMainOpacity:
    case kParamOuterOpacity: return "Opacity";
    case kParamZoom: return "Zoom";
    case kParamCenterX: return "Center X";
    case kParamCenterY: return "Center Y";
    default: return longName;
  }
}

PF_Err setupParameters(PF_InData* in_data, PF_OutData* out_data) {
  if (in_data == nullptr || out_data == nullptr) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (in_data->inter.add_param == nullptr) {
    return PF_Err_INVALID_CALLBACK;
  }
  PF_ParamIndex position = kParamAbout;
  for (const ParamRow& row : kParamTable) {
    PF_ParamDef def = makeParamDef(row, position);
    // -1 appends; the host numbers the definitions in call order.
    if (PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def); err != PF_Err_NONE) {
      return err;
    }
    ++position;
  }
  out_data->num_params = kParamCount;
  return installOptionsButton(in_data);
}

PF_Err installOptionsButton(PF_InData* in_data) {
  AcquiredSuite<PF_EffectUISuite1> effectUi(in_data, kPFEffectUISuite, kPFEffectUISuiteVersion1);
  if (effectUi.get() == nullptr || effectUi->PF_SetOptionsButtonName == nullptr) {
    throw PF_Err_INVALID_CALLBACK;
  }
  if (PF_Err err = effectUi->PF_SetOptionsButtonName(in_data->effect_ref, kOptionsButtonName);
      err != PF_Err_NONE) {
    return err;
  }
  if (in_data->inter.register_ui == nullptr) {
    return PF_Err_INVALID_CALLBACK;
  }
  // Only the effect-panel control (the banner at position 1) receives events.
  PF_CustomUIInfo info{};
  info.events = PF_CustomEFlag_EFFECT;
  return in_data->inter.register_ui(in_data->effect_ref, &info);
}
