// The per-pixel ray march of both emitters. Kernel code: see cpu/kernel_compat.h.
#ifndef VORTELLINE_CPU_FLAME_MARCH_H
#define VORTELLINE_CPU_FLAME_MARCH_H

#include "cpu/colour_shaping.h"
#include "cpu/emitter_matte.h"
#include "cpu/flame_settings.h"
#include "cpu/kernel_compat.h"
#include "cpu/value_noise.h"

KERNEL_FUNC MatteCell matteCellOrZero(EmitterMatteView matte, int column, int row) {
  MatteCell zero;
  zero.value = 0.0f;
  zero.age = 0.0f;
  if (column < 0 || column >= matte.width || row < 0 || row >= matte.height) {
    return zero;
  }
  return MATTE_CELL(matte, column, row);
}

// Bilinear reading of the matte at a layer pixel position; cells outside the field read as zero,
// so positions within one pixel outside the edge fade out instead of clamping.
KERNEL_FUNC MatteCell sampleMatte(EmitterMatteView matte, float x, float y) {
  int ix = (int)kernelFloor(x);
  int iy = (int)kernelFloor(y);
  float fx = x - (float)ix;
  float fy = y - (float)iy;
  MatteCell c00 = matteCellOrZero(matte, ix, iy);
  MatteCell c10 = matteCellOrZero(matte, ix + 1, iy);
  MatteCell c01 = matteCellOrZero(matte, ix, iy + 1);
  MatteCell c11 = matteCellOrZero(matte, ix + 1, iy + 1);
  float topValue = (c10.value - c00.value) * fx + c00.value;
  float bottomValue = (c11.value - c01.value) * fx + c01.value;
  float topAge = (c10.age - c00.age) * fx + c00.age;
  float bottomAge = (c11.age - c01.age) * fx + c01.age;
  MatteCell result;
  result.value = (bottomValue - topValue) * fy + topValue;
  result.age = (bottomAge - topAge) * fy + topAge;
  return result;
}

// Palette coordinate of the volume emitter: signed distance from the sphere surface, displaced
// by noise. Negative inside, where the palette gives color0.
KERNEL_FUNC float volumeDistance(float3 p, float3 offset, KERNEL_IN(FlameSettings) settings) {
  float3 n = make_float3(p.x * settings.frequency + offset.x, p.y * settings.frequency + offset.y,
                         p.z * settings.frequency + offset.z);
  return (kernelSqrt((p.x * p.x + p.y * p.y) + p.z * p.z) - settings.radius) +
         fbm(n) * settings.amplitude;
}

// Palette coordinate of the layer emitter at slab depth z in [-1, 1]: strong matte values and
// depths near the middle of the slab give the inner colours.
KERNEL_FUNC float layerDistance(float z, float3 base, float matteValue,
                                KERNEL_IN(FlameSettings) settings) {
  float3 n = make_float3(base.x, base.y, (z * settings.frequency) * 3.0f + base.z);
  return ((kernelAbs(z) * 0.6f) + (1.25f - matteValue * 1.7f)) +
         ((fbm(n) - 0.45f) * settings.amplitude) * 0.16f;
}

// What one march step carries from the previous one when smooth sampling is on.
struct MarchState {
  float4 accumulator;  // premultiplied colour and opacity, front to back
  float sPrev;         // palette coordinate at the start of the step
  float4 fPrev;        // paletteIntegral(sPrev)
};

KERNEL_FUNC MarchState startMarch(float sStart, KERNEL_IN(FlameSettings) settings) {
  MarchState state;
  state.accumulator = make_float4(0.0f, 0.0f, 0.0f, 0.0f);
  state.sPrev = sStart;
  state.fPrev = make_float4(0.0f, 0.0f, 0.0f, 0.0f);
  if (settings.smoothSampling != 0u) {
    state.fPrev = paletteIntegral(sStart, settings);
  }
  return state;
}

KERNEL_FUNC float4 premultipliedPaletteColor(float s, KERNEL_IN(FlameSettings) settings) {
  float4 q = paletteColor(s, settings);
  return make_float4(q.x * q.w, q.y * q.w, q.z * q.w, q.w);
}

// Adds the sample at palette coordinate s to the accumulator. densityScale already holds the
// density and the division by the step count. With smooth sampling the contribution is the
// palette's average over the step [sPrev, s], and the step's opacity follows 1 - e^-alpha.
KERNEL_FUNC MarchState marchSample(MarchState state, float s, float densityScale,
                                   KERNEL_IN(FlameSettings) settings) {
  float4 c;
  if (settings.smoothSampling != 0u) {
    float4 f = paletteIntegral(s, settings);
    if (kernelAbs(s - state.sPrev) < 0.001f) {
      // The integral quotient loses its digits as the step shrinks; the midpoint colour is the
      // limit it tends to.
      c = premultipliedPaletteColor((s + state.sPrev) * 0.5f, settings);
    } else {
      float w = 1.0f / (s - state.sPrev);
      c = make_float4((f.x - state.fPrev.x) * w, (f.y - state.fPrev.y) * w,
                      (f.z - state.fPrev.z) * w, (f.w - state.fPrev.w) * w);
    }
    state.sPrev = s;
    state.fPrev = f;
  } else {
    c = premultipliedPaletteColor(s, settings);
  }
  c = make_float4(c.x * densityScale, c.y * densityScale, c.z * densityScale, c.w * densityScale);
  if (settings.smoothSampling != 0u) {
    float alpha = c.w > 0.0f ? c.w : 0.0f;
    // (1 - e^-alpha) / alpha cancels badly for tiny alpha; its series takes over below 0.001.
    KERNEL_PRECISE float p = alpha < 0.001f ? (1.0f - alpha * 0.5f) + (alpha * alpha) / 6.0f
                             : (1.0f - kernelExp(-alpha)) / alpha;
    c = make_float4(c.x * p, c.y * p, c.z * p, c.w * p);
  }
  float transmittance = 1.0f - state.accumulator.w;
  state.accumulator = make_float4(
      transmittance * c.x + state.accumulator.x, transmittance * c.y + state.accumulator.y,
      transmittance * c.z + state.accumulator.z, transmittance * c.w + state.accumulator.w);
  return state;
}

// Volume emitter: a perspective ray from the camera at (0, 0, -camera) through a noise-displaced
// sphere. Always opaque.
KERNEL_FUNC float4 shadeVolumePixel(int x, int y, KERNEL_IN(FlameSettings) settings) {
  float frameWidth = settings.frameWidth;
  float frameHeight = settings.frameHeight;
  float camera = settings.camera;
  float steps = (float)settings.steps;
  float u = (((float)x + settings.originX) + 0.5f) / frameWidth;
  u = (u + u) - 1.0f;
  float screenX = ((u * settings.aspect) * 5.0f) / settings.zoom + settings.centerX;
  // Image rows grow downward and world Y grows upward; the view is 5 / zoom units half-high.
  float v = (((float)y + settings.originY) + 0.5f) / frameHeight;
  v = v + v;
  float screenY = ((1.0f - v) * 5.0f) / settings.zoom + settings.centerY;
  float length = kernelSqrt((screenY * screenY + screenX * screenX) + camera * camera);
  float w = 1.0f / length;
  float3 dir = make_float3(screenX * w, screenY * w, camera * w);
  // The march covers stepSize * 10 units whatever the step count.
  float dt = (settings.stepSize * 10.0f) / steps;
  float3 step = make_float3(dir.x * dt, dir.y * dt, dir.z * dt);
  float3 offset = make_float3(settings.time * settings.animX, settings.time * settings.animY,
                              settings.time * settings.animZ);
  float3 p = make_float3(dir.x, dir.y, dir.z - camera);
  float densityScale = ((settings.density * 15.0f) * settings.density) / steps;
  bool smooth = settings.smoothSampling != 0u;
  MarchState state = startMarch(smooth ? volumeDistance(p, offset, settings) : 0.0f, settings);
  for (int i = 0; i < (int)settings.steps; i = i + 1) {
    // Advance by repeated addition, never p0 + i * step: the rounding is part of the image.
    float3 pNext = make_float3(p.x + step.x, p.y + step.y, p.z + step.z);
    float s = volumeDistance(smooth ? pNext : p, offset, settings);
    state = marchSample(state, s, densityScale, settings);
    p = pNext;
  }
  return adjustColor(state.accumulator, settings, false);
}

// Layer emitter: a short march through a slab of noise above the matte, displaced sideways by a
// flicker that grows with the age of the matte value.
KERNEL_FUNC float4 shadeLayerPixel(int x, int y, KERNEL_IN(FlameSettings) settings,
                                   EmitterMatteView matte) {
  float4 transparent = make_float4(0.0f, 0.0f, 0.0f, 0.0f);
  float frameWidth = settings.frameWidth;
  float frameHeight = settings.frameHeight;
  float halfWidth = frameWidth * 0.5f - 0.5f;
  float halfHeight = frameHeight * 0.5f - 0.5f;
  // Zoom scales about the layer's centre; View Center Y moves the view up a tenth of the layer
  // height per unit.
  float mx = (frameWidth * settings.centerX) / (settings.aspect * 10.0f) +
             ((((float)x + settings.originX) - halfWidth) / settings.zoom + halfWidth);
  KERNEL_PRECISE float my = ((((float)y + settings.originY) - halfHeight) / settings.zoom + halfHeight) -
             (frameHeight * settings.centerY) / 10.0f;
  if (mx <= -1.0f || my <= -1.0f || mx >= frameWidth || my >= frameHeight) {
    return transparent;
  }
  MatteCell m0 = sampleMatte(matte, mx, my);
  // The noise spans 8 * frequency units over the layer height and scrolls up at riseSpeed.
  float3 base = make_float3(
      ((((mx + 0.5f) / frameWidth) * settings.aspect) * 8.0f) * settings.frequency +
          settings.time * settings.animX,
      ((settings.riseSpeed - settings.animY) * settings.time) +
          (((my + 0.5f) / frameHeight) * 8.0f) * settings.frequency,
      settings.time * settings.animZ);
  float flicker = fbm(base);
  float ageShare = m0.age / settings.riseHeight;
  ageShare = ageShare > 1.0f ? 1.0f : (ageShare < 0.0f ? 0.0f : ageShare);
  float mx2 = (((flicker - 0.47f) * settings.riseHeight) * 0.45f) * ageShare + mx;
  MatteCell m1 = sampleMatte(matte, mx2, my);
  if (m1.value < 0.001f) {
    return transparent;
  }
  float steps = (float)settings.steps;
  float densityScale = ((settings.density * settings.density) * 15.0f) / steps;
  float dz = 2.0f / steps;
  float z = -1.0f;
  bool smooth = settings.smoothSampling != 0u;
  MarchState state =
      startMarch(smooth ? layerDistance(-1.0f, base, m1.value, settings) : 0.0f, settings);
  for (int i = 0; i < (int)settings.steps; i = i + 1) {
    float s;
    if (smooth) {
      z = z + dz;
      s = layerDistance(z, base, m1.value, settings);
    } else {
      s = layerDistance(z, base, m1.value, settings);
      z = z + dz;
    }
    state = marchSample(state, s, densityScale, settings);
  }
  float4 q = adjustColor(state.accumulator, settings, true);
  // Matte values of 0.25 and more cover the pixel fully; weaker ones fade it out linearly.
  float coverage = m1.value * 4.0f;
  coverage = coverage > 1.0f ? 1.0f : (coverage < 0.0f ? 0.0f : coverage);
  return make_float4(q.x * coverage, q.y * coverage, q.z * coverage, q.w * coverage);
}

#endif  // VORTELLINE_CPU_FLAME_MARCH_H
