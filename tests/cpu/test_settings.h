// A hand-filled settings record for renderer tests, close to the effect's default look, so the
// tests do not depend on the settings build.
#pragma once

#include <cstring>

#include "cpu/colour_shaping.h"
#include "cpu/flame_settings.h"

inline void fillIntegralBase(FlameSettings& s) {
  const float4 clear = make_float4(0.0f, 0.0f, 0.0f, 0.0f);
  const float4 first = segmentIntegral(s.color0, s.color1, 1.0f);
  const float4 second = segmentIntegral(s.color1, clear, 1.0f);
  const float4 third = segmentIntegral(clear, s.color3, 1.0f);
  s.integralBase[0] = clear;
  s.integralBase[1] = first;
  s.integralBase[2] = make_float4(first.x + second.x, first.y + second.y, first.z + second.z,
                                  first.w + second.w);
  s.integralBase[3] = make_float4(s.integralBase[2].x + third.x, s.integralBase[2].y + third.y,
                                  s.integralBase[2].z + third.z, s.integralBase[2].w + third.w);
}

inline FlameSettings testSettings(uint32_t width, uint32_t height, uint32_t emitterMode,
                                  bool smoothSampling) {
  FlameSettings s;
  std::memset(&s, 0, sizeof s);
  s.width = width;
  s.height = height;
  s.steps = 64;
  s.frameWidth = float(width);
  s.frameHeight = float(height);
  s.aspect = float(width) / float(height);
  s.zoom = 1.0f;
  s.camera = 8.0f;
  s.time = 1.2f;
  s.stepSize = 0.5f;
  s.density = 1.0f;
  s.radius = 7.0f;
  s.frequency = 1.5f;
  s.amplitude = 9.0f;
  s.brightness = 1.3f;
  s.animY = 0.3f;
  s.animZ = 1.0f;
  s.contrast = 1.3f;
  s.saturation = 0.9f;
  s.tint = 0.23f;
  s.tintR = 3.8f;
  s.tintG = 0.8f;
  s.tintB = -1.4f;
  s.color0 = make_float4(1.48f, 0.9373333f, 0.0f, 0.4f);
  s.color1 = make_float4(3.82f, 2.228333f, 0.0f, 0.5f);
  s.color3 = make_float4(0.9833333f, 1.0f, 0.0f, 0.1f);
  s.smoothSampling = smoothSampling ? 1 : 0;
  s.emitterMode = emitterMode;
  s.riseHeight = 0.35f * float(height);
  s.riseSpeed = 1.5f;
  fillIntegralBase(s);
  return s;
}
