#include "render/render_driver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "cpu/parallel_rows.h"
#include "render/flame_settings_build.h"
#include "render/gpu_attempt.h"
#include "tests/support/without_gpu.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Buffer {
  std::vector<uint8_t> bytes;
  FrameGeometry geometry;
};

Buffer makeBuffer(int width, int height, int depth, uint8_t fill = 0xAB) {
  Buffer buffer;
  buffer.bytes.assign(size_t(width) * height * bytesPerPixel(depth), fill);
  buffer.geometry.pixels = buffer.bytes.data();
  buffer.geometry.width = width;
  buffer.geometry.height = height;
  buffer.geometry.rowBytes = int64_t(width) * bytesPerPixel(depth);
  buffer.geometry.depth = depth;
  return buffer;
}

// Answers "stop" from its `stopFrom`-th call on (0: never), or at that call only, counting calls.
struct AbortScript {
  int calls = 0;
  int stopFrom = 0;
  bool once = false;
  static bool ask(void* context) {
    auto* script = static_cast<AbortScript*>(context);
    ++script->calls;
    if (script->once) return script->calls == script->stopFrom;
    return script->stopFrom != 0 && script->calls >= script->stopFrom;
  }
};

RenderRequest requestFor(int width, int height, AbortScript* abort = nullptr) {
  RenderRequest request;
  request.layerWidth = width;
  request.layerHeight = height;
  if (abort != nullptr) {
    request.abortCheck = AbortScript::ask;
    request.abortContext = abort;
  }
  return request;
}

FlameParams draftParams(int32_t processing = kProcessingCpu) {
  FlameParams params;
  params.quality = 0;
  params.processing = processing;
  params.timeSeconds = 0.75;
  return params;
}

std::string failureOf(const FrameGeometry& output, const FlameParams& params, const RenderRequest& request) {
  try {
    renderFlames(output, params, request);
  } catch (const std::runtime_error& failure) {
    return failure.what();
  }
  return "";
}

TEST(RenderDriver, EmptyOutputIsDoneBeforeAnyCheck) {
  FlameParams params;
  params.density = kNaN;
  FrameGeometry empty;
  EXPECT_TRUE(renderFlames(empty, params, RenderRequest{}));
  empty.width = 10;
  EXPECT_TRUE(renderFlames(empty, params, RenderRequest{}));
  empty.pixels = &empty;  // never written: the height is 0
  EXPECT_TRUE(renderFlames(empty, params, RenderRequest{}));
}

TEST(RenderDriver, GeometryChecksInOrder) {
  FrameGeometry noPixels;
  noPixels.width = 4;
  noPixels.height = 4;
  noPixels.rowBytes = 1;
  EXPECT_EQ(failureOf(noPixels, FlameParams{}, RenderRequest{}), "Missing output buffer");

  // Passing the checks is seen as the abort that follows them.
  AbortScript stop{0, 1};
  auto check = [&](int outWidth, int64_t rowBytes, RenderRequest request) {
    std::vector<uint8_t> bytes(1);
    FrameGeometry output;
    output.pixels = bytes.data();
    output.width = outWidth;
    output.height = 1;
    output.rowBytes = rowBytes;
    request.abortCheck = AbortScript::ask;
    request.abortContext = &stop;
    return failureOf(output, FlameParams{}, request);
  };
  const std::string unsupported = "Unsupported frame geometry";
  EXPECT_EQ(check(16384, 16384 * 4, requestFor(16384, 16384)), "");
  EXPECT_EQ(check(16385, 16385 * 4, requestFor(64, 64)), unsupported);
  EXPECT_EQ(check(8, 32, requestFor(16385, 64)), unsupported);
  EXPECT_EQ(check(8, 32, requestFor(64, 0)), unsupported);
  RenderRequest request = requestFor(64, 64);
  request.downsampleX = 1.0;
  request.pixelAspect = 100.0;
  EXPECT_EQ(check(8, 32, request), "");
  for (double bad : {0.0, -0.5, 1.0000001, std::nan(""), std::numeric_limits<double>::infinity()}) {
    request = requestFor(64, 64);
    request.downsampleY = bad;
    EXPECT_EQ(check(8, 32, request), unsupported) << bad;
    request = requestFor(64, 64);
    request.pixelAspect = bad == 1.0000001 ? 100.5 : bad;
    EXPECT_EQ(check(8, 32, request), unsupported) << bad;
  }
  EXPECT_EQ(check(100, -400, requestFor(64, 64)), "");
  EXPECT_EQ(check(100, 399, requestFor(64, 64)), "Output row is too short");
  EXPECT_EQ(check(100, -399, requestFor(64, 64)), "Output row is too short");
  EXPECT_EQ(check(100, std::numeric_limits<int64_t>::min(), requestFor(64, 64)), "");
  EXPECT_EQ(check(100, std::numeric_limits<int64_t>::max(), requestFor(64, 64)), "");
}

TEST(RenderDriver, ConvertsChannelsAtEachDepth) {
  // Image pixels are (r, g, b, a); host pixels are (a, r, g, b).
  const float4 row[] = {make_float4(0.5f, 1.7f, -0.2f, kNaN), make_float4(1.0f, 0.0f, 0.25f, 0.5f)};
  uint8_t out8[8];
  writeOutputRow(row, 2, out8, kDepth8);
  EXPECT_EQ(std::vector<uint8_t>(out8, out8 + 8), (std::vector<uint8_t>{0, 128, 255, 0, 128, 255, 0, 64}));
  uint16_t out16[8];
  writeOutputRow(row, 2, out16, kDepth16);
  EXPECT_EQ(std::vector<uint16_t>(out16, out16 + 8),
            (std::vector<uint16_t>{0, 16384, 32768, 0, 16384, 32768, 0, 8192}));
  float out32[8];
  writeOutputRow(row, 2, out32, kDepth32);
  EXPECT_EQ(std::vector<float>(out32, out32 + 8), (std::vector<float>{0, 0.5f, 1, 0, 0.5f, 1, 0, 0.25f}));
  uint8_t outUnknown[8];
  writeOutputRow(row, 2, outUnknown, 7);
  EXPECT_EQ(std::memcmp(outUnknown, out8, 8), 0);
  EXPECT_EQ(saturateChannel(-std::numeric_limits<float>::infinity()), 0.0f);
  EXPECT_EQ(saturateChannel(std::numeric_limits<float>::infinity()), 0.0f);
}

TEST(RenderDriver, FailuresAndEarlyAbortLeaveTheOutputUntouched) {
  Buffer buffer = makeBuffer(6, 4, kDepth8);
  const std::vector<uint8_t> original = buffer.bytes;

  FlameParams bad = draftParams();
  bad.density = kNaN;
  EXPECT_EQ(failureOf(buffer.geometry, bad, requestFor(6, 4)), "Non-finite parameter: Density");
  EXPECT_EQ(buffer.bytes, original);

  FlameParams layerParams = draftParams();
  layerParams.emitterSource = 1;
  std::vector<uint8_t> emitterPixels(6 * 4);
  FrameGeometry emitter;
  emitter.pixels = emitterPixels.data();
  emitter.width = 16385;
  emitter.height = 1;
  emitter.rowBytes = 16385 * 4;
  RenderRequest withEmitter = requestFor(6, 4);
  withEmitter.emitter = &emitter;
  EXPECT_EQ(failureOf(buffer.geometry, layerParams, withEmitter), "Invalid matte geometry");
  EXPECT_EQ(buffer.bytes, original);

  // A host that says stop once, during the matte build, and never again: the frame is dropped.
  emitter.width = 6;
  emitter.rowBytes = 6 * 4;
  AbortScript onceDuringMatte{0, 2, true};
  withEmitter.abortCheck = AbortScript::ask;
  withEmitter.abortContext = &onceDuringMatte;
  EXPECT_FALSE(renderFlames(buffer.geometry, layerParams, withEmitter));
  EXPECT_EQ(onceDuringMatte.calls, 2);
  EXPECT_EQ(buffer.bytes, original);

  AbortScript atOnce{0, 1};
  EXPECT_FALSE(renderFlames(buffer.geometry, draftParams(), requestFor(6, 4, &atOnce)));
  EXPECT_EQ(atOnce.calls, 1);
  EXPECT_EQ(buffer.bytes, original);

  // The driver asks twice before rendering, the CPU renderer before its one band and at its end;
  // a stop first seen on the driver's last question comes after the pixels are written.
  AbortScript afterConversion{0, 5};
  EXPECT_FALSE(renderFlames(buffer.geometry, draftParams(), requestFor(6, 4, &afterConversion)));
  EXPECT_EQ(afterConversion.calls, 5);
  EXPECT_NE(buffer.bytes, original);
}

TEST(RenderDriver, GpuRequiredReportsTheMissingGpuAndAutoFallsBackSilently) {
  const WithoutGpu withoutGpu;
  Buffer required = makeBuffer(5, 3, kDepth32);
  const std::vector<uint8_t> original = required.bytes;
  EXPECT_EQ(failureOf(required.geometry, draftParams(kProcessingGpuRequired), requestFor(5, 3)),
            "No hardware GPU available");
  EXPECT_EQ(required.bytes, original);

  Buffer automatic = makeBuffer(5, 3, kDepth32);
  Buffer cpu = makeBuffer(5, 3, kDepth32);
  EXPECT_TRUE(renderFlames(automatic.geometry, draftParams(kProcessingAuto), requestFor(5, 3)));
  EXPECT_TRUE(renderFlames(cpu.geometry, draftParams(kProcessingCpu), requestFor(5, 3)));
  EXPECT_EQ(automatic.bytes, cpu.bytes);
}

// The 32-bit output is the CPU renderer's image, saturated, pixel for pixel; 8- and 16-bit are its
// rounding; the output's origin and a bottom-up stride move the window, not the flames.
TEST(RenderDriver, OutputMatchesTheCpuRendererAtEveryDepth) {
  const int width = 7, height = 5;
  FlameParams params = draftParams();
  FrameGeometry geometry;
  geometry.width = width;
  geometry.height = height;
  geometry.originX = 3;
  geometry.originY = 1;
  RenderRequest request = requestFor(16, 9);
  FlameParams validated = params;
  FlameSettings settings;
  buildFlameSettings(settings, geometry, validated, request);
  std::vector<float4> image;
  ASSERT_TRUE(renderFrameCpu(settings, nullptr, nullptr, EmitterMatte{}, image));

  for (int depth : {kDepth8, kDepth16, kDepth32}) {
    Buffer buffer = makeBuffer(width, height, depth);
    buffer.geometry.originX = 3;
    buffer.geometry.originY = 1;
    // Bottom-up: the first row sits at the end of the storage.
    buffer.geometry.pixels = buffer.bytes.data() + (height - 1) * buffer.geometry.rowBytes;
    buffer.geometry.rowBytes = -buffer.geometry.rowBytes;
    ASSERT_TRUE(renderFlames(buffer.geometry, params, request));
    for (int y = 0; y < height; ++y) {
      std::vector<uint8_t> expected(width * bytesPerPixel(depth));
      writeOutputRow(image.data() + y * width, width, expected.data(), depth);
      const uint8_t* row = static_cast<uint8_t*>(buffer.geometry.pixels) + y * buffer.geometry.rowBytes;
      EXPECT_EQ(std::memcmp(row, expected.data(), expected.size()), 0) << "depth " << depth << " row " << y;
    }
  }
}

}  // namespace
