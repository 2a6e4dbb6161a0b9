#include "gpu/gpu_operations.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

std::atomic<uint32_t> injectedFailures{0};
std::atomic<int> attempts[kGpuOperationCount];
std::atomic<bool> completionHeld{false};

uint32_t bitOf(GpuOperation operation) { return 1u << int(operation); }

}  // namespace

const char* gpuFailureMessage(GpuOperation operation) {
  switch (operation) {
    case GpuOperation::createInstance: return "DXGI initialization failed";
    case GpuOperation::enumerateAdapters: return "GPU enumeration failed";
    case GpuOperation::describeAdapter: return "GPU description failed";
    case GpuOperation::createDevice: return "Direct3D 11 GPU initialization failed";
    case GpuOperation::createShader: return "GPU shader initialization failed";
    case GpuOperation::createConstantBuffer: return "GPU constant buffer allocation failed";
    case GpuOperation::createHashBuffer: return "Noise hash buffer allocation failed";
    case GpuOperation::createHashView: return "Noise hash view failed";
    case GpuOperation::createMatteTexture: return "Matte texture allocation failed";
    case GpuOperation::createMatteView: return "Matte view allocation failed";
    case GpuOperation::createOutputTexture: return "GPU texture allocation failed";
    case GpuOperation::createOutputView: return "GPU output view failed";
    case GpuOperation::createReadbackTexture: return "GPU readback allocation failed";
    case GpuOperation::readBack: return "GPU readback failed";
  }
  return "GPU failure";
}

void requireGpuSuccess(GpuOperation operation, bool succeeded) {
  attempts[int(operation)].fetch_add(1);
  if (!succeeded || (injectedFailures.load() & bitOf(operation)) != 0) {
    throw std::runtime_error(gpuFailureMessage(operation));
  }
}

void injectGpuFailure(GpuOperation operation) { injectedFailures.fetch_or(bitOf(operation)); }

void clearGpuFailures() { injectedFailures.store(0); }

int gpuOperationAttempts(GpuOperation operation) { return attempts[int(operation)].load(); }

void holdGpuCompletion(bool held) { completionHeld.store(held); }

bool gpuCompletionHeld() { return completionHeld.load(); }

int chooseAdapter(const std::vector<AdapterDescription>& adapters, bool allowSoftware) {
  int chosen = -1;
  for (int i = 0; i < int(adapters.size()); ++i) {
    const AdapterDescription& adapter = adapters[size_t(i)];
    if ((adapter.software && !allowSoftware) || !adapter.computeQueue || adapter.vulkanTooOld) {
      continue;
    }
    if (chosen < 0 || adapter.dedicatedVideoMemory > adapters[size_t(chosen)].dedicatedVideoMemory) {
      chosen = i;
    }
  }
  return chosen;
}

bool softwareAdaptersAllowed() {
  const char* value = std::getenv("VORTELLINE_GPU_ALLOW_SOFTWARE");
  return value != nullptr && std::strcmp(value, "1") == 0;
}
