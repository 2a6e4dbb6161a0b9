// The finishing stage's cost beside the frame it finishes: a full-HD Draft frame of the default
// volume look as a host renders it through the effect module (on the CPU), then the glow (radius a tenth of the layer's height) at
// 8, 16 and 32 bits, the flicker and the emitter key on that frame. The ratios to the frame's
// render time follow the benchmark output.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "finishing/finishing.h"
#include "session/host_session.h"

namespace {

constexpr int frameWidth = 1920;
constexpr int frameHeight = 1080;

HostSession& draftSession() {
  static const std::unique_ptr<HostSession> session = [] {
    std::unique_ptr<HostSession> started = startSession(VORTELLINE_BUILT_MODULE_PATH);
    started->layerWidth = frameWidth;
    started->layerHeight = frameHeight;
    for (const char* setting : {"Quality=Draft (64)", "Processing=CPU"}) {
      setParamTrack(*started, parseAssignment(started->params, setting));
    }
    started->layers = {std::make_shared<const HostWorld>(makeHostWorld(frameWidth, frameHeight, 8))};
    return started;
  }();
  return *session;
}

HostWorld draftFrame(int bitDepth) {
  HostSession& session = draftSession();
  session.bitDepth = bitDepth;
  session.layers = {std::make_shared<const HostWorld>(makeHostWorld(frameWidth, frameHeight, bitDepth))};
  return renderFrame(session, 24, RenderPath::smart);
}

std::map<std::string, double> secondsPerRun;

template <typename Run>
void timeRuns(benchmark::State& state, const std::string& name, Run&& run) {
  double total = 0.0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    run();
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  secondsPerRun[name] = total / static_cast<double>(state.iterations());
}

void renderDraftFrame(benchmark::State& state) {
  timeRuns(state, "Draft frame", [&] { benchmark::DoNotOptimize(draftFrame(8)); });
}

// Arguments: bit depth; finishing: 0 glow, 1 flicker, 2 emitter key.
void finish(benchmark::State& state) {
  const int bitDepth = static_cast<int>(state.range(0));
  const int stage = static_cast<int>(state.range(1));
  FinishingValues finishing;
  setFinishingValue(finishing, glowAmount, stage == 0 ? 60 : 0);
  setFinishingValue(finishing, glowRadius, 10);
  setFinishingValue(finishing, flickerAmount, stage == 1 ? 20 : 0);
  setFinishingValue(finishing, flickerTips, 50);
  setFinishingValue(finishing, emitterKeyMode, stage == 2 ? emitterKeyThresholdMode : emitterKeyOff);
  const HostWorld source = draftFrame(bitDepth);
  HostWorld frame = makeHostWorld(frameWidth, frameHeight, bitDepth);
  const char* stages[] = {"glow", "flicker", "emitter key"};
  timeRuns(state, std::string(stages[stage]) + " " + std::to_string(bitDepth) + "-bit", [&] {
    state.PauseTiming();
    copyWorldInto(source.world, frame.world, 0, 0, bitDepth);
    state.ResumeTiming();
    if (stage == 2) {
      keyEmitterLayer(frame, finishing, EmitterChannel::luma);
    } else {
      finishFrame(frame, finishing, FinishingFrame{1.0, 0.0, static_cast<double>(frameHeight)}, OutputAlpha::effect);
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("draft_frame_1920x1080", renderDraftFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
  for (int stage = 0; stage < 3; ++stage) {
    for (int bitDepth : {8, 16, 32}) {
      if (stage > 0 && bitDepth != 8) {
        continue;
      }
      benchmark::RegisterBenchmark("finish_1920x1080", finish)
          ->Args({bitDepth, stage})
          ->ArgNames({"depth", "stage"})
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const auto frame = secondsPerRun.find("Draft frame");
  std::printf("\n%-20s %10s %16s\n", "stage", "ms", "share of frame");
  for (const auto& [name, seconds] : secondsPerRun) {
    char share[32] = "-";
    if (frame != secondsPerRun.end() && name != frame->first) {
      std::snprintf(share, sizeof share, "%.3f", seconds / frame->second);
    }
    std::printf("%-20s %10.2f %16s\n", name.c_str(), seconds * 1000.0, share);
  }
  return 0;
}
