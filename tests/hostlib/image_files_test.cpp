// Image files written by the host and read back.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>

#include "hostlib/image_files.h"
#include "hostlib/program_errors.h"
#include "tests/support/program_runner.h"

namespace {

class ImageFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { scratch = makeScratchFolder(); }
  void TearDown() override { std::filesystem::remove_all(scratch); }
  std::string scratch;
};

// A world whose every channel differs, covering the depth's whole range; `opaque` keeps alpha at
// full intensity, where premultiplied and straight colour agree.
HostWorld patternedWorld(int bitDepth, bool opaque = false) {
  HostWorld world = makeHostWorld(7, 5, bitDepth);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) {
      std::byte* pixel = pixelAddress(world.world, x, y, bitDepth);
      for (int channel = 0; channel < 4; ++channel) {
        int index = opaque && channel == 0 ? 139 : (y * 7 + x) * 4 + channel;  // 0 .. 139
        if (bitDepth == 8) {
          pixel[channel] = static_cast<std::byte>(index * 255 / 139);
        } else if (bitDepth == 16) {
          uint16_t value = static_cast<uint16_t>(index * 32768 / 139);
          std::memcpy(pixel + channel * 2, &value, 2);
        } else {
          float value = static_cast<float>(index) / 139.0f * 1.5f - 0.25f;  // beyond 0..1 too
          std::memcpy(pixel + channel * 4, &value, 4);
        }
      }
    }
  }
  return world;
}

bool sameWorldPixels(const HostWorld& a, const HostWorld& b, int bitDepth) {
  if (a.world.width != b.world.width || a.world.height != b.world.height) {
    return false;
  }
  for (int y = 0; y < a.world.height; ++y) {
    if (std::memcmp(pixelAddress(a.world, 0, y, bitDepth), pixelAddress(b.world, 0, y, bitDepth),
                    static_cast<size_t>(a.world.width) * bytesPerPixel(bitDepth)) != 0) {
      return false;
    }
  }
  return true;
}

TEST_F(ImageFilesTest, HostPixelsSurviveAWriteAndARead) {
  struct Case {
    const char* name;
    int bitDepth;
  };
  for (const Case& test : {Case{"eight.png", 8}, Case{"sixteen.png", 16}, Case{"float.exr", 32}}) {
    HostWorld original = patternedWorld(test.bitDepth, test.bitDepth != 32);
    std::string path = scratch + "/" + test.name;
    writeImageFile(path, original.world, test.bitDepth);
    HostWorld readBack = hostWorldFromImage(readImageFile(path), test.bitDepth);
    EXPECT_TRUE(sameWorldPixels(original, readBack, test.bitDepth)) << test.name;
  }
}

// Host colour is premultiplied by alpha; PNG colour is straight, both ways.
TEST_F(ImageFilesTest, PngColourIsStraight) {
  HostWorld world = makeHostWorld(2, 1, 8);
  const uint8_t argb[8] = {128, 64, 32, 0, 0, 0, 0, 0};
  std::memcpy(world.world.data, argb, sizeof argb);
  std::string path = scratch + "/straight.png";
  writeImageFile(path, world.world, 8);
  RgbaImage image = readImageFile(path);
  EXPECT_EQ(image.rgba[3] * 255.0f, 128.0f);
  EXPECT_EQ(image.rgba[0], (128.0f / 255.0f) * (128.0f / 255.0f));  // 64 / 128 written as 128
  EXPECT_EQ(image.rgba[1], (64.0f / 255.0f) * (128.0f / 255.0f));   // 32 / 128 written as 64
  EXPECT_EQ(image.rgba[4 + 3], 0.0f);
  HostWorld readBack = hostWorldFromImage(image, 8);
  EXPECT_TRUE(sameWorldPixels(world, readBack, 8));
}

TEST_F(ImageFilesTest, SixteenBitHostValuesFillThePngRange) {
  HostWorld world = makeHostWorld(1, 1, 16);
  const uint16_t argb[4] = {32768, 16384, 1, 0};
  std::memcpy(world.world.data, argb, sizeof argb);
  std::string path = scratch + "/range.png";
  writeImageFile(path, world.world, 16);
  RgbaImage image = readImageFile(path);
  EXPECT_EQ(image.rgba[0] * 65535.0f, 32768.0f);  // red
  EXPECT_EQ(image.rgba[1] * 65535.0f, 2.0f);      // green: 1 * 65535 / 32768 rounds to 2
  EXPECT_EQ(image.rgba[2], 0.0f);
  EXPECT_EQ(image.rgba[3], 1.0f);  // alpha at full intensity
}

TEST_F(ImageFilesTest, ExrOfEightAndSixteenBitsDividesByFullIntensity) {
  for (int bitDepth : {8, 16}) {
    HostWorld world = patternedWorld(bitDepth);
    std::string path = scratch + "/deep.exr";
    writeImageFile(path, world.world, bitDepth);
    RgbaImage image = readImageFile(path);
    const std::byte* pixel = pixelAddress(world.world, 3, 2, bitDepth);
    float alpha = bitDepth == 8 ? static_cast<float>(static_cast<uint8_t>(pixel[0])) / 255.0f
                                : static_cast<float>(*reinterpret_cast<const uint16_t*>(pixel)) / 32768.0f;
    EXPECT_EQ(image.rgba[(2 * 7 + 3) * 4 + 3], alpha) << bitDepth;
  }
}

TEST_F(ImageFilesTest, FailedWritesLeaveNoFileBehind) {
  HostWorld world = makeHostWorld(4, 4, 8);
  EXPECT_THROW(writeImageFile(scratch + "/missing-folder/x.png", world.world, 8), RunError);
  EXPECT_THROW(writeImageFile(scratch + "/x.tga", world.world, 8), UsageError);
  // A float world written as PNG is refused before anything is created.
  std::string path = scratch + "/kept.png";
  writeImageFile(path, world.world, 8);
  EXPECT_TRUE(std::filesystem::exists(path));
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(scratch)) {
    ++files;
  }
  EXPECT_EQ(files, 1u) << "no temporary files remain";
}

TEST_F(ImageFilesTest, ImagesLargerThanTheEffectTakesAreRefusedBeforeDecoding) {
  struct Case {
    int width, height;
    bool accepted;
  };
  for (const char* extension : {".png", ".exr"}) {
    for (const Case& test : {Case{largestLayerSide, 1, true}, Case{largestLayerSide + 1, 1, false},
                             Case{1, largestLayerSide + 1, false}}) {
      std::string path = scratch + "/" + std::to_string(test.width) + "x" + std::to_string(test.height) + extension;
      writeImageFile(path, makeHostWorld(test.width, test.height, 8).world, 8);
      if (test.accepted) {
        EXPECT_EQ(readImageFile(path).width, test.width) << path;
        continue;
      }
      try {
        readImageFile(path);
        ADD_FAILURE() << path << " was read";
      } catch (const RunError& error) {
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
        EXPECT_NE(std::string(error.what()).find("16384"), std::string::npos) << error.what();
      }
    }
  }
}

TEST_F(ImageFilesTest, FormatComesFromTheExtensionWhenWritingAndTheContentWhenReading) {
  EXPECT_EQ(imageFormatForPath("a/b.PNG"), ImageFormat::png);
  EXPECT_EQ(imageFormatForPath("b.exr"), ImageFormat::exr);
  EXPECT_THROW(imageFormatForPath("b"), UsageError);

  HostWorld world = patternedWorld(8);
  std::string misnamed = scratch + "/really_a_png.exr.png";
  writeImageFile(misnamed, world.world, 8);
  std::filesystem::rename(misnamed, scratch + "/really_a_png.exr");
  EXPECT_EQ(readImageFile(scratch + "/really_a_png.exr").width, 7);
}

}  // namespace
