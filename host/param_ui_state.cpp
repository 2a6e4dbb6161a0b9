#include "host/param_ui_state.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/acquired_suite.h"
#include "host/param_checkout.h"
#include "host/parameter_set.h"
#include "sdk/suites_sdk.h"
#include "render/non_finite.h"

namespace {

// The slider holds the value of record (it is what renders and what keeps keyframes); the angle
// is only its editor.
struct HueMirror {
  PF_ParamIndex slider;
  PF_ParamIndex angle;
};

constexpr HueMirror kHueMirrors[] = {
    {kParamInnerHue, kParamInnerHueAngle},
    {kParamMainHue, kParamMainHueAngle},
    {kParamOuterHue, kParamOuterHueAngle},
};

struct EnableRule {
  PF_ParamIndex position;
  bool usedByVolume;  // true: greyed out for a layer source; false: greyed out for the volume
};

constexpr EnableRule kEnableRules[] = {
    {kParamEmitterLayer, false}, {kParamRiseHeight, false},  {kParamRiseSpeed, false},
    {kParamStepSize, true},      {kParamSphereRadius, true}, {kParamCameraDistance, true},
};


constexpr double kFixedOne = 65536.0;  // 16.16 fixed point

double clampToSliderRange(double degrees, const PF_FloatSliderDef& slider) {
  if (degrees > double(slider.valid_max)) return double(slider.valid_max);
  if (degrees < double(slider.valid_min)) return double(slider.valid_min);
  return degrees;
}

// The render refuses an array with a missing entry; the panel handlers refuse it as they refuse
// a missing array, before changing anything.
bool hasEveryEntryUsed(PF_ParamDef* params[]) {
  if (params == nullptr || params[kParamEmitterSource] == nullptr) return false;
  for (const HueMirror& mirror : kHueMirrors) {
    if (params[mirror.slider] == nullptr || params[mirror.angle] == nullptr) return false;
  }
  for (const EnableRule& rule : kEnableRules) {
    if (params[rule.position] == nullptr) return false;
  }
  return true;
}

}  // namespace

PF_Err onUserChangedParam(PF_InData* in_data, PF_ParamDef* params[], const PF_UserChangedParamExtra* extra) {
  if (!hasEveryEntryUsed(params) || extra == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  for (const HueMirror& mirror : kHueMirrors) {
    if (extra->param_index != mirror.angle) continue;
    PF_ParamDef& slider = *params[mirror.slider];
    const double degrees = clampToSliderRange(params[mirror.angle]->u.ad.value / kFixedOne, slider.u.fs_d);
    // Any inequality counts, a NaN on either side included.
    if (!(degrees == slider.u.fs_d.value)) {
      slider.u.fs_d.value = degrees;
      slider.uu.change_flags = PF_ChangeFlag_CHANGED_VALUE;
    }
  }
  return syncParamsUi(in_data, params);
}

PF_Err syncParamsUi(PF_InData* in_data, PF_ParamDef* params[]) {
  if (!hasEveryEntryUsed(params)) return PF_Err_BAD_CALLBACK_PARAM;
  AcquiredSuite<PF_ParamUtilsSuite3> paramUtils(in_data, kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3);
  if (paramUtils.get() == nullptr || paramUtils->PF_UpdateParamUI == nullptr) throw PF_Err_INVALID_CALLBACK;

  for (const HueMirror& mirror : kHueMirrors) {
    PF_ParamDef angle = *params[mirror.angle];
    const PF_FloatSliderDef& slider = params[mirror.slider]->u.fs_d;
    if (isNonFinite(slider.value)) throw PF_Err_BAD_CALLBACK_PARAM;
    // std::round takes halves away from zero. A host's slider range may exceed what 16.16 fixed
    // point holds; the dial then stops at its end rather than wrapping.
    const double fixed = std::round(clampToSliderRange(slider.value, slider) * kFixedOne);
    angle.u.ad.value = PF_Fixed(std::clamp(fixed, double(std::numeric_limits<PF_Fixed>::min()),
                                           double(std::numeric_limits<PF_Fixed>::max())));
    angle.uu.change_flags = 0;
    if (PF_Err err = paramUtils->PF_UpdateParamUI(in_data->effect_ref, mirror.angle, &angle)) return err;
  }

  // The render's own reading of the popup, so that out-of-range values grey what it ignores.
  const bool volumeSource = choiceCode(params[kParamEmitterSource]->u.pd.value) == 0;
  for (const EnableRule& rule : kEnableRules) {
    PF_ParamDef def = *params[rule.position];
    const bool disabled = rule.usedByVolume != volumeSource;
    const PF_ParamUIFlags flags = disabled ? (def.ui_flags | PF_PUI_DISABLED) : (def.ui_flags & ~PF_PUI_DISABLED);
    if (flags == def.ui_flags) continue;
    def.ui_flags = flags;
    def.uu.change_flags = 0;
    if (PF_Err err = paramUtils->PF_UpdateParamUI(in_data->effect_ref, rule.position, &def)) return err;
  }
  return PF_Err_NONE;
}
