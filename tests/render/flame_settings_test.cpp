#include "render/flame_settings_build.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

FrameGeometry outputOf(int width, int height) {
  FrameGeometry output;
  output.width = width;
  output.height = height;
  return output;
}

RenderRequest requestFor(int layerWidth, int layerHeight, double downsample = 1.0, double pixelAspect = 1.0) {
  RenderRequest request;
  request.layerWidth = layerWidth;
  request.layerHeight = layerHeight;
  request.downsampleX = downsample;
  request.downsampleY = downsample;
  request.pixelAspect = pixelAspect;
  return request;
}

FlameSettings build(FlameParams params, const RenderRequest& request = requestFor(1920, 1080)) {
  FlameSettings settings;
  buildFlameSettings(settings, outputOf(16, 9), params, request);
  return settings;
}

std::string failureOf(FlameParams params) {
  try {
    build(params);
  } catch (const std::runtime_error& failure) {
    return failure.what();
  }
  return "";
}

void expectColor(float4 color, float r, float g, float b, float a) {
  EXPECT_EQ(color.x, r);
  EXPECT_EQ(color.y, g);
  EXPECT_EQ(color.z, b);
  EXPECT_EQ(color.w, a);
}

TEST(FlameSettings, FirstNonFiniteParameterNamesTheFailure) {
  FlameParams everythingBad;
  everythingBad.density = kNaN;
  everythingBad.cameraDistance = kNaN;
  everythingBad.timeSeconds = std::nan("");
  everythingBad.riseSpeed = kNaN;
  EXPECT_EQ(failureOf(everythingBad), "Non-finite parameter: Density");

  struct Case {
    float FlameParams::*field;
    float value;
    const char* message;
  };
  const Case cases[] = {
      {&FlameParams::density, kInf, "Non-finite parameter: Density"},
      {&FlameParams::stepSize, -kInf, "Non-finite parameter: Step Size"},
      {&FlameParams::noiseDirectionZ, kNaN, "Non-finite parameter: Noise Direction Z"},
      {&FlameParams::tintAmount, kNaN, "Non-finite parameter: Tint Amount"},
      {&FlameParams::innerHue, kNaN, "Non-finite parameter: Color 1 Hue"},
      {&FlameParams::mainOpacity, kInf, "Non-finite parameter: Color 2 Opacity"},
      {&FlameParams::outerGain, kNaN, "Non-finite parameter: Color 3 Gain"},
      {&FlameParams::zoom, kNaN, "Non-finite parameter: View Zoom"},
      {&FlameParams::centerY, kNaN, "Non-finite parameter: View Center Y"},
      {&FlameParams::cameraDistance, kInf, "Non-finite parameter: Camera Distance"},
      {&FlameParams::riseSpeed, kNaN, "Non-finite rise speed"},
      {&FlameParams::riseHeight, -kInf, "Non-finite rise height"},
  };
  for (const Case& c : cases) {
    FlameParams params;
    params.*c.field = c.value;
    EXPECT_EQ(failureOf(params), c.message);
  }
}

TEST(FlameSettings, TimeRules) {
  FlameParams params;
  params.timeSeconds = 10.0;
  EXPECT_EQ(build(params).time, 12.0f);

  params.timeSeconds = 0.0;
  params.animationOffset = -1000.0f;
  EXPECT_EQ(build(params).time, -1000.0f);

  // 1,000,000 s x 1.2 leaves the range; the boundary itself passes.
  params = FlameParams{};
  params.timeSeconds = 1000000.0;
  EXPECT_EQ(failureOf(params), "Animation time exceeds supported range");
  // Exactly 1,000,000 passes: find the seconds whose animation time lands on it.
  double seconds = 1000000.0 / 1.2;
  while (seconds * 1.2 * 1.0 < 1000000.0) seconds = std::nextafter(seconds, 2e6);
  while (seconds * 1.2 * 1.0 > 1000000.0) seconds = std::nextafter(seconds, 0.0);
  ASSERT_EQ(seconds * 1.2 * 1.0, 1000000.0);
  params.timeSeconds = seconds;
  EXPECT_EQ(failureOf(params), "");
  EXPECT_EQ(build(params).time, 1000000.0f);
  params.timeSeconds = std::nextafter(std::nextafter(seconds, 2e6), 2e6);
  EXPECT_EQ(failureOf(params), "Animation time exceeds supported range");

  params = FlameParams{};
  params.timeSeconds = std::numeric_limits<double>::infinity();
  EXPECT_EQ(failureOf(params), "Non-finite time");
  // The time check comes after every parameter check.
  params.outerOpacity = kNaN;
  EXPECT_EQ(failureOf(params), "Non-finite parameter: Color 3 Opacity");
}

TEST(FlameSettings, ClampsSilentlyAndWritesBack) {
  FlameParams params;
  params.stepSize = 0.0f;
  params.cameraDistance = 100.0f;
  params.riseSpeed = 50.0f;
  params.riseHeight = 0.5f;
  FlameSettings settings;
  buildFlameSettings(settings, outputOf(4, 4), params, requestFor(1920, 1080));
  EXPECT_EQ(settings.stepSize, 0.001f);
  EXPECT_EQ(settings.camera, 40.0f);
  EXPECT_EQ(params.stepSize, 0.001f);
  EXPECT_EQ(params.cameraDistance, 40.0f);
  // Rise values are clamped into the record only.
  EXPECT_EQ(settings.riseSpeed, 10.0f);
  EXPECT_EQ(params.riseSpeed, 50.0f);
  EXPECT_EQ(settings.riseHeight, (1.0f * 0.01f) * 1080.0f);
  EXPECT_EQ(params.riseHeight, 0.5f);
}

// Every value reaches its own field of the record, the colour groups their own colours: each gets
// a value inside its range that no other has, so two fields filled from each other's values show.
TEST(FlameSettings, EveryValueReachesItsOwnField) {
  struct Field {
    float FlameParams::*param;
    float FlameSettings::*setting;
    float value;
  };
  const Field fields[] = {
      {&FlameParams::density, &FlameSettings::density, 1.25f},
      {&FlameParams::stepSize, &FlameSettings::stepSize, 0.75f},
      {&FlameParams::sphereRadius, &FlameSettings::radius, 6.5f},
      {&FlameParams::noiseAmplitude, &FlameSettings::amplitude, 4.5f},
      {&FlameParams::noiseFrequency, &FlameSettings::frequency, 2.25f},
      {&FlameParams::noiseDirectionX, &FlameSettings::animX, -1.5f},
      {&FlameParams::noiseDirectionY, &FlameSettings::animY, 1.75f},
      {&FlameParams::noiseDirectionZ, &FlameSettings::animZ, 0.625f},
      {&FlameParams::brightness, &FlameSettings::brightness, 0.875f},
      {&FlameParams::contrast, &FlameSettings::contrast, 2.5f},
      {&FlameParams::saturation, &FlameSettings::saturation, 1.125f},
      {&FlameParams::tintAmount, &FlameSettings::tint, 0.375f},
      {&FlameParams::tintRed, &FlameSettings::tintR, 3.25f},
      {&FlameParams::tintGreen, &FlameSettings::tintG, -0.25f},
      {&FlameParams::tintBlue, &FlameSettings::tintB, 5.5f},
      {&FlameParams::zoom, &FlameSettings::zoom, 1.5f},
      {&FlameParams::centerX, &FlameSettings::centerX, -2.75f},
      {&FlameParams::centerY, &FlameSettings::centerY, 3.5f},
      {&FlameParams::cameraDistance, &FlameSettings::camera, 9.25f},
      {&FlameParams::riseSpeed, &FlameSettings::riseSpeed, 2.875f},
  };
  FlameParams params;
  for (const Field& field : fields) params.*field.param = field.value;
  // Each colour group's hue, gain and opacity, none equal to another's.
  struct Colour {
    float FlameParams::*hue;
    float FlameParams::*gain;
    float FlameParams::*opacity;
    float4 FlameSettings::*colour;
    float values[3];
  };
  const Colour colours[] = {
      {&FlameParams::innerHue, &FlameParams::innerGain, &FlameParams::innerOpacity, &FlameSettings::color0,
       {200.0f, 150.0f, 30.0f}},
      {&FlameParams::mainHue, &FlameParams::mainGain, &FlameParams::mainOpacity, &FlameSettings::color1,
       {100.0f, 250.0f, 60.0f}},
      {&FlameParams::outerHue, &FlameParams::outerGain, &FlameParams::outerOpacity, &FlameSettings::color3,
       {300.0f, 75.0f, 20.0f}},
  };
  for (const Colour& colour : colours) {
    params.*colour.hue = colour.values[0];
    params.*colour.gain = colour.values[1];
    params.*colour.opacity = colour.values[2];
  }
  const FlameSettings settings = build(params);
  for (const Field& field : fields) {
    EXPECT_EQ(settings.*field.setting, field.value) << field.value;
  }
  for (const Colour& colour : colours) {
    const float4 expected = paletteColorFromHue(colour.values[0], colour.values[1], colour.values[2]);
    expectColor(settings.*colour.colour, expected.x, expected.y, expected.z, expected.w);
  }
}

TEST(FlameSettings, StepsAndEmitterModeFromChoiceCodes) {
  const struct {
    int32_t quality;
    uint32_t steps;
  } qualities[] = {{-1, 64}, {0, 64}, {1, 128}, {2, 256}, {7, 256}};
  for (auto q : qualities) {
    FlameParams params;
    params.quality = q.quality;
    EXPECT_EQ(build(params).steps, q.steps) << q.quality;
  }
  const struct {
    int32_t source;
    uint32_t mode;
  } sources[] = {{-3, 0}, {0, 0}, {1, 1}, {2, 2}, {5, 2}};
  for (auto s : sources) {
    FlameParams params;
    params.emitterSource = s.source;
    EXPECT_EQ(build(params).emitterMode, s.mode) << s.source;
  }
}

TEST(FlameSettings, FrameGeometryDerivations) {
  FlameParams params;
  EXPECT_EQ(build(params, requestFor(1921, 1080, 0.5)).frameWidth, 961.0f);
  EXPECT_EQ(build(params, requestFor(1920, 1080, 0.5)).frameWidth, 960.0f);
  EXPECT_EQ(build(params, requestFor(1920, 1080, 0.5)).frameHeight, 540.0f);
  EXPECT_EQ(build(params, requestFor(1920, 1080, 1.0 / 3.0)).frameWidth, 640.0f);
  EXPECT_EQ(build(params, requestFor(1920, 1080)).aspect, 1.7777778f);
  EXPECT_EQ(build(params, requestFor(1920, 1080, 0.25)).aspect, 1.7777778f);
  EXPECT_EQ(build(params, requestFor(1920, 1080, 1.0, 2.0)).aspect, 3.5555556f);
  EXPECT_EQ(build(params, requestFor(1920, 1080)).riseHeight, 378.0f);

  FlameSettings settings;
  FrameGeometry output = outputOf(33, 17);
  output.originX = -5;
  output.originY = 12;
  buildFlameSettings(settings, output, params, requestFor(64, 64));
  EXPECT_EQ(settings.width, 33u);
  EXPECT_EQ(settings.height, 17u);
  EXPECT_EQ(settings.originX, -5.0f);
  EXPECT_EQ(settings.originY, 12.0f);
}

TEST(FlameSettings, PaletteColoursFromHue) {
  for (float hue : {-360.0f, 0.0f, 360.0f, 720.0f}) {
    expectColor(paletteColorFromHue(hue, 100.0f, 100.0f), 1.0f, 0.0f, 0.0f, 1.0f);
  }
  float4 yellow = paletteColorFromHue(60.0f, 100.0f, 50.0f);
  EXPECT_EQ(yellow.x, yellow.y);
  EXPECT_EQ(yellow.z, 0.0f);
  EXPECT_EQ(yellow.w, 0.5f);
  expectColor(paletteColorFromHue(120.0f, 100.0f, 100.0f), 0.0f, 1.0f, 0.0f, 1.0f);
  expectColor(paletteColorFromHue(240.0f, 100.0f, 100.0f), 0.0f, 0.0f, 1.0f, 1.0f);
  // Gain above 100 is not clamped.
  EXPECT_EQ(paletteColorFromHue(0.0f, 1000.0f, 0.0f).x, 10.0f);
}

TEST(FlameSettings, PaletteIntegralTableForAllRed) {
  FlameParams params;
  params.innerHue = params.mainHue = params.outerHue = 0.0f;
  params.innerGain = params.mainGain = params.outerGain = 100.0f;
  params.innerOpacity = params.mainOpacity = params.outerOpacity = 100.0f;
  FlameSettings settings = build(params);
  expectColor(settings.color0, 1.0f, 0.0f, 0.0f, 1.0f);
  expectColor(settings.color1, 1.0f, 0.0f, 0.0f, 1.0f);
  expectColor(settings.color3, 1.0f, 0.0f, 0.0f, 1.0f);
  expectColor(settings.integralBase[0], 0.0f, 0.0f, 0.0f, 0.0f);
  expectColor(settings.integralBase[1], 0.25f, 0.0f, 0.0f, 0.25f);
  // These are the floats nearest 1/3 and 5/12, i.e. 0.3333333 and 0.4166667 to seven digits.
  expectColor(settings.integralBase[2], 0.33333334f, 0.0f, 0.0f, 0.375f);
  expectColor(settings.integralBase[3], 0.41666668f, 0.0f, 0.0f, 0.5f);
}

TEST(FlameSettings, ReservedFieldsAreZeroAndRecordIsDeterministic) {
  FlameSettings dirty;
  std::memset(&dirty, 0xAB, sizeof dirty);
  FlameParams params;
  buildFlameSettings(dirty, outputOf(8, 8), params, requestFor(64, 64));
  EXPECT_EQ(dirty.rowBase, 0u);
  EXPECT_EQ(dirty.pad0, 0.0f);
  EXPECT_EQ(dirty.pad1, 0.0f);
  EXPECT_EQ(dirty.pad2, 0.0f);
  for (const int4& window : dirty.hashWindows) {
    EXPECT_EQ(window.x | window.y | window.z | window.w, 0);
  }
  FlameSettings clean{};
  FlameParams sameParams;
  buildFlameSettings(clean, outputOf(8, 8), sameParams, requestFor(64, 64));
  EXPECT_EQ(std::memcmp(&dirty, &clean, sizeof clean), 0);
}

}  // namespace
