// Palette ramp, its pre-integrated form and the final colour adjustment. Kernel code: see
// cpu/kernel_compat.h for the dialect.
#ifndef VORTELLINE_CPU_COLOUR_SHAPING_H
#define VORTELLINE_CPU_COLOUR_SHAPING_H

#include "cpu/flame_settings.h"

// Integral over the first fraction u of a palette segment from colour a to colour b of the
// alpha-weighted colour (and of alpha), in palette-coordinate units: a segment is 0.25 wide.
KERNEL_FUNC float4 segmentIntegral(float4 a, float4 b, float u) {
  float dr = a.x * -1.0f + b.x;
  float dg = a.y * -1.0f + b.y;
  float db = a.z * -1.0f + b.z;
  float da = a.w * -1.0f + b.w;
  float u2 = u * u;
  float u3 = u2 * u;
  KERNEL_PRECISE float red = ((((da * a.x + dr * a.w) * u2) * 0.5f + (a.x * a.w) * u) + ((da * dr) * u3) / 3.0f) * 0.25f;
  KERNEL_PRECISE float green = ((((da * a.y + dg * a.w) * u2) * 0.5f + (a.y * a.w) * u) + ((da * dg) * u3) / 3.0f) * 0.25f;
  KERNEL_PRECISE float blue = ((((da * a.z + db * a.w) * u2) * 0.5f + (a.z * a.w) * u) + ((da * db) * u3) / 3.0f) * 0.25f;
  float alpha = ((da * u2) * 0.5f + a.w * u) * 0.25f;
  return make_float4(red, green, blue, alpha);
}

KERNEL_FUNC float4 lerpColor(float4 a, float4 b, float f) {
  return make_float4((b.x - a.x) * f + a.x, (b.y - a.y) * f + a.y, (b.z - a.z) * f + a.z,
                     (b.w - a.w) * f + a.w);
}

// Straight RGBA of the ramp color0 -> color1 -> clear -> color3 -> clear, a quarter per segment.
// Each boundary belongs to the upper segment, so 0.5 is clear: the gap between flame and outer
// colour. Coordinates above 0.999 stay just inside the last segment.
KERNEL_FUNC float4 paletteColor(float x, KERNEL_IN(FlameSettings) settings) {
  float4 clear = make_float4(0.0f, 0.0f, 0.0f, 0.0f);
  float t = x < 0.0f ? 0.0f : x;
  if (x > 0.999f) {
    t = 0.999f;
  }
  float f = t * 4.0f - kernelFloor(t * 4.0f);
  if (t < 0.25f) {
    return lerpColor(settings.color0, settings.color1, f);
  }
  if (t < 0.5f) {
    return lerpColor(settings.color1, clear, f);
  }
  if (t < 0.75f) {
    return lerpColor(clear, settings.color3, f);
  }
  return lerpColor(settings.color3, clear, f);
}

// Integral of the premultiplied ramp from 0 to x. Below 0 the ramp is color0 and beyond 0.999 it
// continues with the colour at 0.999, so the integral keeps growing linearly on both sides.
KERNEL_FUNC float4 paletteIntegral(float x, KERNEL_IN(FlameSettings) settings) {
  float4 c0 = settings.color0;
  if (x < 0.0f) {
    return make_float4((c0.w * c0.x) * x, (c0.y * c0.w) * x, (c0.z * c0.w) * x, c0.w * x);
  }
  float4 clear = make_float4(0.0f, 0.0f, 0.0f, 0.0f);
  // Same as "0.999 when x > 0.999" for every number, but a NaN also lands in the last segment
  // instead of indexing outside integralBase.
  float s = x < 0.999f ? x : 0.999f;
  s = s * 4.0f;
  int segment = (int)s;
  float u = s - (float)segment;
  float4 a = settings.color3;
  float4 b = clear;
  if (segment == 0) {
    a = settings.color0;
    b = settings.color1;
  } else if (segment == 1) {
    a = settings.color1;
    b = clear;
  } else if (segment == 2) {
    a = clear;
    b = settings.color3;
  }
  float4 g = segmentIntegral(a, b, u);
  float4 base = settings.integralBase[segment];
  float4 e = paletteColor(0.999f, settings);
  float tail = x - 0.999f;
  if (tail < 0.0f) {
    tail = 0.0f;
  }
  return make_float4((g.x + base.x) + (e.w * e.x) * tail, (g.y + base.y) + (e.y * e.w) * tail,
                     (g.z + base.z) + (e.z * e.w) * tail, (g.w + base.w) + tail * e.w);
}

KERNEL_FUNC float adjustChannel(float v, float luma, float tintFactor,
                                KERNEL_IN(FlameSettings) settings) {
  v = (v - luma) * settings.saturation + luma;
  v = (v - 0.5f) * settings.contrast + 0.5f;
  // A brightness of 1 leaves the colour unchanged.
  v = (v - 1.0f) + settings.brightness;
  v = (v * tintFactor - v) * settings.tint + v;
  return v > 1.0f ? 1.0f : (v < 0.0f ? 0.0f : v);
}

// Saturation, contrast, brightness and tint, clamped to [0, 1]; reads c's colour only. Alpha is
// 1 for the volume emitter; for the layer emitter it is the brightest channel, so black is
// transparent.
KERNEL_FUNC float4 adjustColor(float4 c, KERNEL_IN(FlameSettings) settings, bool alphaFromColour) {
  float luma = (c.x * 0.2125f + c.y * 0.7154f) + c.z * 0.0721f;
  float r = adjustChannel(c.x, luma, settings.tintR, settings);
  float g = adjustChannel(c.y, luma, settings.tintG, settings);
  float b = adjustChannel(c.z, luma, settings.tintB, settings);
  float a = 1.0f;
  if (alphaFromColour) {
    a = r > g ? r : g;
    a = a > b ? a : b;
  }
  return make_float4(r, g, b, a);
}

#endif  // VORTELLINE_CPU_COLOUR_SHAPING_H
