// The CPU renderer's choice of path. renderFrameCpu (cpu/parallel_rows.h) renders with the path
// named by the environment variable VORTELLINE_CPU_KERNEL (reference, scalar, avx2 or avx512);
// unset, it takes the fastest this CPU supports; unknown or not supported by this CPU, the fastest
// too, after saying so once on stderr. Every path gives the same pixels, bit for bit.
#pragma once

#include <vector>

#include "cpu/parallel_rows.h"
#include "cpu/simd_row_shading.h"

CpuKernel cpuKernelFromEnvironment();

// renderFrameCpu with the path given; it must be one the CPU supports.
bool renderFrameCpuWith(CpuKernel kernel, const FlameSettings& settings,
                        AbortCheckFunction abortCheck, void* abortContext,
                        const EmitterMatte& matte, std::vector<float4>& image);
