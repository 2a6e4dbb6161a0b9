// One full-HD frame at Quality "Original (256)" on the GPU and on the CPU renderer, in one run:
// volume emitter, smooth sampling, the effect's default look. Without a hardware GPU, run with
// VORTELLINE_GPU_ALLOW_SOFTWARE=1 to measure Mesa's lavapipe.
#include <benchmark/benchmark.h>

#include <stdexcept>
#include <vector>

#include "cpu/parallel_rows.h"
#include "gpu/gpu_context.h"
#include "render/flame_settings_build.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int32_t kQualityOriginal = 2;  // 256 steps

FlameSettings fullHdSettings() {
  FlameParams params;
  params.quality = kQualityOriginal;
  params.timeSeconds = 1.0;
  FrameGeometry output;
  output.width = kWidth;
  output.height = kHeight;
  RenderRequest request;
  request.layerWidth = kWidth;
  request.layerHeight = kHeight;
  FlameSettings settings;
  return buildFlameSettings(settings, output, params, request);
}

void gpuFrame(benchmark::State& state) {
  std::shared_ptr<GpuContext> context;
  try {
    context = acquireSharedGpuContext();
  } catch (const std::runtime_error& failure) {
    state.SkipWithError(failure.what());
    return;
  }
  const FlameSettings settings = fullHdSettings();
  std::vector<float4> image;
  // The first frame also builds the noise hash table and the textures that later frames reuse.
  FlameSettings warmUp = settings;
  renderFrame(*context, image, warmUp, nullptr, nullptr, EmitterMatte{});
  for (auto _ : state) {
    FlameSettings frame = settings;
    benchmark::DoNotOptimize(renderFrame(*context, image, frame, nullptr, nullptr, EmitterMatte{}));
  }
  state.counters["steps"] = settings.steps;
  state.counters["exact"] = usesCpuExponential(*context) ? 1 : 0;
}

void cpuFrame(benchmark::State& state) {
  const FlameSettings settings = fullHdSettings();
  std::vector<float4> image;
  for (auto _ : state) {
    benchmark::DoNotOptimize(renderFrameCpu(settings, nullptr, nullptr, EmitterMatte{}, image));
  }
  state.counters["steps"] = settings.steps;
}

// A frame takes minutes on a CPU without SIMD, so one timed frame each.
BENCHMARK(gpuFrame)->Name("fullHdOriginal/gpu")->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(cpuFrame)->Name("fullHdOriginal/cpu")->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
