// Whole-frame CPU render time at each Quality: 320 x 180, volume emitter, smooth sampling, the
// effect's default look.
#include <benchmark/benchmark.h>

#include <vector>

#include "cpu/parallel_rows.h"
#include "render/flame_settings_build.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 180;

FlameSettings benchmarkSettings(int32_t quality) {
  FlameParams params;
  params.quality = quality;
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

// Argument: the Quality choice code (0: 64 steps, 1: 128, 2: 256).
void renderVolumeFrame(benchmark::State& state) {
  const FlameSettings settings = benchmarkSettings(int32_t(state.range(0)));
  const EmitterMatte noMatte;
  for (auto _ : state) {
    std::vector<float4> image;
    benchmark::DoNotOptimize(renderFrameCpu(settings, nullptr, nullptr, noMatte, image));
    benchmark::DoNotOptimize(image.data());
  }
  state.counters["steps"] = settings.steps;
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

BENCHMARK(renderVolumeFrame)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
