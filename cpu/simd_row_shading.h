// The fast CPU renderer's row shading: the per-pixel march of cpu/flame_march.h with one pixel
// per SIMD lane and the noise hashes read from a HashCornerTable, bit for bit the same pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cpu/emitter_matte.h"
#include "cpu/flame_settings.h"
#include "cpu/hash_corner_table.h"

// The CPU renderer's paths. reference: the per-pixel kernel code, a sine per corner. The others
// shade rows with the table: scalar (the same code for one lane at a time), avx2 (8 lanes) and
// avx512 (16 lanes).
enum class CpuKernel { reference, scalar, avx2, avx512 };

bool cpuSupports(CpuKernel kernel);
const char* cpuKernelName(CpuKernel kernel);

// The fastest path this CPU supports.
CpuKernel fastestCpuKernel();

// Shades columns 0 ... settings.width - 1 of one output row into out, pixels outside the layer
// (0, 0, 0, 0). table may be null: every corner is then hashed with noiseHash. The kernel must
// be supported and not the reference.
void shadeRowWithTable(CpuKernel kernel, const FlameSettings& settings,
                       const HashCornerTable* table, EmitterMatteView matte, int row, float4* out);

// kernelExp of count floats as the path computes it inside the march, for the checks that
// compare it with the C library. The kernel must be supported.
void kernelExpWith(CpuKernel kernel, const float* x, float* result, size_t count);
