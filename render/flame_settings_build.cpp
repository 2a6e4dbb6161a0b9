#include "render/flame_settings_build.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "cpu/colour_shaping.h"
#include "render/non_finite.h"

namespace {

struct ParamRange {
  float FlameParams::*field;
  float lo;
  float hi;
  const char* message;
};

// Checked in this order; the first non-finite value names the failure.
constexpr ParamRange kParamRanges[] = {
    {&FlameParams::density, 0.0f, 2.0f, "Non-finite parameter: Density"},
    {&FlameParams::stepSize, 0.001f, 2.0f, "Non-finite parameter: Step Size"},
    {&FlameParams::sphereRadius, 0.1f, 30.0f, "Non-finite parameter: Sphere Radius"},
    {&FlameParams::noiseAmplitude, 0.0f, 30.0f, "Non-finite parameter: Noise Amplitude"},
    {&FlameParams::noiseFrequency, 0.01f, 20.0f, "Non-finite parameter: Noise Frequency"},
    {&FlameParams::animationSpeed, -20.0f, 20.0f, "Non-finite parameter: Animation Speed"},
    {&FlameParams::animationOffset, -1000.0f, 1000.0f, "Non-finite parameter: Animation Offset"},
    {&FlameParams::noiseDirectionX, -10.0f, 10.0f, "Non-finite parameter: Noise Direction X"},
    {&FlameParams::noiseDirectionY, -10.0f, 10.0f, "Non-finite parameter: Noise Direction Y"},
    {&FlameParams::noiseDirectionZ, -10.0f, 10.0f, "Non-finite parameter: Noise Direction Z"},
    {&FlameParams::brightness, -4.0f, 8.0f, "Non-finite parameter: Brightness"},
    {&FlameParams::contrast, 0.0f, 8.0f, "Non-finite parameter: Contrast"},
    {&FlameParams::saturation, 0.0f, 8.0f, "Non-finite parameter: Saturation"},
    {&FlameParams::tintAmount, 0.0f, 1.0f, "Non-finite parameter: Tint Amount"},
    {&FlameParams::tintRed, -8.0f, 16.0f, "Non-finite parameter: Tint Red"},
    {&FlameParams::tintGreen, -8.0f, 16.0f, "Non-finite parameter: Tint Green"},
    {&FlameParams::tintBlue, -8.0f, 16.0f, "Non-finite parameter: Tint Blue"},
    {&FlameParams::innerHue, -360.0f, 720.0f, "Non-finite parameter: Color 1 Hue"},
    {&FlameParams::innerGain, 0.0f, 1000.0f, "Non-finite parameter: Color 1 Gain"},
    {&FlameParams::innerOpacity, 0.0f, 100.0f, "Non-finite parameter: Color 1 Opacity"},
    {&FlameParams::mainHue, -360.0f, 720.0f, "Non-finite parameter: Color 2 Hue"},
    {&FlameParams::mainGain, 0.0f, 1000.0f, "Non-finite parameter: Color 2 Gain"},
    {&FlameParams::mainOpacity, 0.0f, 100.0f, "Non-finite parameter: Color 2 Opacity"},
    {&FlameParams::outerHue, -360.0f, 720.0f, "Non-finite parameter: Color 3 Hue"},
    {&FlameParams::outerGain, 0.0f, 1000.0f, "Non-finite parameter: Color 3 Gain"},
    {&FlameParams::outerOpacity, 0.0f, 100.0f, "Non-finite parameter: Color 3 Opacity"},
    {&FlameParams::zoom, 0.1f, 10.0f, "Non-finite parameter: View Zoom"},
    {&FlameParams::centerX, -20.0f, 20.0f, "Non-finite parameter: View Center X"},
    {&FlameParams::centerY, -20.0f, 20.0f, "Non-finite parameter: View Center Y"},
    {&FlameParams::cameraDistance, 1.0f, 40.0f, "Non-finite parameter: Camera Distance"},
};

constexpr double kMaxAnimationTime = 1000000.0;

float clampFloat(float value, float lo, float hi) {
  if (value > hi) return hi;
  if (value < lo) return lo;
  return value;
}

float hueChannel(float f, float offset) {
  float t = (f + offset) - kernelFloor(f + offset);
  return clampFloat(kernelAbs(t * 6.0f - 3.0f) - 1.0f, 0.0f, 1.0f);
}

uint32_t stepsForQuality(int32_t quality) {
  if (quality <= 0) return 64;
  if (quality == 1) return 128;
  return 256;
}

float4 add(float4 a, float4 b) { return make_float4(a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w); }

}  // namespace

double downsampledSize(int32_t fullSize, double downsample) {
  return std::trunc(double(fullSize) * downsample + 0.999999999);
}

float4 paletteColorFromHue(float hue, float gain, float opacity) {
  float f = hue / 360.0f - kernelFloor(hue / 360.0f);
  return make_float4((gain * hueChannel(f, 0.0f)) * 0.01f, (gain * hueChannel(f, 0.6666667f)) * 0.01f,
                     (gain * hueChannel(f, 0.33333334f)) * 0.01f, opacity * 0.01f);
}

FlameSettings& buildFlameSettings(FlameSettings& settings, const FrameGeometry& output, FlameParams& params,
                                  const RenderRequest& request) {
  for (const ParamRange& range : kParamRanges) {
    float& value = params.*range.field;
    if (isNonFinite(value)) throw std::runtime_error(range.message);
    value = clampFloat(value, range.lo, range.hi);
  }

  if (isNonFinite(params.timeSeconds)) throw std::runtime_error("Non-finite time");
  double animationTime =
      params.timeSeconds * 1.2 * double(params.animationSpeed) + double(params.animationOffset);
  if (isNonFinite(animationTime) || std::fabs(animationTime) > kMaxAnimationTime) {
    throw std::runtime_error("Animation time exceeds supported range");
  }

  std::memset(&settings, 0, sizeof settings);
  settings.width = uint32_t(output.width);
  settings.height = uint32_t(output.height);
  settings.steps = stepsForQuality(params.quality);
  settings.frameWidth = float(downsampledSize(request.layerWidth, request.downsampleX));
  settings.frameHeight = float(downsampledSize(request.layerHeight, request.downsampleY));
  settings.originX = float(output.originX);
  settings.originY = float(output.originY);
  settings.aspect = float(double(request.layerWidth) * request.pixelAspect / double(request.layerHeight));
  settings.zoom = params.zoom;
  settings.centerX = params.centerX;
  settings.centerY = params.centerY;
  settings.camera = params.cameraDistance;
  settings.time = float(animationTime);
  settings.stepSize = params.stepSize;
  settings.density = params.density;
  settings.radius = params.sphereRadius;
  settings.frequency = params.noiseFrequency;
  settings.amplitude = params.noiseAmplitude;
  settings.brightness = params.brightness;
  settings.animX = params.noiseDirectionX;
  settings.animY = params.noiseDirectionY;
  settings.animZ = params.noiseDirectionZ;
  settings.contrast = params.contrast;
  settings.saturation = params.saturation;
  settings.tint = params.tintAmount;
  settings.tintR = params.tintRed;
  settings.tintG = params.tintGreen;
  settings.tintB = params.tintBlue;

  if (isNonFinite(params.riseSpeed)) throw std::runtime_error("Non-finite rise speed");
  settings.riseSpeed = clampFloat(params.riseSpeed, -10.0f, 10.0f);
  if (isNonFinite(params.riseHeight)) throw std::runtime_error("Non-finite rise height");
  settings.smoothSampling = params.smoothSampling != 0 ? 1 : 0;
  settings.emitterMode = uint32_t(params.emitterSource < 0 ? 0 : params.emitterSource > 2 ? 2 : params.emitterSource);
  settings.riseHeight = (clampFloat(params.riseHeight, 1.0f, 100.0f) * 0.01f) * settings.frameHeight;

  settings.color0 = paletteColorFromHue(params.innerHue, params.innerGain, params.innerOpacity);
  settings.color1 = paletteColorFromHue(params.mainHue, params.mainGain, params.mainOpacity);
  settings.color3 = paletteColorFromHue(params.outerHue, params.outerGain, params.outerOpacity);

  const float4 clear = make_float4(0.0f, 0.0f, 0.0f, 0.0f);
  settings.integralBase[0] = clear;
  settings.integralBase[1] = segmentIntegral(settings.color0, settings.color1, 1.0f);
  settings.integralBase[2] = add(settings.integralBase[1], segmentIntegral(settings.color1, clear, 1.0f));
  settings.integralBase[3] = add(settings.integralBase[2], segmentIntegral(clear, settings.color3, 1.0f));
  return settings;
}
