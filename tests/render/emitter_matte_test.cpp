#include "render/emitter_matte_build.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

FlameSettings matteSettings(float frameWidth, float frameHeight, uint32_t emitterMode,
                            float riseHeight) {
  FlameSettings s;
  std::memset(&s, 0, sizeof s);
  s.frameWidth = frameWidth;
  s.frameHeight = frameHeight;
  s.emitterMode = emitterMode;
  s.riseHeight = riseHeight;
  return s;
}

// A 32-bit emitter buffer, top row first, channels alpha, red, green, blue.
struct FloatLayer {
  FloatLayer(int width, int height) : pixels(size_t(width) * height * 4, 0.0f) {
    geometry.pixels = pixels.data();
    geometry.width = width;
    geometry.height = height;
    geometry.rowBytes = int64_t{width} * 16;
    geometry.depth = kDepth32;
  }
  void set(int x, int y, float a, float r, float g, float b) {
    float* p = &pixels[(size_t(y) * geometry.width + x) * 4];
    p[0] = a;
    p[1] = r;
    p[2] = g;
    p[3] = b;
  }
  std::vector<float> pixels;
  FrameGeometry geometry;
};

// A field built to the end: the request asks for no stop.
EmitterMatte builtMatte(const FrameGeometry* emitter, const FlameSettings& s) {
  EmitterMatte matte;
  EXPECT_TRUE(buildEmitterMatte(emitter, s, RenderRequest{}, matte));
  return matte;
}

const MatteCell& cellAt(const EmitterMatte& matte, int x, int y) {
  return matte.cells[size_t(y) * matte.width + x];
}

TEST(BuildEmitterMatte, WithoutAUsableLayerTheFieldIsZero) {
  const FlameSettings s = matteSettings(7, 5, 1, 2);
  FloatLayer noSize(0, 0);
  FloatLayer noPixels(3, 3);
  noPixels.geometry.pixels = nullptr;
  const FrameGeometry* emitters[] = {nullptr, &noSize.geometry, &noPixels.geometry};
  for (const FrameGeometry* emitter : emitters) {
    const EmitterMatte matte = builtMatte(emitter, s);
    EXPECT_EQ(matte.width, 7);
    EXPECT_EQ(matte.height, 5);
    ASSERT_EQ(matte.cells.size(), 35u);
    for (const MatteCell& cell : matte.cells) {
      EXPECT_EQ(cell.value, 0.0f);
      EXPECT_EQ(cell.age, 0.0f);
    }
  }
}

TEST(BuildEmitterMatte, RejectsOversizedOrShortRowedBuffers) {
  const FlameSettings s = matteSettings(4, 4, 1, 2);
  struct Case {
    const char* name;
    int32_t width, height;
    int64_t rowBytes;
    int32_t depth;
    bool valid;
  };
  const Case cases[] = {
      {"16385 wide", 16385, 1, 16385 * 4, kDepth8, false},
      {"16385 high", 1, 16385, 4, kDepth8, false},
      {"16384 wide", 16384, 1, 16384 * 4, kDepth8, true},
      {"bottom-up 8-bit", 100, 2, -400, kDepth8, true},
      {"bottom-up one byte short", 100, 2, -399, kDepth8, false},
      {"16-bit rows of 8-bit size", 100, 2, 400, kDepth16, false},
      {"32-bit rows", 100, 2, 1600, kDepth32, true},
      // Unknown codes are read as float channels: their rows must hold 16 bytes a pixel.
      {"depth 7 rows of 8-bit size", 100, 2, 400, 7, false},
      {"depth 7 rows of float size", 100, 2, 1600, 7, true},
  };
  for (const Case& c : cases) {
    std::vector<unsigned char> bytes(size_t(std::abs(c.rowBytes)) * c.height + 16, 0);
    FrameGeometry emitter;
    emitter.width = c.width;
    emitter.height = c.height;
    emitter.rowBytes = c.rowBytes;
    emitter.depth = c.depth;
    emitter.pixels = c.rowBytes < 0 ? bytes.data() + (c.height - 1) * -c.rowBytes : bytes.data();
    if (c.valid) {
      EXPECT_NO_THROW(builtMatte(&emitter, s)) << c.name;
    } else {
      try {
        builtMatte(&emitter, s);
        ADD_FAILURE() << c.name << " was accepted";
      } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Invalid matte geometry") << c.name;
      }
    }
  }
}

TEST(BuildEmitterMatte, SingleWhitePixelLeavesABlurredTrailUpward) {
  // A 1080-row frame: spread 0.2 to each side, keep 0.6 from the cell below.
  const FlameSettings s = matteSettings(5, 1080, 1, 100);
  FloatLayer layer(5, 1080);
  layer.set(2, 1079, 1, 1, 1, 1);
  const EmitterMatte matte = builtMatte(&layer.geometry, s);
  const float decay = std::exp(-0.015f);
  EXPECT_EQ(cellAt(matte, 2, 1079).value, 1.0f);
  EXPECT_EQ(cellAt(matte, 2, 1079).age, 0.0f);
  EXPECT_EQ(cellAt(matte, 2, 1078).value, 0.6f * decay);
  EXPECT_EQ(cellAt(matte, 2, 1078).age, 1.0f);
  EXPECT_FLOAT_EQ(cellAt(matte, 1, 1078).value, 0.2f * decay);
  EXPECT_EQ(cellAt(matte, 1, 1078).age, 1.0f);
  EXPECT_FLOAT_EQ(cellAt(matte, 3, 1078).value, 0.2f * decay);
  EXPECT_EQ(cellAt(matte, 0, 1078).value, 0.0f);
  // Two rows up the trail is wider and older, and the value keeps fading.
  EXPECT_GT(cellAt(matte, 0, 1077).value, 0.0f);
  EXPECT_EQ(cellAt(matte, 2, 1077).age, 2.0f);
  EXPECT_LT(cellAt(matte, 2, 1077).value, cellAt(matte, 2, 1078).value);
}

TEST(BuildEmitterMatte, OwnEmissionWinsTiesAndTrailsStopAtTheRiseHeight) {
  // One column, so each cell carries only the cell below: ages count rows exactly.
  const float riseHeight = 3.0f;
  const FlameSettings s = matteSettings(1, 8, 1, riseHeight);
  const float decay = std::exp(-1.5f / riseHeight);
  const float keep = 1.0f - ((8.0f * 0.2f) / 1080.0f + (8.0f * 0.2f) / 1080.0f);
  const float carried = keep * 1.0f * decay;

  FloatLayer tie(1, 8);
  tie.set(0, 7, 1, 0, 0, 0);
  tie.set(0, 6, carried, 0, 0, 0);
  const EmitterMatte tied = builtMatte(&tie.geometry, s);
  EXPECT_EQ(cellAt(tied, 0, 6).value, carried);
  EXPECT_EQ(cellAt(tied, 0, 6).age, 0.0f);

  FloatLayer weaker(1, 8);
  weaker.set(0, 7, 1, 0, 0, 0);
  weaker.set(0, 6, nextafterf(carried, 0.0f), 0, 0, 0);
  const EmitterMatte overtaken = builtMatte(&weaker.geometry, s);
  EXPECT_EQ(cellAt(overtaken, 0, 6).value, carried);
  EXPECT_EQ(cellAt(overtaken, 0, 6).age, 1.0f);

  // From the bottom: ages 0, 1, 2; the next row would carry age 3 = riseHeight and stops.
  EXPECT_EQ(cellAt(overtaken, 0, 5).age, 2.0f);
  EXPECT_GT(cellAt(overtaken, 0, 5).value, 0.0f);
  for (int y = 0; y <= 4; ++y) {
    EXPECT_EQ(cellAt(overtaken, 0, y).value, 0.0f) << y;
    EXPECT_EQ(cellAt(overtaken, 0, y).age, 0.0f) << y;
  }
}

TEST(BuildEmitterMatte, AbortCheckEverySixtyFourRowsReportsTheStop) {
  const FlameSettings s = matteSettings(2, 130, 1, 1);  // a trail of one row: rows stay apart
  FloatLayer layer(2, 130);
  for (int y = 0; y < 130; ++y) {
    layer.set(0, y, 1, 0, 0, 0);
  }
  struct Counter {
    int checks = 0;
    int stopAt = 0;
  };
  auto check = [](void* context) {
    Counter* counter = static_cast<Counter*>(context);
    return ++counter->checks == counter->stopAt;
  };
  struct Case {
    int stopAt;
    int checks;
    int firstBuiltRow;
  };
  // Checks come before rows 128, 64 and 0.
  const Case cases[] = {{0, 3, 0}, {1, 1, 129}, {2, 2, 65}, {3, 3, 1}};
  for (const Case& c : cases) {
    Counter counter;
    counter.stopAt = c.stopAt;
    RenderRequest request;
    request.abortCheck = check;
    request.abortContext = &counter;
    EmitterMatte matte;
    EXPECT_EQ(buildEmitterMatte(&layer.geometry, s, request, matte), c.stopAt == 0) << c.stopAt;
    EXPECT_EQ(counter.checks, c.checks) << c.stopAt;
    for (int y = 0; y < 130; ++y) {
      EXPECT_EQ(cellAt(matte, 0, y).value, y >= c.firstBuiltRow ? 1.0f : 0.0f)
          << "stop at " << c.stopAt << ", row " << y;
    }
  }
}

TEST(SampleEmitterLayer, ConvertsEachDepthAndMode) {
  struct Case {
    const char* name;
    int32_t depth;
    uint32_t mode;
    double a, r, g, b;  // stored channel values
    float expected;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {"8-bit alpha", kDepth8, 1, 51, 0, 0, 0, 0.2f},
      {"8-bit luma of red", kDepth8, 2, 255, 255, 0, 0, 0.2125f},
      {"8-bit transparent white", kDepth8, 2, 0, 255, 255, 255, 0.0f},
      {"16-bit full alpha is 32768", kDepth16, 1, 32768, 0, 0, 0, 1.0f},
      {"16-bit half", kDepth16, 1, 16384, 0, 0, 0, 0.5f},
      {"16-bit above full clamps", kDepth16, 1, 65535, 0, 0, 0, 1.0f},
      {"16-bit luma of green", kDepth16, 2, 32768, 0, 32768, 0, 0.7154f},
      {"32-bit alpha", kDepth32, 1, 0.375, 0, 0, 0, 0.375f},
      {"32-bit alpha above 1", kDepth32, 1, 7.0, 0, 0, 0, 1.0f},
      {"32-bit negative luma", kDepth32, 2, 1.0, -2.0, 0, 0, 0.0f},
      {"32-bit luma with no alpha division", kDepth32, 2, 0.5, 0, 0, 0.5, 0.03605f},
      {"32-bit NaN alpha", kDepth32, 1, nan, 0, 0, 0, 0.0f},
      {"32-bit NaN colour", kDepth32, 2, 1.0, nan, 0, 0, 0.0f},
      {"32-bit infinite colour", kDepth32, 2, 1.0, inf, 0, 0, 0.0f},
      {"32-bit infinite alpha", kDepth32, 1, inf, 0, 0, 0, 0.0f},
      {"32-bit negative alpha", kDepth32, 2, -1.0, 1, 1, 1, 0.0f},
  };
  for (const Case& c : cases) {
    unsigned char pixel[16] = {};
    const double channels[4] = {c.a, c.r, c.g, c.b};
    for (int k = 0; k < 4; ++k) {
      if (c.depth == kDepth8) {
        pixel[k] = (unsigned char)channels[k];
      } else if (c.depth == kDepth16) {
        const uint16_t v = (uint16_t)channels[k];
        std::memcpy(pixel + 2 * k, &v, 2);
      } else {
        const float v = (float)channels[k];
        std::memcpy(pixel + 4 * k, &v, 4);
      }
    }
    FrameGeometry emitter;
    emitter.pixels = pixel;
    emitter.width = 1;
    emitter.height = 1;
    emitter.rowBytes = 16;
    emitter.depth = c.depth;
    EXPECT_FLOAT_EQ(sampleEmitterLayer(emitter, c.mode, 0, 0), c.expected) << c.name;
  }
}

TEST(SampleEmitterLayer, HonoursOriginAndBottomUpRows) {
  // Two rows of 8-bit pixels stored bottom-up: memory holds row 1 first, then row 0.
  unsigned char bytes[2][3][4] = {};
  bytes[1][0][0] = 255;  // layer row 0, column 0 (before the origin shift)
  bytes[0][2][0] = 51;   // layer row 1, column 2
  FrameGeometry emitter;
  emitter.pixels = bytes[1];
  emitter.width = 3;
  emitter.height = 2;
  emitter.rowBytes = -12;
  emitter.originX = 4;
  emitter.originY = -1;
  emitter.depth = kDepth8;
  struct Case {
    int x, y;
    float expected;
  };
  const Case cases[] = {{4, -1, 1.0f}, {6, 0, 0.2f}, {5, 0, 0.0f},  {3, -1, 0.0f},
                        {7, 0, 0.0f},  {4, 1, 0.0f}, {4, -2, 0.0f}, {0, 0, 0.0f}};
  for (const Case& c : cases) {
    EXPECT_FLOAT_EQ(sampleEmitterLayer(emitter, 1, c.x, c.y), c.expected) << c.x << ", " << c.y;
  }
}

}  // namespace
