// Whole-frame CPU render time of the reference path against the fast path, for both emitters at
// Draft and Original, 480 x 270 and 1920 x 1080, smooth sampling on and off, the effect's default
// look otherwise; a table of the ratios follows the benchmark output, in elapsed time and in
// processor time of all threads (steadier on a shared machine). The fast path is the one
// VORTELLINE_CPU_KERNEL names (avx2 times the AVX2 code on an AVX-512 machine), unset the fastest
// this CPU has. The reference takes minutes at full HD: --benchmark_filter=fast skips it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <map>
#include <tuple>
#include <vector>

#include "cpu/render_frame_cpu.h"
#include "render/flame_settings_build.h"

namespace {

struct Size {
  int width;
  int height;
};
constexpr Size kSizes[] = {{480, 270}, {1920, 1080}};
constexpr int kQualities[] = {0, 2};  // Draft (64 steps), Original (256 steps)

FlameSettings benchmarkSettings(Size size, int32_t quality, int32_t emitterSource, bool smooth) {
  FlameParams params;
  params.quality = quality;
  params.smoothSampling = smooth ? 1 : 0;
  params.emitterSource = emitterSource;
  params.timeSeconds = 1.0;
  FrameGeometry output;
  output.width = size.width;
  output.height = size.height;
  RenderRequest request;
  request.layerWidth = size.width;
  request.layerHeight = size.height;
  FlameSettings settings;
  return buildFlameSettings(settings, output, params, request);
}

// An emitting strip along the bottom fifth with a rising, ageing trail: flames over a third of
// the frame, as a typical title would give.
EmitterMatte benchmarkMatte(Size size) {
  EmitterMatte matte;
  matte.width = size.width;
  matte.height = size.height;
  matte.cells.resize(size_t(size.width) * size_t(size.height), MatteCell{0.0f, 0.0f});
  for (int y = size.height * 2 / 3; y < size.height; ++y) {
    const int fromStrip = size.height * 4 / 5 - y;
    for (int x = size.width / 8; x < size.width * 7 / 8; ++x) {
      matte.cells[size_t(y) * size_t(size.width) + size_t(x)] =
          fromStrip <= 0 ? MatteCell{1.0f, 0.0f} : MatteCell{0.6f, float(fromStrip)};
    }
  }
  return matte;
}

using Key = std::tuple<int, int, int, int>;  // emitter, quality, size index, smooth
struct Seconds {
  double elapsed;
  double processor;
};
std::map<Key, Seconds> referenceSeconds;
std::map<Key, Seconds> fastSeconds;

// Arguments: emitter source (0 volume, 1 layer alpha), Quality code, size index, smooth sampling
// (0 or 1), fast (0 or 1).
void renderFrame(benchmark::State& state) {
  const int emitter = int(state.range(0));
  const int quality = int(state.range(1));
  const Size size = kSizes[state.range(2)];
  const bool smooth = state.range(3) != 0;
  const CpuKernel kernel = state.range(4) != 0 ? cpuKernelFromEnvironment() : CpuKernel::reference;
  const FlameSettings settings = benchmarkSettings(size, quality, emitter, smooth);
  const EmitterMatte matte = emitter != 0 ? benchmarkMatte(size) : EmitterMatte{};
  double total = 0.0;
  double processorTotal = 0.0;
  for (auto _ : state) {
    std::vector<float4> image;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t processorStart = std::clock();
    benchmark::DoNotOptimize(renderFrameCpuWith(kernel, settings, nullptr, nullptr, matte, image));
    processorTotal += double(std::clock() - processorStart) / CLOCKS_PER_SEC;
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    benchmark::DoNotOptimize(image.data());
  }
  const Key key{emitter, quality, int(state.range(2)), int(smooth)};
  (state.range(4) == 0 ? referenceSeconds : fastSeconds)[key] =
      Seconds{total / double(state.iterations()), processorTotal / double(state.iterations())};
  state.SetLabel(cpuKernelName(kernel));
  state.counters["steps"] = settings.steps;
  state.SetItemsProcessed(state.iterations() * size.width * size.height);
}

void registerBenchmarks() {
  for (int fast = 0; fast < 2; ++fast) {
    for (int emitter = 0; emitter < 2; ++emitter) {
      for (int quality : kQualities) {
        for (int size = 0; size < 2; ++size) {
          for (int smooth = 1; smooth >= 0; --smooth) {
            const char* name = fast != 0 ? "fast" : "reference";
            benchmark::internal::Benchmark* b =
                benchmark::RegisterBenchmark(name, renderFrame)
                    ->Args({emitter, quality, size, smooth, fast})
                    ->ArgNames({"emitter", "quality", "size", "smooth", "fast"})
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
            // A full-HD reference frame takes minutes: once is enough.
            if (fast == 0 && size == 1) {
              b->Iterations(1);
            }
          }
        }
      }
    }
  }
}

void printRatios() {
  std::printf("\nfast path: %s; elapsed seconds per frame, then processor seconds of all threads\n",
              cpuKernelName(cpuKernelFromEnvironment()));
  std::printf("%-8s %-9s %-10s %-7s %11s %9s %7s %11s %9s %7s\n", "emitter", "quality", "size", "smooth",
              "reference", "fast", "ratio", "reference", "fast", "ratio");
  for (const auto& [key, fast] : fastSeconds) {
    const auto [emitter, quality, size, smooth] = key;
    const auto reference = referenceSeconds.find(key);
    char columns[2][2][32] = {{"-", "-"}, {"-", "-"}};  // elapsed, processor: reference, ratio
    if (reference != referenceSeconds.end()) {
      const double referenceTimes[2] = {reference->second.elapsed, reference->second.processor};
      const double fastTimes[2] = {fast.elapsed, fast.processor};
      for (int kind = 0; kind < 2; ++kind) {
        std::snprintf(columns[kind][0], sizeof columns[kind][0], "%.3f", referenceTimes[kind]);
        std::snprintf(columns[kind][1], sizeof columns[kind][1], "%.1fx", referenceTimes[kind] / fastTimes[kind]);
      }
    }
    char sizeText[32];
    std::snprintf(sizeText, sizeof sizeText, "%dx%d", kSizes[size].width, kSizes[size].height);
    std::printf("%-8s %-9s %-10s %-7s %11s %9.3f %7s %11s %9.3f %7s\n", emitter != 0 ? "layer" : "volume",
                quality != 0 ? "Original" : "Draft", sizeText, smooth != 0 ? "on" : "off", columns[0][0],
                fast.elapsed, columns[0][1], columns[1][0], fast.processor, columns[1][1]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  registerBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  printRatios();
  return 0;
}
