// The flame kernel as SPIR-V words, built from gpu/flame_kernel.hlsl by the build (see
// gpu/embed_kernel.cpp for what the build does to it).
#pragma once

#include <cstddef>
#include <cstdint>

extern const uint32_t flameKernelSpirv[];
extern const size_t flameKernelSpirvWords;
