#include "gpu/gpu_context.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "cpu/parallel_rows.h"
#include "gpu/gpu_operations.h"
#include "tests/cpu/test_settings.h"
#include "tests/gpu/gpu_test_device.h"
#include "tests/support/test_mattes.h"

namespace {

// A matte with strong and weak cells and ages growing downward, so both matte reads matter.
EmitterMatte patternMatte(int32_t width, int32_t height) {
  return makeMatte(width, height, [](int32_t x, int32_t y) {
    const float value = (x * 7 + y * 3) % 5 == 0 ? 0.0f : float((x + y) % 9) / 8.0f;
    return MatteCell{value, float(y % 6) * 1.5f};
  });
}

int64_t orderedBits(float v) {
  int32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits < 0 ? int64_t(INT32_MIN) - bits : bits;
}

struct FrameDifference {
  size_t identicalPixels = 0;
  int64_t largestUlps = 0;
};

FrameDifference compareFrames(const std::vector<float4>& gpu, const std::vector<float4>& cpu) {
  FrameDifference difference;
  for (size_t i = 0; i < cpu.size(); ++i) {
    const float a[4] = {gpu[i].x, gpu[i].y, gpu[i].z, gpu[i].w};
    const float b[4] = {cpu[i].x, cpu[i].y, cpu[i].z, cpu[i].w};
    int64_t pixelUlps = 0;
    for (int c = 0; c < 4; ++c) {
      pixelUlps = std::max(pixelUlps, std::abs(orderedBits(a[c]) - orderedBits(b[c])));
    }
    difference.identicalPixels += pixelUlps == 0 ? 1 : 0;
    difference.largestUlps = std::max(difference.largestUlps, pixelUlps);
  }
  return difference;
}

struct FrameCase {
  const char* name;
  uint32_t width, height, emitterMode;
  bool smooth;
  float originX, originY, frameWidth, frameHeight;
};

TEST(GpuFrame, MatchesTheCpuRenderer) {
  ACQUIRE_GPU_OR_SKIP(context);
  const FrameCase cases[] = {
      {"volume 17 x 9", 17, 9, 0, false, 0, 0, 17, 9},
      {"volume smooth, odd size", 33, 21, 0, true, 0, 0, 33, 21},
      {"volume, negative origin", 23, 13, 0, false, -5, -3, 23, 13},
      {"volume smooth, frame smaller than output", 29, 15, 0, true, 2, 1, 20, 11},
      {"layer alpha 17 x 9", 17, 9, 1, false, 0, 0, 17, 9},
      {"layer luma smooth, odd size", 31, 19, 2, true, 0, 0, 31, 19},
      {"layer, negative origin, smaller frame", 27, 17, 1, true, -4, -2, 21, 12},
      // Wider than one GPU submission's tile of 1024 pixels: rows are put together from pieces.
      {"volume, two tiles and a bit across", 2061, 9, 0, false, 0, 0, 2061, 9},
      {"layer luma, wider than a tile, negative origin", 1041, 10, 2, true, -3, -1, 1030, 10},
      // Narrower frames take taller tiles, cut to whole rows of groups: 8,192 / 350 is 23 rows,
      // cut to 16; 8,192 / 520 is 15, cut to 8. Several rows of tiles and a partial group below.
      {"volume, tall and narrow", 350, 48, 0, false, 0, 0, 350, 48},
      {"layer alpha, tall and narrow, negative origin", 520, 30, 1, false, -3, -2, 517, 28},
  };
  for (const FrameCase& c : cases) {
    FlameSettings settings = testSettings(c.width, c.height, c.emitterMode, c.smooth);
    settings.steps = 24;
    settings.originX = c.originX;
    settings.originY = c.originY;
    settings.frameWidth = c.frameWidth;
    settings.frameHeight = c.frameHeight;
    settings.centerX = 0.3f;
    settings.centerY = -0.7f;
    const EmitterMatte matte = c.emitterMode == 0 ? EmitterMatte{}
                                                  : patternMatte(int32_t(c.frameWidth), int32_t(c.frameHeight));
    std::vector<float4> cpu;
    ASSERT_TRUE(renderFrameCpu(settings, nullptr, nullptr, matte, cpu)) << c.name;
    FlameSettings gpuSettings = settings;
    std::vector<float4> gpu(3, make_float4(9.0f, 9.0f, 9.0f, 9.0f));
    ASSERT_TRUE(renderFrame(*context, gpu, gpuSettings, nullptr, nullptr, matte)) << c.name;
    ASSERT_EQ(gpu.size(), cpu.size()) << c.name;
    EXPECT_GT(gpuSettings.hashWindows[3].z, 0) << c.name;
    const FrameDifference difference = compareFrames(gpu, cpu);
    // Every operation rounds as on the CPU; only the device's own exponential, taken with smooth
    // sampling, may differ (by up to 28 ulp in these frames on lavapipe made to use its own).
    if (!c.smooth || usesCpuExponential(*context)) {
      EXPECT_EQ(difference.identicalPixels, cpu.size()) << c.name << ": largest " << difference.largestUlps << " ulp";
    } else {
      EXPECT_LE(difference.largestUlps, 64) << c.name;
    }
    size_t outside = 0;
    for (uint32_t y = 0; y < c.height; ++y) {
      for (uint32_t x = 0; x < c.width; ++x) {
        const float lx = float(x) + c.originX;
        const float ly = float(y) + c.originY;
        if (lx < 0 || ly < 0 || lx >= c.frameWidth || ly >= c.frameHeight) {
          const float4 p = gpu[y * c.width + x];
          EXPECT_TRUE(p.x == 0 && p.y == 0 && p.z == 0 && p.w == 0) << c.name << " at " << x << ", " << y;
          ++outside;
        }
      }
    }
    EXPECT_EQ(outside > 0, c.originX < 0 || c.frameWidth < float(c.width)) << c.name;
  }
}

}  // namespace

namespace {

int attempts(GpuOperation operation) { return gpuOperationAttempts(operation); }

// Each frame makes only the resources it cannot reuse, and one it reuses must fit the new frame
// in both directions: every frame matches the CPU's. The layer and its matte fill the output, so
// that every pixel of a reused image or matte would show.
TEST(GpuFrame, ResourcesAreRemadeOnlyWhenTheFrameNeedsOthers) {
  ACQUIRE_GPU_OR_SKIP(context);
  const FlameSettings settings = testSettings(19, 11, 1, false);
  struct Step {
    const char* name;
    float time;
    uint32_t width, height;
    int outputTextures, hashBuffers, matteTextures;  // -1: not counted
  };
  const float later = settings.time + 0.5f;
  const Step steps[] = {
      {"first frame", settings.time, 19, 11, -1, -1, -1},
      {"same frame again", settings.time, 19, 11, 0, 0, 0},
      {"moved noise: new table only", later, 19, 11, 0, 1, 0},
      {"wider: new textures, same table", later, 23, 11, 1, 0, 1},
      {"taller, same width", later, 23, 29, 1, 0, 1},
      {"shorter, same width", later, 23, 6, 1, 0, 1},
      {"narrower, same height", later, 12, 6, 1, 0, 1},
  };
  std::vector<float4> image;
  for (const Step& step : steps) {
    const int outputBefore = attempts(GpuOperation::createOutputTexture);
    const int readbackBefore = attempts(GpuOperation::createReadbackTexture);
    const int hashBefore = attempts(GpuOperation::createHashBuffer);
    const int matteBefore = attempts(GpuOperation::createMatteTexture);
    FlameSettings frame = settings;
    frame.steps = 4;
    frame.time = step.time;
    frame.width = step.width;
    frame.height = step.height;
    frame.frameWidth = float(step.width);
    frame.frameHeight = float(step.height);
    const EmitterMatte matte = patternMatte(int32_t(step.width), int32_t(step.height));
    std::vector<float4> cpu;
    ASSERT_TRUE(renderFrameCpu(frame, nullptr, nullptr, matte, cpu)) << step.name;
    ASSERT_TRUE(renderFrame(*context, image, frame, nullptr, nullptr, matte)) << step.name;
    ASSERT_EQ(image.size(), cpu.size()) << step.name;
    EXPECT_EQ(compareFrames(image, cpu).identicalPixels, cpu.size()) << step.name;
    if (step.outputTextures < 0) continue;
    EXPECT_EQ(attempts(GpuOperation::createOutputTexture) - outputBefore, step.outputTextures) << step.name;
    EXPECT_EQ(attempts(GpuOperation::createReadbackTexture) - readbackBefore, step.outputTextures) << step.name;
    EXPECT_EQ(attempts(GpuOperation::createHashBuffer) - hashBefore, step.hashBuffers) << step.name;
    EXPECT_EQ(attempts(GpuOperation::createMatteTexture) - matteBefore, step.matteTextures) << step.name;
  }
}

// Answers "stop" from its `stopFrom`-th call on, counting calls; optionally blocks in its first
// call until released, to hold the frame lock from another thread.
struct AbortScript {
  std::atomic<int> calls{0};
  int stopFrom = 0;
  std::latch* entered = nullptr;
  std::latch* release = nullptr;
  static bool ask(void* context) {
    auto* script = static_cast<AbortScript*>(context);
    const int call = ++script->calls;
    if (call == 1 && script->entered != nullptr) {
      script->entered->count_down();
      script->release->wait();
    }
    return script->stopFrom != 0 && call >= script->stopFrom;
  }
};

TEST(GpuFrame, AbortWhileAnotherFrameHoldsTheLockReturnsWithoutIt) {
  ACQUIRE_GPU_OR_SKIP(context);
  std::latch entered(1);
  std::latch release(1);
  AbortScript holder;
  holder.entered = &entered;
  holder.release = &release;
  std::vector<float4> heldImage;
  bool heldResult = false;
  std::thread holding([&] {
    FlameSettings settings = testSettings(17, 9, 0, false);
    settings.steps = 4;
    heldResult = renderFrame(*context, heldImage, settings, AbortScript::ask, &holder, EmitterMatte{});
  });
  entered.wait();  // the other frame now holds the lock and waits in its abort check
  AbortScript stopping;
  stopping.stopFrom = 1;
  std::vector<float4> image;
  FlameSettings settings = testSettings(17, 9, 0, false);
  EXPECT_FALSE(renderFrame(*context, image, settings, AbortScript::ask, &stopping, EmitterMatte{}));
  EXPECT_EQ(stopping.calls.load(), 1);
  EXPECT_TRUE(image.empty());
  release.count_down();
  holding.join();
  EXPECT_TRUE(heldResult);
  EXPECT_EQ(heldImage.size(), 17u * 9u);
}

TEST(GpuFrame, AbortAfterSubmissionLeavesTheNextFrameIntact) {
  ACQUIRE_GPU_OR_SKIP(context);
  // The first check comes before submission; the second is either a completion poll (the frame
  // is still drawing) or the final check (the GPU was quicker than one poll). Which one depends on
  // the machine's load, so stopping from the second covers both without a race in the test.
  FlameSettings settings = testSettings(32, 24, 0, true);
  settings.steps = 64;
  AbortScript script;
  script.stopFrom = 2;
  std::vector<float4> image;
  EXPECT_FALSE(renderFrame(*context, image, settings, AbortScript::ask, &script, EmitterMatte{}));
  // The lock is free again and the aborted work does not spill into the next frame.
  FlameSettings next = testSettings(17, 9, 0, false);
  next.steps = 8;
  std::vector<float4> gpu;
  std::vector<float4> cpu;
  ASSERT_TRUE(renderFrame(*context, gpu, next, nullptr, nullptr, EmitterMatte{}));
  ASSERT_TRUE(renderFrameCpu(next, nullptr, nullptr, EmitterMatte{}, cpu));
  EXPECT_EQ(std::memcmp(gpu.data(), cpu.data(), cpu.size() * sizeof(float4)), 0);
}

// Releases a completion hold however the test leaves.
struct CompletionHold {
  CompletionHold() { holdGpuCompletion(true); }
  ~CompletionHold() { holdGpuCompletion(false); }
  void release() { holdGpuCompletion(false); }
};

// A stopped frame leaves work on the GPU. The next frame must wait for it asking its own abort
// check, and start nothing new when told to stop; once the work is done it renders exactly.
TEST(GpuFrame, TheFrameAfterAnAbortWaitsForTheLeftoversAskingItsAbortCheck) {
  ACQUIRE_GPU_OR_SKIP(context);
  const FlameSettings settings = [] {
    // Two tiles of GPU work, side by side.
    FlameSettings frame = testSettings(1040, 8, 0, false);
    frame.steps = 8;
    return frame;
  }();
  CompletionHold hold;
  std::vector<float4> image;
  AbortScript first;
  first.stopFrom = 2;  // the first call comes before any work is submitted
  FlameSettings firstSettings = settings;
  EXPECT_FALSE(renderFrame(*context, image, firstSettings, AbortScript::ask, &first, EmitterMatte{}));
  for (int frame = 1; frame <= 2; ++frame) {
    // While completion is held, a submission is the only GPU read-back step that counts.
    const int submissions = attempts(GpuOperation::readBack);
    AbortScript next;
    next.stopFrom = 2;
    FlameSettings copy = settings;
    EXPECT_FALSE(renderFrame(*context, image, copy, AbortScript::ask, &next, EmitterMatte{})) << frame;
    EXPECT_EQ(next.calls.load(), 2) << frame;
    EXPECT_EQ(attempts(GpuOperation::readBack), submissions) << "frame " << frame << " submitted work";
  }
  hold.release();
  FlameSettings gpuSettings = settings;
  std::vector<float4> cpu;
  ASSERT_TRUE(renderFrame(*context, image, gpuSettings, nullptr, nullptr, EmitterMatte{}));
  ASSERT_TRUE(renderFrameCpu(settings, nullptr, nullptr, EmitterMatte{}, cpu));
  ASSERT_EQ(image.size(), cpu.size());
  EXPECT_EQ(std::memcmp(image.data(), cpu.data(), cpu.size() * sizeof(float4)), 0);
}

TEST(GpuContextSlot, ConcurrentFirstRendersCreateOneContext) {
  ACQUIRE_GPU_OR_SKIP(existing);
  existing.reset();
  releaseSharedGpuContext();
  const int devicesBefore = attempts(GpuOperation::createDevice);
  constexpr int kThreads = 4;
  std::latch start(kThreads);
  std::shared_ptr<GpuContext> seen[kThreads];
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      seen[i] = acquireSharedGpuContext();
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(attempts(GpuOperation::createDevice) - devicesBefore, 1);
  for (const auto& context : seen) EXPECT_EQ(context.get(), seen[0].get());
}

TEST(GpuFailures, EveryMessageAndRecovery) {
  ACQUIRE_GPU_OR_SKIP(existing);
  existing.reset();
  struct Case {
    GpuOperation operation;
    bool duringSetUp;
    const char* message;
  };
  const Case cases[] = {
      {GpuOperation::createInstance, true, "DXGI initialization failed"},
      {GpuOperation::enumerateAdapters, true, "GPU enumeration failed"},
      {GpuOperation::describeAdapter, true, "GPU description failed"},
      {GpuOperation::createDevice, true, "Direct3D 11 GPU initialization failed"},
      {GpuOperation::createShader, true, "GPU shader initialization failed"},
      {GpuOperation::createConstantBuffer, true, "GPU constant buffer allocation failed"},
      {GpuOperation::createHashBuffer, false, "Noise hash buffer allocation failed"},
      {GpuOperation::createHashView, false, "Noise hash view failed"},
      {GpuOperation::createMatteTexture, false, "Matte texture allocation failed"},
      {GpuOperation::createMatteView, false, "Matte view allocation failed"},
      {GpuOperation::createOutputTexture, false, "GPU texture allocation failed"},
      {GpuOperation::createOutputView, false, "GPU output view failed"},
      {GpuOperation::createReadbackTexture, false, "GPU readback allocation failed"},
      {GpuOperation::readBack, false, "GPU readback failed"},
  };
  // A failed set-up leaves the slot empty; the next acquisition repeats it from the start.
  releaseSharedGpuContext();
  uint32_t width = 40;
  for (const Case& c : cases) {
    std::shared_ptr<GpuContext> context;
    if (!c.duringSetUp) context = acquireSharedGpuContext();
    // Each frame has a new size and new windows, so that every resource is made again.
    FlameSettings settings = testSettings(width++, 9, 1, false);
    settings.steps = 2;
    const EmitterMatte matte = patternMatte(int32_t(settings.width), 9);
    std::vector<float4> image;
    injectGpuFailure(c.operation);
    try {
      if (c.duringSetUp) context = acquireSharedGpuContext();
      renderFrame(*context, image, settings, nullptr, nullptr, matte);
      ADD_FAILURE() << c.message << ": no failure";
    } catch (const std::runtime_error& failure) {
      EXPECT_EQ(std::string(failure.what()), c.message);
    }
    clearGpuFailures();
    if (!c.duringSetUp) {
      // Nothing half-made is kept: the next frame makes the resource again and succeeds.
      FlameSettings again = settings;
      EXPECT_TRUE(renderFrame(*context, image, again, nullptr, nullptr, matte)) << c.message;
      EXPECT_EQ(image.size(), size_t(settings.width) * 9) << c.message;
    }
  }
}

TEST(AdapterRule, PicksTheFirstOfTheLargestDedicatedMemory) {
  const AdapterDescription software{true, true, 0};
  const AdapterDescription integrated{false, true, 0};
  const AdapterDescription small{false, true, 4};
  const AdapterDescription large{false, true, 8};
  const AdapterDescription largeWithoutCompute{false, false, 16};
  const AdapterDescription largeVulkan10{false, true, 16, true};
  struct Case {
    const char* name;
    std::vector<AdapterDescription> adapters;
    bool allowSoftware;
    int chosen;
  };
  const Case cases[] = {
      {"none", {}, false, -1},
      {"software only", {software}, false, -1},
      {"software allowed", {software}, true, 0},
      {"integrated with no dedicated memory", {software, integrated}, false, 1},
      {"more memory wins", {small, large}, false, 1},
      {"a tie keeps the first", {large, small, large}, false, 0},
      {"no compute queue, no candidate", {small, largeWithoutCompute}, false, 0},
      {"Vulkan 1.0 only, no candidate", {small, largeVulkan10}, false, 0},
      {"Vulkan 1.0 only falls back to the CPU", {largeVulkan10}, false, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(chooseAdapter(c.adapters, c.allowSoftware), c.chosen) << c.name;
  }
}

}  // namespace
