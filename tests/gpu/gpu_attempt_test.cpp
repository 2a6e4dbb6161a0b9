#include "render/gpu_attempt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "cpu/parallel_rows.h"
#include "gpu/gpu_operations.h"
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

}  // namespace
