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

namespace {

// A matte with strong and weak cells and ages growing downward, so both matte reads matter.
EmitterMatte patternMatte(int32_t width, int32_t height) {
  EmitterMatte matte;
  matte.width = width;
  matte.height = height;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const float value = (x * 7 + y * 3) % 5 == 0 ? 0.0f : float((x + y) % 9) / 8.0f;
      matte.cells.push_back(MatteCell{value, float(y % 6) * 1.5f});
    }
  }
  return matte;
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
  };
  for (const FrameCase& c : cases) {
    FlameSettings settings = testSettings(c.width, c.height, c.emitterMode, c.smooth);
    settings.steps = 24;
    settings.originX = c.originX;
    settings.originY = c.originY;
    settings.frameWidth = c.frameWidth;
    settings.frameHeight = c.frameHeight;
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
    // Without smooth sampling no exponential is taken, and every operation rounds as on the CPU.
    if (!c.smooth) {
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
