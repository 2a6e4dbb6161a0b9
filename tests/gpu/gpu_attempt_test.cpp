#include "render/gpu_attempt.h"

#include <gtest/gtest.h>

#include <vector>

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "cpu/parallel_rows.h"
#include "gpu/gpu_operations.h"
#include "render/render_driver.h"
#include "tests/cpu/test_settings.h"
#include "tests/gpu/gpu_test_device.h"

namespace {

bool stopAlways(void*) { return true; }

TEST(GpuAttempt, WhatEachProcessingChoiceMakesOfTheGpu) {
  ACQUIRE_GPU_OR_SKIP(context);
  struct Case {
    const char* name;
    int32_t processing;
    bool failReadBack;
    bool abort;
    std::optional<bool> outcome;  // nothing: give way to the CPU
    const char* failure;
  };
  const Case cases[] = {
      {"auto renders on the GPU", kProcessingAuto, false, false, true, ""},
      {"auto gives way silently", kProcessingAuto, true, false, std::nullopt, ""},
      {"required reports the GPU's failure", kProcessingGpuRequired, true, false, std::nullopt,
       "GPU readback failed"},
      {"an abort is a result, not a failure", kProcessingAuto, false, true, false, ""},
      {"an abort in required mode too", kProcessingGpuRequired, false, true, false, ""},
  };
  for (const Case& c : cases) {
    const FlameSettings settings = testSettings(17, 9, 0, false);
    RenderRequest request;
    if (c.abort) request.abortCheck = stopAlways;
    if (c.failReadBack) injectGpuFailure(GpuOperation::readBack);
    std::vector<float4> image;
    std::optional<bool> outcome;
    std::string failure;
    try {
      outcome = tryRenderOnGpu(image, settings, request, EmitterMatte{}, c.processing);
    } catch (const std::runtime_error& e) {
      failure = e.what();
    }
    clearGpuFailures();
    EXPECT_EQ(outcome, c.outcome) << c.name;
    EXPECT_EQ(failure, c.failure) << c.name;
    if (outcome == std::optional<bool>(true)) {
      std::vector<float4> cpu;
      ASSERT_TRUE(renderFrameCpu(settings, nullptr, nullptr, EmitterMatte{}, cpu));
      EXPECT_EQ(std::memcmp(image.data(), cpu.data(), cpu.size() * sizeof(float4)), 0) << c.name;
    }
  }
}

// Through the render driver, with a device at hand: each Processing choice tries the GPU or not
// as its name says, and what it makes of a GPU that fails. Read-back attempts show whether the
// GPU took the frame; the CPU renderer's frame is the reference for every frame delivered.
TEST(GpuAttempt, EachProcessingChoiceDoesWhatItSaysThroughTheDriver) {
  ACQUIRE_GPU_OR_SKIP(context);
  struct Case {
    const char* name;
    int32_t processing;
    bool gpuFails;
    bool gpuTried;
    const char* failure;  // empty: the CPU renderer's frame is delivered
  };
  const Case cases[] = {
      {"auto renders on the GPU", kProcessingAuto, false, true, ""},
      {"auto falls back to the CPU", kProcessingAuto, true, true, ""},
      {"required renders on the GPU", kProcessingGpuRequired, false, true, ""},
      {"required fails with the GPU", kProcessingGpuRequired, true, true, "GPU readback failed"},
      {"CPU never asks the GPU", kProcessingCpu, false, false, ""},
      {"CPU never meets a failing GPU", kProcessingCpu, true, false, ""},
  };
  constexpr int width = 7, height = 5;
  FlameParams params;
  params.quality = 0;
  params.timeSeconds = 0.75;
  RenderRequest request;
  request.layerWidth = width;
  request.layerHeight = height;
  auto frameOf = [&](int32_t processing, std::vector<float4>& pixels) {
    pixels.assign(size_t(width) * height, float4{});
    FrameGeometry output;
    output.pixels = pixels.data();
    output.width = width;
    output.height = height;
    output.rowBytes = int64_t(width) * int64_t(sizeof(float4));
    output.depth = kDepth32;
    FlameParams chosen = params;
    chosen.processing = processing;
    return renderFlames(output, chosen, request);
  };
  std::vector<float4> cpu;
  ASSERT_TRUE(frameOf(kProcessingCpu, cpu));
  for (const Case& c : cases) {
    if (c.gpuFails) injectGpuFailure(GpuOperation::readBack);
    const int readBacksBefore = gpuOperationAttempts(GpuOperation::readBack);
    std::vector<float4> frame;
    std::string failure;
    bool rendered = false;
    try {
      rendered = frameOf(c.processing, frame);
    } catch (const std::runtime_error& e) {
      failure = e.what();
    }
    clearGpuFailures();
    EXPECT_EQ(gpuOperationAttempts(GpuOperation::readBack) > readBacksBefore, c.gpuTried) << c.name;
    EXPECT_EQ(failure, c.failure) << c.name;
    if (failure.empty()) {
      EXPECT_TRUE(rendered) << c.name;
      EXPECT_EQ(std::memcmp(frame.data(), cpu.data(), cpu.size() * sizeof(float4)), 0) << c.name;
    }
  }
}

}  // namespace
