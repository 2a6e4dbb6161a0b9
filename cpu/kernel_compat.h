// The small dialect in which the per-pixel flame code is written, so that one text serves the
// CPU renderer and (with its own version of these few definitions) the GPU kernel.
//
// Kernel code uses only: scalar float/int/uint, the value types float3, float4, int4, functions
// marked KERNEL_FUNC taking and returning values, KERNEL_IN(T) for read-only records, the math
// wrappers below, NOISE_HASH(n) and MATTE_CELL(matte, column, row). No pointers, references,
// templates, std:: calls or exceptions appear in kernel code itself.
#ifndef VORTELLINE_CPU_KERNEL_COMPAT_H
#define VORTELLINE_CPU_KERNEL_COMPAT_H

#include <math.h>
#include <stdint.h>

#define KERNEL_FUNC inline
// Records are passed by const reference on the CPU (FlameSettings is 320 bytes) and by value in HLSL.
#define KERNEL_IN(T) const T&
// Marks a variable whose computation must keep its divisions by constants: HLSL's `precise`. The
// shader compiler would otherwise turn x / 3.0f into x * 0.33333334f, which rounds differently.
// C++ without fast-math never does that.
#define KERNEL_PRECISE

struct float3 {
  float x, y, z;
};

struct float4 {
  float x, y, z, w;  // r, g, b, a
};

struct int4 {
  int32_t x, y, z, w;
};

KERNEL_FUNC float3 make_float3(float x, float y, float z) { return float3{x, y, z}; }
KERNEL_FUNC float4 make_float4(float x, float y, float z, float w) { return float4{x, y, z, w}; }

// Single-precision library functions that are exact on every platform; the exponential is our own
// (cpu/kernel_exp.h) because library expf results differ between CPU variants.
KERNEL_FUNC float kernelFloor(float v) { return floorf(v); }
KERNEL_FUNC float kernelSqrt(float v) { return sqrtf(v); }
KERNEL_FUNC float kernelAbs(float v) { return fabsf(v); }

#include "cpu/kernel_exp.h"

#endif  // VORTELLINE_CPU_KERNEL_COMPAT_H
