// Palette ramp, its pre-integrated form and the final colour adjustment. Kernel code: see
// cpu/kernel_compat.h for the dialect.
#pragma once

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
  float4 result;
  result.x = ((((da * a.x + dr * a.w) * u2) * 0.5f + (a.x * a.w) * u) + ((da * dr) * u3) / 3.0f) * 0.25f;
  result.y = ((((da * a.y + dg * a.w) * u2) * 0.5f + (a.y * a.w) * u) + ((da * dg) * u3) / 3.0f) * 0.25f;
  result.z = ((((da * a.z + db * a.w) * u2) * 0.5f + (a.z * a.w) * u) + ((da * db) * u3) / 3.0f) * 0.25f;
  result.w = ((da * u2) * 0.5f + a.w * u) * 0.25f;
  return result;
}
