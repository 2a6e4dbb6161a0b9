// The GPU operations that can fail, their messages, and the seam through which tests make them
// fail and count them. Production code never injects a failure.
#pragma once

#include <cstdint>
#include <vector>

enum class GpuOperation : int {
  createInstance,
  enumerateAdapters,
  describeAdapter,
  createDevice,
  createShader,
  createConstantBuffer,
  createHashBuffer,
  createHashView,
  createMatteTexture,
  createMatteView,
  createOutputTexture,
  createOutputView,
  createReadbackTexture,
  readBack,
};
constexpr int kGpuOperationCount = int(GpuOperation::readBack) + 1;

// The user-visible text of a failure of the operation. Callers and logs match on these texts, so
// they keep the Direct3D 11 and DXGI names of the operations they stand for.
const char* gpuFailureMessage(GpuOperation operation);

// Counts one attempt of the operation and throws std::runtime_error with its message when the
// attempt failed or a failure is injected for it.
void requireGpuSuccess(GpuOperation operation, bool succeeded);

// Test seam: every later attempt of the operation fails until the failures are cleared.
void injectGpuFailure(GpuOperation operation);
void clearGpuFailures();
// Test seam: attempts of the operation since the process started.
int gpuOperationAttempts(GpuOperation operation);
// Test seam: while held, submitted GPU work reads as unfinished, as on a device still busy with
// it (the work itself runs on), so a test can act while work is outstanding.
void holdGpuCompletion(bool held);
bool gpuCompletionHeld();

// What the adapter rule needs to know of one device.
struct AdapterDescription {
  bool software;       // a CPU implementation such as Mesa's lavapipe
  bool computeQueue;   // has a queue family that runs compute work
  uint64_t dedicatedVideoMemory;
  bool vulkanTooOld = false;  // offers less than Vulkan 1.1, which the tiled dispatch needs
};

// The device to use: software devices only when allowed, devices without a compute queue or with
// too old a Vulkan never; the first candidate wins unless a later one has strictly more dedicated
// memory. -1: none.
int chooseAdapter(const std::vector<AdapterDescription>& adapters, bool allowSoftware);

// VORTELLINE_GPU_ALLOW_SOFTWARE=1 makes software devices candidates, for tests and machines
// without a GPU; read at every context creation.
bool softwareAdaptersAllowed();
