#include "cpu/render_frame_cpu.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cpu/flame_march.h"
#include "cpu/hash_corner_table.h"

namespace {

// Called for every frame: a wrong value is said once, not once per frame.
void sayOnce(const std::string& value, const std::string& message) {
  static std::mutex mutex;
  static std::string lastValueSaid;
  std::lock_guard<std::mutex> lock(mutex);
  if (value != lastValueSaid) {
    lastValueSaid = value;
    std::fprintf(stderr, "Vortelline: %s\n", message.c_str());
  }
}

}  // namespace

CpuKernel cpuKernelFromEnvironment() {
  const char* name = std::getenv("VORTELLINE_CPU_KERNEL");
  const CpuKernel fastest = fastestCpuKernel();
  if (name == nullptr) {
    return fastest;
  }
  for (CpuKernel kernel : {CpuKernel::reference, CpuKernel::scalar, CpuKernel::avx2, CpuKernel::avx512}) {
    if (std::strcmp(name, cpuKernelName(kernel)) == 0) {
      if (cpuSupports(kernel)) {
        return kernel;
      }
      sayOnce(name, std::string("this processor cannot run ") + name + " (VORTELLINE_CPU_KERNEL); using " +
                        cpuKernelName(fastest));
      return fastest;
    }
  }
  sayOnce(name, std::string("VORTELLINE_CPU_KERNEL=") + name + " is not reference, scalar, avx2 or avx512; using " +
                    cpuKernelName(fastest));
  return fastest;
}

bool renderFrameCpuWith(CpuKernel kernel, const FlameSettings& settings,
                        AbortCheckFunction abortCheck, void* abortContext,
                        const EmitterMatte& matte, std::vector<float4>& image) {
  const uint32_t width = settings.width;
  image.resize(size_t{width} * size_t{settings.height}, make_float4(0.0f, 0.0f, 0.0f, 0.0f));
  const EmitterMatteView matteView = viewOf(matte);
  if (kernel != CpuKernel::reference) {
    const std::shared_ptr<const HashCornerTable> table = hashCornerTableFor(settings);
    auto renderRow = [&](int row) {
      shadeRowWithTable(kernel, settings, table.get(), matteView, row,
                        image.data() + size_t(row) * width);
    };
    return renderRowBands(settings.height, abortCheck, abortContext, renderRow,
                          std::thread::hardware_concurrency());
  }
  auto renderRow = [&](int row) {
    float4* out = image.data() + size_t(row) * width;
    const float ly = (float)row + settings.originY;
    for (uint32_t column = 0; column < width; ++column) {
      const float lx = (float)column + settings.originX;
      if (lx < 0.0f || ly < 0.0f || lx >= settings.frameWidth || ly >= settings.frameHeight) {
        out[column] = make_float4(0.0f, 0.0f, 0.0f, 0.0f);
      } else if (settings.emitterMode != 0) {
        out[column] = shadeLayerPixel(int(column), row, settings, matteView);
      } else {
        out[column] = shadeVolumePixel(int(column), row, settings);
      }
    }
  };
  return renderRowBands(settings.height, abortCheck, abortContext, renderRow,
                        std::thread::hardware_concurrency());
}

bool renderFrameCpu(const FlameSettings& settings, AbortCheckFunction abortCheck,
                    void* abortContext, const EmitterMatte& matte, std::vector<float4>& image) {
  return renderFrameCpuWith(cpuKernelFromEnvironment(), settings, abortCheck, abortContext, matte,
                            image);
}
