#include "host/param_checkout.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/parameter_set.h"

namespace {

// The host's value of one parameter, either from the array or through a checkout that is
// checked back in before returning.
template <typename Read>
auto readParam(PF_InData* in_data, PF_ParamDef* params[], PF_ParamIndex position, Read read) {
  if (params != nullptr) {
    if (params[position] == nullptr) throw PF_Err_BAD_CALLBACK_PARAM;
    return read(*params[position]);
  }
  if (in_data->inter.checkout_param == nullptr || in_data->inter.checkin_param == nullptr) {
    throw PF_Err_INVALID_CALLBACK;
  }
  PF_ParamDef def{};
  PF_Err err = in_data->inter.checkout_param(in_data->effect_ref, position, in_data->current_time,
                                             in_data->time_step, in_data->time_scale, &def);
  if (err != PF_Err_NONE) throw err;
  auto value = read(def);
  in_data->inter.checkin_param(in_data->effect_ref, &def);
  return value;
}

double ratio(PF_RationalScale scale) {
  if (scale.den == 0) return 1.0;
  return double(scale.num) / double(scale.den);
}

bool askHostToStop(void* context) {
  PF_InData* in_data = static_cast<PF_InData*>(context);
  return in_data->inter.abort(in_data->effect_ref) != PF_Err_NONE;
}

struct SliderField {
  PF_ParamIndex position;
  float FlameParams::*field;
};

// The 30 float sliders in the order they are read.
constexpr SliderField kSliderFields[] = {
    {kParamDensity, &FlameParams::density},
    {kParamStepSize, &FlameParams::stepSize},
    {kParamSphereRadius, &FlameParams::sphereRadius},
    {kParamNoiseAmplitude, &FlameParams::noiseAmplitude},
    {kParamNoiseFrequency, &FlameParams::noiseFrequency},
    {kParamAnimationSpeed, &FlameParams::animationSpeed},
    {kParamAnimationOffset, &FlameParams::animationOffset},
    {kParamNoiseDirectionX, &FlameParams::noiseDirectionX},
    {kParamNoiseDirectionY, &FlameParams::noiseDirectionY},
    {kParamNoiseDirectionZ, &FlameParams::noiseDirectionZ},
    {kParamBrightness, &FlameParams::brightness},
    {kParamContrast, &FlameParams::contrast},
    {kParamSaturation, &FlameParams::saturation},
    {kParamTintAmount, &FlameParams::tintAmount},
    {kParamTintRed, &FlameParams::tintRed},
    {kParamTintGreen, &FlameParams::tintGreen},
    {kParamTintBlue, &FlameParams::tintBlue},
    {kParamInnerHue, &FlameParams::innerHue},
    {kParamInnerGain, &FlameParams::innerGain},
    {kParamInnerOpacity, &FlameParams::innerOpacity},
    {kParamMainHue, &FlameParams::mainHue},
    {kParamMainGain, &FlameParams::mainGain},
    {kParamMainOpacity, &FlameParams::mainOpacity},
    {kParamOuterHue, &FlameParams::outerHue},
    {kParamOuterGain, &FlameParams::outerGain},
    {kParamOuterOpacity, &FlameParams::outerOpacity},
    {kParamZoom, &FlameParams::zoom},
    {kParamCenterX, &FlameParams::centerX},
    {kParamCenterY, &FlameParams::centerY},
    {kParamCameraDistance, &FlameParams::cameraDistance},
};

}  // namespace

// Clamped before the subtraction, which would overflow for INT_MIN.
int32_t choiceCode(A_long choice) { return std::clamp<A_long>(choice, 1, 3) - 1; }

float readFloatParam(PF_InData* in_data, PF_ParamDef* params[], PF_ParamIndex position) {
  return readParam(in_data, params, position, [](const PF_ParamDef& def) {
    // A finite value beyond single precision is very large, not missing: it becomes the largest
    // float and is clamped to the control's range like any other value beyond it.
    const double value = def.u.fs_d.value;
    const double largest = std::numeric_limits<float>::max();
    return float(std::isfinite(value) ? std::clamp(value, -largest, largest) : value);
  });
}

A_long readIntParam(PF_InData* in_data, PF_ParamDef* params[], PF_ParamIndex position) {
  return readParam(in_data, params, position, [](const PF_ParamDef& def) { return def.u.pd.value; });
}

FlameParams checkoutFlameParams(PF_InData* in_data, PF_ParamDef* params[]) {
  FlameParams result;
  for (const SliderField& slider : kSliderFields) {
    result.*slider.field = readFloatParam(in_data, params, slider.position);
  }
  result.timeSeconds = in_data->time_scale == 0 ? 0.0 : double(in_data->current_time) / double(in_data->time_scale);
  result.quality = choiceCode(readIntParam(in_data, params, kParamQuality));
  result.processing = choiceCode(readIntParam(in_data, params, kParamProcessing));
  result.smoothSampling = readParam(in_data, params, kParamSmoothSampling,
                                    [](const PF_ParamDef& def) { return def.u.bd.value != 0 ? 1 : 0; });
  result.emitterSource = choiceCode(readIntParam(in_data, params, kParamEmitterSource));
  result.riseHeight = readFloatParam(in_data, params, kParamRiseHeight);
  result.riseSpeed = readFloatParam(in_data, params, kParamRiseSpeed);
  return result;
}

RenderRequest makeRenderRequest(PF_InData* in_data) {
  RenderRequest request;
  request.layerWidth = in_data->width;
  request.layerHeight = in_data->height;
  request.downsampleX = ratio(in_data->downsample_x);
  request.downsampleY = ratio(in_data->downsample_y);
  request.pixelAspect = ratio(in_data->pixel_aspect_ratio);
  if (in_data->inter.abort != nullptr) {
    request.abortCheck = askHostToStop;
    request.abortContext = in_data;
  }
  return request;
}

FrameGeometry geometryFromWorld(const PF_EffectWorld* world) {
  FrameGeometry geometry;
  if (world == nullptr) return geometry;
  geometry.pixels = world->data;
  geometry.width = world->width;
  geometry.height = world->height;
  geometry.rowBytes = world->rowbytes;
  return geometry;
}
