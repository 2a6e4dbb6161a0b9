// The validated per-frame settings both renderers read. The layout is also the GPU kernel's
// constant buffer, so every field sits at a fixed byte offset (checked below).
#ifndef VORTELLINE_CPU_FLAME_SETTINGS_H
#define VORTELLINE_CPU_FLAME_SETTINGS_H

#include "cpu/kernel_compat.h"

struct FlameSettings {
  uint32_t width;
  uint32_t height;
  uint32_t steps;
  uint32_t rowBase;
  float frameWidth;
  float frameHeight;
  float originX;
  float originY;
  float aspect;
  float zoom;
  float centerX;
  float centerY;
  float camera;
  float time;
  float stepSize;
  float density;
  float radius;
  float frequency;
  float amplitude;
  float brightness;
  float animX;
  float animY;
  float animZ;
  float contrast;
  float saturation;
  float tint;
  float tintR;
  float tintG;
  float tintB;
  float pad0;
  float pad1;
  float pad2;
  float4 color0;
  float4 color1;
  float4 color3;  // the outer colour; there is no color2
  int4 hashWindows[4];
  uint32_t smoothSampling;
  uint32_t emitterMode;
  float riseHeight;
  float riseSpeed;
  float4 integralBase[4];
};

// The shader compiler reads this header too; the layout checks are C++.
#ifdef __cplusplus
#include <cstddef>

static_assert(sizeof(FlameSettings) == 320);
static_assert(offsetof(FlameSettings, width) == 0);
static_assert(offsetof(FlameSettings, height) == 4);
static_assert(offsetof(FlameSettings, steps) == 8);
static_assert(offsetof(FlameSettings, rowBase) == 12);
static_assert(offsetof(FlameSettings, frameWidth) == 16);
static_assert(offsetof(FlameSettings, frameHeight) == 20);
static_assert(offsetof(FlameSettings, originX) == 24);
static_assert(offsetof(FlameSettings, originY) == 28);
static_assert(offsetof(FlameSettings, aspect) == 32);
static_assert(offsetof(FlameSettings, zoom) == 36);
static_assert(offsetof(FlameSettings, centerX) == 40);
static_assert(offsetof(FlameSettings, centerY) == 44);
static_assert(offsetof(FlameSettings, camera) == 48);
static_assert(offsetof(FlameSettings, time) == 52);
static_assert(offsetof(FlameSettings, stepSize) == 56);
static_assert(offsetof(FlameSettings, density) == 60);
static_assert(offsetof(FlameSettings, radius) == 64);
static_assert(offsetof(FlameSettings, frequency) == 68);
static_assert(offsetof(FlameSettings, amplitude) == 72);
static_assert(offsetof(FlameSettings, brightness) == 76);
static_assert(offsetof(FlameSettings, animX) == 80);
static_assert(offsetof(FlameSettings, animY) == 84);
static_assert(offsetof(FlameSettings, animZ) == 88);
static_assert(offsetof(FlameSettings, contrast) == 92);
static_assert(offsetof(FlameSettings, saturation) == 96);
static_assert(offsetof(FlameSettings, tint) == 100);
static_assert(offsetof(FlameSettings, tintR) == 104);
static_assert(offsetof(FlameSettings, tintG) == 108);
static_assert(offsetof(FlameSettings, tintB) == 112);
static_assert(offsetof(FlameSettings, pad0) == 116);
static_assert(offsetof(FlameSettings, pad1) == 120);
static_assert(offsetof(FlameSettings, pad2) == 124);
static_assert(offsetof(FlameSettings, color0) == 128);
static_assert(offsetof(FlameSettings, color1) == 144);
static_assert(offsetof(FlameSettings, color3) == 160);
static_assert(offsetof(FlameSettings, hashWindows) == 176);
static_assert(offsetof(FlameSettings, smoothSampling) == 240);
static_assert(offsetof(FlameSettings, emitterMode) == 244);
static_assert(offsetof(FlameSettings, riseHeight) == 248);
static_assert(offsetof(FlameSettings, riseSpeed) == 252);
static_assert(offsetof(FlameSettings, integralBase) == 256);
#endif

#endif  // VORTELLINE_CPU_FLAME_SETTINGS_H
