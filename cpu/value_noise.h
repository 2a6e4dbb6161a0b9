// Four-octave value noise that shapes the flames. Kernel code: see cpu/kernel_compat.h.
#ifndef VORTELLINE_CPU_VALUE_NOISE_H
#define VORTELLINE_CPU_VALUE_NOISE_H

#include "cpu/kernel_compat.h"
#include "cpu/noise_hash.h"

// One float lattice index per cell corner with strides 1, 57 and 113; the GPU hash table is
// indexed the same way, so the strides and corner offsets are a contract with it.
KERNEL_FUNC float valueNoise(float3 p, int octave) {
  float px = kernelFloor(p.x);
  float py = kernelFloor(p.y);
  float pz = kernelFloor(p.z);
  float fx = p.x - px;
  float fy = p.y - py;
  float fz = p.z - pz;
  float ux = (3.0f - (fx + fx)) * (fx * fx);
  float uy = (3.0f - (fy + fy)) * (fy * fy);
  float uz = (3.0f - (fz + fz)) * (fz * fz);
  float n = (py * 57.0f + px) + pz * 113.0f;
  float h0 = NOISE_HASH(n, octave);
  float h1 = NOISE_HASH(n + 1.0f, octave);
  float h57 = NOISE_HASH(n + 57.0f, octave);
  float h58 = NOISE_HASH(n + 58.0f, octave);
  float h113 = NOISE_HASH(n + 113.0f, octave);
  float h114 = NOISE_HASH(n + 114.0f, octave);
  float h170 = NOISE_HASH(n + 170.0f, octave);
  float h171 = NOISE_HASH(n + 171.0f, octave);
  float a = (h1 - h0) * ux + h0;
  float b = (h58 - h57) * ux + h57;
  float c = (h114 - h113) * ux + h113;
  float d = (h171 - h170) * ux + h170;
  float ab = (b - a) * uy + a;
  float cd = (d - c) * uy + c;
  return (cd - ab) * uz + ab;
}

// Rotates the point by an orthonormal matrix and scales it by k between octaves, so that the
// octaves' lattices do not line up.
KERNEL_FUNC float3 nextOctavePoint(float3 q, float k) {
  return make_float3(((q.y * -0.8f) - (q.z * 0.6f)) * k,
                     ((q.x * 0.8f + q.y * 0.36f) - q.z * 0.48f) * k,
                     ((q.x * 0.6f - q.y * 0.48f) + q.z * 0.64f) * k);
}

// Value in [0, 0.9375): octave weights 0.5, 0.25, 0.125 and 0.0625, each octave below 1.
KERNEL_FUNC float fbm(float3 p) {
  float3 q1 = nextOctavePoint(p, 2.02f);
  float3 q2 = nextOctavePoint(q1, 2.03f);
  float3 q3 = nextOctavePoint(q2, 2.01f);
  float sum = valueNoise(p, 0) * 0.5f;
  sum = sum + valueNoise(q1, 1) * 0.25f;
  sum = sum + valueNoise(q2, 2) * 0.125f;
  sum = sum + valueNoise(q3, 3) * 0.0625f;
  return sum;
}

#endif  // VORTELLINE_CPU_VALUE_NOISE_H
