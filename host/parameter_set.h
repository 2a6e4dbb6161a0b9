// The effect's controls as declared to the host at parameter set-up.
//
// Positions and identifiers are a persisted format: projects store values and keyframes under the
// identifiers, and every other part of the effect reads a control by its position.
#pragma once

#include "sdk/effect_sdk.h"

enum ParamPosition : PF_ParamIndex {
  kParamInput = 0,  // the host's own input layer, never declared by the effect
  kParamAbout = 1,  // banner control area
  kParamQuality = 2,
  kParamProcessing = 3,
  kParamSmoothSampling = 4,
  kParamEmitterGroup = 5,
  kParamEmitterSource = 6,
  kParamEmitterLayer = 7,
  kParamRiseHeight = 8,
  kParamRiseSpeed = 9,
  kParamEmitterGroupEnd = 10,
  kParamDensity = 11,
  kParamStepSize = 12,
  kParamSphereRadius = 13,
  kParamNoiseAmplitude = 14,
  kParamNoiseFrequency = 15,
  kParamAnimationSpeed = 16,
  kParamAnimationOffset = 17,
  kParamNoiseFlowGroup = 18,
  kParamNoiseDirectionX = 19,
  kParamNoiseDirectionY = 20,
  kParamNoiseDirectionZ = 21,
  kParamNoiseFlowGroupEnd = 22,
  kParamColorAdjustmentGroup = 23,
  kParamBrightness = 24,
  kParamContrast = 25,
  kParamSaturation = 26,
  kParamColorAdjustmentGroupEnd = 27,
  kParamTintGroup = 28,
  kParamTintAmount = 29,
  kParamTintRed = 30,
  kParamTintGreen = 31,
  kParamTintBlue = 32,
  kParamTintGroupEnd = 33,
  kParamInnerColorGroup = 34,
  kParamInnerHue = 35,  // hidden slider holding the keyframable hue in degrees
  kParamInnerHueAngle = 36,  // visible angle editing it, never keyframed
  kParamInnerGain = 37,
  kParamInnerOpacity = 38,
  kParamInnerColorGroupEnd = 39,
  kParamMainColorGroup = 40,
  kParamMainHue = 41,
  kParamMainHueAngle = 42,
  kParamMainGain = 43,
  kParamMainOpacity = 44,
  kParamMainColorGroupEnd = 45,
  kParamOuterColorGroup = 46,
  kParamOuterHue = 47,
  kParamOuterHueAngle = 48,
  kParamOuterGain = 49,
  kParamOuterOpacity = 50,
  kParamOuterColorGroupEnd = 51,
  kParamViewGroup = 52,
  kParamZoom = 53,
  kParamCenterX = 54,
  kParamCenterY = 55,
  kParamCameraDistance = 56,
  kParamViewGroupEnd = 57,
  kParamCount = 58,
};

// Text of the options button; pressing it sends PF_Cmd_DO_DIALOG.
inline constexpr const char* kOptionsButtonName = "About...";

// Declares positions 1..57 through add_param, reports kParamCount parameters, then names the
// options button and registers the banner control. A failing add_param is returned at once.
PF_Err setupParameters(PF_InData* in_data, PF_OutData* out_data);

// Names the options button "About..." and registers the effect-panel control for custom UI
// events. Raises PF_Err_INVALID_CALLBACK (as the enumeration type) when the host's effect UI
// suite cannot be acquired.
PF_Err installOptionsButton(PF_InData* in_data);

// The short display name of a control inside its group ("X", "Hue", "Gain"), or longName for a
// position that has none.
const char* shortParamName(PF_ParamIndex position, const char* longName);
