// The GPU's version of the per-pixel dialect (cpu/kernel_compat.h), read by the shader compiler
// before the shared per-pixel headers. Defining the include guards of the CPU-only headers keeps
// them out: the kernel brings its own hash lookup and matte reads instead.
#ifndef VORTELLINE_GPU_KERNEL_COMPAT_HLSLI
#define VORTELLINE_GPU_KERNEL_COMPAT_HLSLI

#define VORTELLINE_CPU_KERNEL_COMPAT_H
#define VORTELLINE_CPU_NOISE_HASH_H
#define VORTELLINE_CPU_EMITTER_MATTE_H

#define KERNEL_FUNC
#define KERNEL_IN(T) T
#define KERNEL_PRECISE precise
#define uint32_t uint
#define int32_t int

float3 make_float3(float x, float y, float z) { return float3(x, y, z); }
float4 make_float4(float x, float y, float z, float w) { return float4(x, y, z, w); }

float kernelFloor(float v) { return floor(v); }
float kernelSqrt(float v) { return sqrt(v); }
float kernelAbs(float v) { return abs(v); }

#ifdef VORTELLINE_GPU_DOUBLE_EXP
// The CPU renderer's own exponential, computed in double precision: on a device with 64-bit
// floats the frames come out bit-identical to CPU frames.
#include "cpu/kernel_exp.h"
#else
// The device's exponential, whose rounding may differ from the CPU's by some ulp.
float kernelExp(float v) { return exp(v); }
#endif

struct MatteCell {
  float value;
  float age;
};

// The matte lives in a texture; the view only carries its size.
struct EmitterMatteView {
  int width;
  int height;
};

#endif  // VORTELLINE_GPU_KERNEL_COMPAT_HLSLI
