// The flame kernel's variants as SPIR-V words, built from gpu/flame_kernel.hlsl by the build (see
// gpu/embed_kernel.cpp for what the build does to it).
#pragma once

#include <cstddef>
#include <cstdint>

// With the device's own exponential.
extern const uint32_t flameKernelSpirv[];
extern const size_t flameKernelSpirvWords;
// With the CPU renderer's exponential in double precision; needs shaderFloat64.
extern const uint32_t flameKernelDoubleExpSpirv[];
extern const size_t flameKernelDoubleExpSpirvWords;
