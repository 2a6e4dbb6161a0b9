// Decoded images into host pixel buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "session/host_pixels.h"

namespace {

RgbaImage onePixel(float red, float green, float blue, float alpha) {
  return RgbaImage{1, 1, {red, green, blue, alpha}};
}

TEST(HostPixels, ChannelsLandInHostOrderAtEachDepth) {
  struct Case {
    float value;
    uint8_t host8;
    uint16_t host16;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {{0.5f, 128, 16384}, {1.7f, 255, 32768}, {-0.2f, 0, 0},        {nan, 0, 0},
                        {1.0f, 255, 32768}, {0.0f, 0, 0},       {1.0f / 255.0f, 1, 129}};
  for (const Case& test : cases) {
    // The value in red only: alpha, green and blue hold markers that must stay in their places.
    RgbaImage image = onePixel(test.value, 0.0f, 1.0f, 1.0f);
    HostWorld world8 = hostWorldFromImage(image, 8);
    const auto* pixel8 = reinterpret_cast<const uint8_t*>(pixelAddress(world8.world, 0, 0, 8));
    EXPECT_EQ(pixel8[0], 255);
    EXPECT_EQ(pixel8[1], test.host8) << test.value;
    EXPECT_EQ(pixel8[2], 0);
    EXPECT_EQ(pixel8[3], 255);

    HostWorld world16 = hostWorldFromImage(image, 16);
    uint16_t pixel16[4];
    std::memcpy(pixel16, pixelAddress(world16.world, 0, 0, 16), sizeof pixel16);
    EXPECT_EQ(pixel16[0], 32768);
    EXPECT_EQ(pixel16[1], test.host16) << test.value;
    EXPECT_EQ(pixel16[3], 32768);
    EXPECT_EQ(world16.world.world_flags & PF_WorldFlag_DEEP, PF_WorldFlag_DEEP);

    HostWorld world32 = hostWorldFromImage(image, 32);
    float pixel32[4];
    std::memcpy(pixel32, pixelAddress(world32.world, 0, 0, 32), sizeof pixel32);
    EXPECT_EQ(std::memcmp(&pixel32[1], &test.value, 4), 0) << "32 bits keep the value itself";
  }
}

TEST(HostPixels, WorldsArePaddedAndTransparent) {
  HostWorld world = makeHostWorld(5, 3, 16);
  EXPECT_EQ(world.world.width, 5);
  EXPECT_EQ(world.world.height, 3);
  EXPECT_GT(world.world.rowbytes, 5 * 8);
  const auto* bytes = reinterpret_cast<const uint8_t*>(world.world.data);
  for (int i = 0; i < world.world.rowbytes * 3; ++i) {
    ASSERT_EQ(bytes[i], 0) << i;
  }
}

TEST(HostPixels, DownsamplingAveragesBlocksAndRoundsTheSizeUp) {
  // 5 x 3 pixels whose red channel counts 0..14.
  RgbaImage image{5, 3, {}};
  for (int i = 0; i < 15; ++i) {
    image.rgba.insert(image.rgba.end(), {static_cast<float>(i), 0.0f, 0.0f, 1.0f});
  }
  RgbaImage half = downsampleImage(image, 2);
  ASSERT_EQ(half.width, 3);
  ASSERT_EQ(half.height, 2);
  const float expectedRed[] = {3.0f, 5.0f, 6.5f, 10.5f, 12.5f, 14.0f};  // blocks cut at the edges
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(half.rgba[i * 4], expectedRed[i]) << i;
    EXPECT_EQ(half.rgba[i * 4 + 3], 1.0f) << i;
  }
  EXPECT_EQ(downsampleImage(image, 1).rgba, image.rgba);
}

TEST(HostPixels, CopyingIntoALargerWorldCutsAtItsEdges) {
  HostWorld source = makeHostWorld(2, 2, 8);
  std::memset(source.world.data, 0xAB, static_cast<size_t>(source.world.rowbytes) * 2);
  HostWorld target = makeHostWorld(3, 3, 8);
  copyWorldInto(source.world, target.world, 2, -1, 8);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 3; ++x) {
      uint8_t expected = (x == 2 && y == 0) ? 0xAB : 0;
      EXPECT_EQ(static_cast<uint8_t>(*pixelAddress(target.world, x, y, 8)), expected) << x << "," << y;
    }
  }
}

}  // namespace
