// Shared set-up of the GPU tests: software devices allowed, a private shader cache, and a skip
// with the reason when this machine has no Vulkan device at all.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "gpu/gpu_context.h"

// The shader cache of one test program, removed when it ends.
struct PrivateShaderCache {
  std::string folder;
  pid_t owner = getpid();

  PrivateShaderCache() {
    folder = (std::filesystem::temp_directory_path() / ("vortelline-gpu-tests-" + std::to_string(owner))).string();
    std::filesystem::create_directories(folder);
  }
  ~PrivateShaderCache() {
    if (getpid() == owner) {
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
    }
  }
};

inline void useSoftwareDevicesAndPrivateShaderCache() {
  static const PrivateShaderCache cache;
  setenv("VORTELLINE_GPU_ALLOW_SOFTWARE", "1", 1);
  setenv("XDG_CACHE_HOME", cache.folder.c_str(), 1);
  setenv("MESA_SHADER_CACHE_DIR", cache.folder.c_str(), 1);
}

// The shared context, or nothing with the reason when there is no usable device.
inline std::shared_ptr<GpuContext> gpuOrReason(std::string& reason) {
  useSoftwareDevicesAndPrivateShaderCache();
  try {
    return acquireSharedGpuContext();
  } catch (const std::runtime_error& failure) {
    reason = failure.what();
    return nullptr;
  }
}

#define ACQUIRE_GPU_OR_SKIP(context)                                                            \
  std::string gpuSkipReason;                                                                    \
  std::shared_ptr<GpuContext> context = gpuOrReason(gpuSkipReason);                             \
  if (!context) {                                                                               \
    GTEST_SKIP() << "No Vulkan device (install mesa-vulkan-drivers for lavapipe): " << gpuSkipReason; \
  }
