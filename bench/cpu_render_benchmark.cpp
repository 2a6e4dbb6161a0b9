// Whole-frame CPU render time at each Quality: 320 x 180, volume emitter, smooth sampling.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "cpu/colour_shaping.h"
#include "cpu/parallel_rows.h"

namespace {

FlameSettings benchmarkSettings(uint32_t steps) {
  FlameSettings s;
  std::memset(&s, 0, sizeof s);
  s.width = 320;
  s.height = 180;
  s.steps = steps;
  s.frameWidth = 320.0f;
  s.frameHeight = 180.0f;
  s.aspect = 320.0f / 180.0f;
  s.zoom = 1.0f;
  s.camera = 8.0f;
  s.time = 1.2f;
  s.stepSize = 0.5f;
  s.density = 1.0f;
  s.radius = 7.0f;
  s.frequency = 1.5f;
  s.amplitude = 9.0f;
  s.brightness = 1.3f;
  s.animY = 0.3f;
  s.animZ = 1.0f;
  s.contrast = 1.3f;
  s.saturation = 0.9f;
  s.tint = 0.23f;
  s.tintR = 3.8f;
  s.tintG = 0.8f;
  s.tintB = -1.4f;
  s.color0 = make_float4(1.48f, 0.9373333f, 0.0f, 0.4f);
  s.color1 = make_float4(3.82f, 2.228333f, 0.0f, 0.5f);
  s.color3 = make_float4(0.9833333f, 1.0f, 0.0f, 0.1f);
  s.smoothSampling = 1;
  const float4 clear = make_float4(0.0f, 0.0f, 0.0f, 0.0f);
  const float4 first = segmentIntegral(s.color0, s.color1, 1.0f);
  const float4 second = segmentIntegral(s.color1, clear, 1.0f);
  const float4 third = segmentIntegral(clear, s.color3, 1.0f);
  s.integralBase[1] = first;
  s.integralBase[2] = make_float4(first.x + second.x, first.y + second.y, first.z + second.z,
                                  first.w + second.w);
  s.integralBase[3] = make_float4(s.integralBase[2].x + third.x, s.integralBase[2].y + third.y,
                                  s.integralBase[2].z + third.z, s.integralBase[2].w + third.w);
  return s;
}

void renderVolumeFrame(benchmark::State& state) {
  const FlameSettings settings = benchmarkSettings(uint32_t(state.range(0)));
  const EmitterMatte noMatte;
  for (auto _ : state) {
    std::vector<float4> image;
    benchmark::DoNotOptimize(renderFrameCpu(settings, nullptr, nullptr, noMatte, image));
    benchmark::DoNotOptimize(image.data());
  }
  state.SetItemsProcessed(state.iterations() * 320 * 180);
}

BENCHMARK(renderVolumeFrame)->Arg(64)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
