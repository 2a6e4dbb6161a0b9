// Image files written by the host and read back.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfFrameBuffer.h>
#include <ImfOutputFile.h>
#include <png.h>

#include <array>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <thread>

#include "media/image_files.h"
#include "session/program_errors.h"
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
  // A missing folder is made; one that cannot be (a file in the way) fails the write.
  std::ofstream(scratch + "/in-the-way") << "a file";
  EXPECT_THROW(writeImageFile(scratch + "/in-the-way/x.png", world.world, 8), RunError);
  EXPECT_THROW(writeImageFile(scratch + "/x.tga", world.world, 8), UsageError);
  // A float world written as PNG is refused before anything is created.
  std::string path = scratch + "/kept.png";
  writeImageFile(path, world.world, 8);
  EXPECT_TRUE(std::filesystem::exists(path));
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(scratch)) {
    ++files;
  }
  EXPECT_EQ(files, 2u) << "no temporary files remain";
}

// With files capped at 64 bytes every write fails part way (a full disk acts the same); exits 0
// when each format reports it and leaves nothing behind.
void writeIntoAFullDisk(const std::string& folder) {
  std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
  const rlimit cap{64, 64};
  if (setrlimit(RLIMIT_FSIZE, &cap) != 0) {
    std::_Exit(5);
  }
  HostWorld world = makeHostWorld(16, 16, 8);
  for (const char* name : {"/full.png", "/full.exr"}) {
    try {
      writeImageFile(folder + name, world.world, 8);
      std::_Exit(2);
    } catch (const RunError& error) {
      if (std::string(error.what()).find(std::strerror(EFBIG)) == std::string::npos) {
        std::_Exit(3);
      }
    }
  }
  std::_Exit(std::filesystem::is_empty(folder) ? 0 : 4);
}

TEST_F(ImageFilesTest, WriteErrorsFailTheFileAndLeaveNothing) {
  EXPECT_EXIT(writeIntoAFullDisk(scratch), testing::ExitedWithCode(0), "");
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

// The size a header declares is read without decoding; an OpenEXR attribute that claims more bytes
// than the file holds is refused before OpenEXR takes that memory.
TEST_F(ImageFilesTest, HeadersAreReadWithoutDecodingAndDamagedOnesRefused) {
  auto bytesOf = [](const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  };
  for (const char* extension : {".png", ".exr"}) {
    const std::string path = scratch + "/seven_by_five" + extension;
    writeImageFile(path, makeHostWorld(7, 5, 8).world, 8);
    const std::optional<ImageSize> size = declaredImageSize(bytesOf(path));
    ASSERT_TRUE(size.has_value()) << path;
    EXPECT_EQ(size->width, 7) << path;
    EXPECT_EQ(size->height, 5) << path;
  }
  std::string exr("\x76\x2f\x31\x01\x02\x00\x00\x00", 8);
  exr += std::string("comments\0string\0", 16) + std::string("\xff\xff\xff\x7f", 4) + "short";
  const std::string damaged = scratch + "/damaged.exr";
  std::ofstream(damaged, std::ios::binary) << exr;
  EXPECT_FALSE(declaredImageSize(bytesOf(damaged)).has_value());
  EXPECT_FALSE(declaredImageSize({'n', 'o', 't'}).has_value());
  try {
    readImageFile(damaged);
    ADD_FAILURE() << "a damaged header was read";
  } catch (const RunError& error) {
    EXPECT_NE(std::string(error.what()).find("header is damaged"), std::string::npos) << error.what();
  }
}

// A PNG of only a header claiming width x height, an empty image data chunk and an end.
std::string bigEndian32(uint32_t value) {
  return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

// One PNG chunk: length, type, data and checksum.
std::string pngChunk(const char* type, const std::string& data) {
  const std::string body = type + data;
  return bigEndian32(uint32_t(data.size())) + body +
         bigEndian32(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// A PNG from its header's fields, the chunks between header and data, and the deflated rows.
std::string pngFile(uint32_t width, uint32_t height, int bitDepth, int colourType, const std::string& chunks,
                    const std::string& deflatedRows) {
  const char depthTypeAndMethods[] = {char(bitDepth), char(colourType), 0, 0, 0};
  return std::string("\x89PNG\r\n\x1a\n", 8) +
         pngChunk("IHDR", bigEndian32(width) + bigEndian32(height) + std::string(depthTypeAndMethods, 5)) + chunks +
         pngChunk("IDAT", deflatedRows) + pngChunk("IEND", "");
}

// A PNG of only a header claiming width x height, an empty image data chunk and an end.
std::string headerOnlyPng(uint32_t width, uint32_t height, int bitDepth) {
  const char emptyDeflate[] = {0x78, char(0x9c), 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
  return pngFile(width, height, bitDepth, 6, "", std::string(emptyDeflate, sizeof emptyDeflate));
}

// An OpenEXR file whose header and offset table claim width x height pixels and no pixel data.
void writeHeaderOnlyExr(const std::string& path, int width, int height) {
  Imf::Header header(width, height);
  for (const char* name : {"R", "G", "B", "A"}) {
    header.channels().insert(name, Imf::Channel(Imf::HALF));
  }
  Imf::OutputFile file(path.c_str(), header);
}

// Reads each file with the address space capped 256 MiB above what the process uses, so taking
// the gigabytes a header claims fails; exits 0 when every file is refused with a RunError naming
// it, 1 on running out of memory, 2 when one was read, 3 for any other failure.
void readUnderAMemoryCap(const std::vector<std::string>& paths) {
  long pages = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) {
    std::_Exit(4);
  }
  std::fclose(statm);
  const rlim_t limit = rlim_t(pages) * 4096 + (rlim_t(256) << 20);
  const rlimit cap{limit, limit};
  if (setrlimit(RLIMIT_AS, &cap) != 0) {
    std::_Exit(5);
  }
  for (const std::string& path : paths) {
    try {
      readImageFile(path);
      std::_Exit(2);
    } catch (const RunError& error) {
      const std::string message = error.what();
      if (message.find("out of memory") != std::string::npos) {
        std::_Exit(1);
      }
      if (message.find(path) == std::string::npos) {
        std::_Exit(3);
      }
    } catch (...) {
      std::_Exit(3);
    }
  }
  std::_Exit(0);
}

TEST_F(ImageFilesTest, HeadersClaimingMorePixelsThanTheFileHoldsAreRefusedBeforeAllocating) {
  std::vector<std::string> paths;
  for (int bitDepth : {8, 16}) {
    paths.push_back(scratch + "/claims-" + std::to_string(bitDepth) + ".png");
    std::ofstream(paths.back(), std::ios::binary) << headerOnlyPng(16384, 16384, bitDepth);
  }
  paths.push_back(scratch + "/claims.exr");
  writeHeaderOnlyExr(paths.back(), 16384, 16384);
  EXPECT_LT(std::filesystem::file_size(paths.back()), 16384u);
  EXPECT_EXIT(readUnderAMemoryCap(paths), testing::ExitedWithCode(0), "");

  try {
    readImageFile(paths[0]);
  } catch (const RunError& error) {
    EXPECT_NE(std::string(error.what()).find("cannot hold the 16384x16384 pixels it claims"), std::string::npos)
        << error.what();
  }
}

// A PNG of width x height pixels whose every byte is `value`, deflated as it is made: at 8192 x
// 8192, a megabyte that decodes to a quarter of a gigabyte. Interlaced, its seven passes.
std::string uniformPng(uint32_t width, uint32_t height, unsigned char value, bool interlaced) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  auto chunk = [&](const char* type, const std::string& data) {
    const std::string body = type + data;
    png += bigEndian32(uint32_t(data.size())) + body +
           bigEndian32(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
  };
  const char header[] = {8, 6, 0, 0, char(interlaced ? 1 : 0)};
  chunk("IHDR", bigEndian32(width) + bigEndian32(height) + std::string(header, 5));
  z_stream stream{};
  deflateInit(&stream, Z_BEST_SPEED);
  std::string deflated;
  std::vector<unsigned char> buffer(1 << 16);
  auto add = [&](std::vector<unsigned char> data, int flush) {
    stream.next_in = data.data();
    stream.avail_in = uInt(data.size());
    do {
      stream.next_out = buffer.data();
      stream.avail_out = uInt(buffer.size());
      deflate(&stream, flush);
      deflated.append(reinterpret_cast<const char*>(buffer.data()), buffer.size() - stream.avail_out);
    } while (stream.avail_out == 0);
  };
  // Adam7: each pass's first column and row, and its steps.
  const uint32_t passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                 {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  for (int pass = 0; pass < (interlaced ? 7 : 1); ++pass) {
    const uint32_t* step = interlaced ? passes[pass] : nullptr;
    const uint32_t passWidth = interlaced ? (width - step[0] + step[2] - 1) / step[2] : width;
    const uint32_t passHeight = interlaced ? (height - step[1] + step[3] - 1) / step[3] : height;
    std::vector<unsigned char> row(1 + size_t(passWidth) * 4, value);
    row[0] = 0;  // no filter
    for (uint32_t y = 0; y < passHeight && passWidth > 0; ++y) {
      add(row, Z_NO_FLUSH);
    }
  }
  add({}, Z_FINISH);
  deflateEnd(&stream);
  chunk("IDAT", deflated);
  chunk("IEND", "");
  return png;
}

// A valid OpenEXR file of a few hundred bytes: one pixel of data in a display window of side x
// side, with the given channels.
void writeOnePixelExr(const std::string& path, int side, const std::vector<const char*>& channels) {
  const Imath::Box2i pixel({side / 2, side / 2}, {side / 2, side / 2});
  Imf::Header header(Imath::Box2i({0, 0}, {side - 1, side - 1}), pixel);
  header.compression() = Imf::NO_COMPRESSION;
  float values[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  Imf::FrameBuffer frameBuffer;
  for (size_t channel = 0; channel < channels.size(); ++channel) {
    header.channels().insert(channels[channel], Imf::Channel(Imf::FLOAT));
    frameBuffer.insert(channels[channel], Imf::Slice::Make(Imf::FLOAT, values + channel, pixel));
  }
  Imf::OutputFile file(path.c_str(), header);
  file.setFrameBuffer(frameBuffer);
  file.writePixels(1);
}

// Small files that claim huge images, given to the program as an emitter or an input: each takes
// no more memory than a run with an ordinary emitter, or is refused before it takes any.
TEST_F(ImageFilesTest, SmallFilesClaimingHugeImagesCostTheRenderNoMemory) {
  const std::string windowed = scratch + "/windowed.exr";
  writeOnePixelExr(windowed, 16384, {"R", "G", "B", "A"});
  const std::string alphaOnly = scratch + "/alpha_only.exr";
  writeOnePixelExr(alphaOnly, 16384, {"A"});
  const std::string zeros = scratch + "/zeros.png";
  std::ofstream(zeros, std::ios::binary) << uniformPng(8192, 8192, 0, false);
  const std::string white = scratch + "/white.png";
  std::ofstream(white, std::ios::binary) << uniformPng(8192, 8192, 255, false);
  const std::string interlaced = scratch + "/interlaced.png";
  std::ofstream(interlaced, std::ios::binary) << uniformPng(8192, 8192, 0, true);
  for (const std::string& file : {windowed, alphaOnly, zeros, white, interlaced}) {
    EXPECT_LT(std::filesystem::file_size(file), 1500000u) << file;
  }
  const std::string ordinary = scratch + "/ordinary.png";
  writeImageFile(ordinary, makeHostWorld(64, 36, 8).world, 8);

  const std::vector<std::string> render{"render", "--quiet", "--size", "64x36", "--set", "Quality=Draft (64)",
                                        "--set", "Source=Layer Alpha", "-o", scratch + "/out.png"};
  auto run = [&](std::vector<std::string> options) {
    options.insert(options.begin(), render.begin(), render.end());
    return runProgram(options, scratch);
  };
  const ProgramRun clean = run({"--emitter", ordinary, "--emitter-fit", "fit"});
  ASSERT_EQ(clean.exitCode, 0) << clean.err;
  struct Case {
    std::vector<std::string> options;
    int exitCode;
    std::string message;
  };
  const std::vector<Case> cases{
      {{"--emitter", windowed}, 0, ""},
      {{"--emitter", windowed, "--emitter-fit", "fit"}, 0, ""},
      {{"--emitter", alphaOnly, "--emitter-fit", "fill"}, 0, ""},
      {{"--emitter", zeros}, 0, ""},
      {{"--emitter", zeros, "--emitter-fit", "fit"}, 0, ""},
      {{"--emitter", white, "--emitter-fit", "centre", "--emitter-scale", "0.01"}, 0, ""},
      {{"--emitter", interlaced, "--emitter-fit", "fit"}, 1, "save it without interlacing"},
      // An input of another size than the layer is refused from its header.
      {{"--input", windowed}, 2, "is 16384x16384 but --size is 64x36"},
      {{"--input", zeros}, 2, "is 8192x8192 but --size is 64x36"},
  };
  constexpr long allowedKilobytes = 100 * 1024;
  for (const Case& test : cases) {
    const ProgramRun result = run(test.options);
    SCOPED_TRACE(testing::PrintToString(test.options));
    EXPECT_EQ(result.exitCode, test.exitCode) << result.err;
    EXPECT_NE(result.err.find(test.message), std::string::npos) << result.err;
    EXPECT_LT(result.peakKilobytes, clean.peakKilobytes + allowedKilobytes)
        << "clean run: " << clean.peakKilobytes << " kB";
  }
}

TEST_F(ImageFilesTest, ImagesArriveThroughAFifo) {
  std::string source = scratch + "/source.png";
  HostWorld world = patternedWorld(8, true);
  writeImageFile(source, world.world, 8);
  std::string fifo = scratch + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    std::ifstream in(source, std::ios::binary);
    std::ofstream(fifo, std::ios::binary) << in.rdbuf();
  });
  RgbaImage image;
  EXPECT_NO_THROW(image = readImageFile(fifo));
  writer.join();
  EXPECT_TRUE(sameWorldPixels(world, hostWorldFromImage(image, 8), 8));
}

TEST_F(ImageFilesTest, EveryLegalOutputNameWorks) {
  struct Case {
    std::string stem;  // the name is stem + ".png"
    bool written;
  };
  const std::string twoByteLetter = "\xc3\xa9";  // e with an acute accent in UTF-8
  std::string manyLetters;
  for (int i = 0; i < 125; ++i) {
    manyLetters += twoByteLetter;
  }
  const Case cases[] = {{std::string(236, 'a'), true},
                        {manyLetters + "z", true},      // 255 bytes; the cut falls inside a letter
                        {std::string(252, 'c'), false}};  // 256 bytes: no file system takes it
  HostWorld world = makeHostWorld(2, 2, 8);
  for (const Case& test : cases) {
    std::string path = scratch + "/" + test.stem + ".png";
    if (test.written) {
      EXPECT_NO_THROW(writeImageFile(path, world.world, 8)) << path.size();
      EXPECT_TRUE(std::filesystem::exists(path)) << path.size();
    } else {
      EXPECT_THROW(writeImageFile(path, world.world, 8), RunError);
    }
  }
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(scratch)) {
    EXPECT_NE(entry.path().filename().string()[0], '.') << "temporary file left: " << entry.path();
    ++files;
  }
  EXPECT_EQ(files, 2u);
}

// A 2 x 1 OpenEXR file of float samples holding only the named channels.
using ExrChannels = std::vector<std::pair<const char*, std::array<float, 2>>>;
void writeExrChannels(const std::string& path, ExrChannels channels) {
  Imf::Header header(2, 1);
  Imf::FrameBuffer frameBuffer;
  for (auto& [name, values] : channels) {
    header.channels().insert(name, Imf::Channel(Imf::FLOAT));
    frameBuffer.insert(name, Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(values.data()), sizeof(float), 0));
  }
  Imf::OutputFile file(path.c_str(), header);
  file.setFrameBuffer(frameBuffer);
  file.writePixels(1);
}

// A 2 x 1 PNG file in one of libpng's simplified formats; a palette's entries are RGBA.
void writePngFormat(const std::string& path, png_uint_32 format, const void* samples,
                    const std::vector<uint8_t>& palette = {}) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = 2;
  image.height = 1;
  image.format = format;
  image.colormap_entries = png_uint_32(palette.size() / 4);
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, samples, 0, palette.empty() ? nullptr : palette.data()))
      << image.message;
}

// Every channel layout a file may have reads as the RGBA it stands for: grey fills all three
// colour channels, a missing alpha is opaque, a missing colour is black, a key colour's or
// a palette's transparency is alpha.
TEST_F(ImageFilesTest, EveryChannelLayoutReadsAsItsRgba) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> write;
    double full;                   // the file's full intensity
    std::array<double, 8> stored;  // the two pixels' RGBA as the file means them, in its values
  };
  const uint8_t grey[] = {64, 191};
  const uint8_t greyAlpha[] = {64, 255, 191, 128};
  const uint16_t deepGrey[] = {16384, 49151};
  const uint8_t colour[] = {10, 20, 250, 200, 100, 0};
  const uint8_t paletteIndices[] = {1, 0};
  const Case cases[] = {
      {"grey.exr", [](const std::string& path) { writeExrChannels(path, {{"Y", {0.25f, 0.75f}}}); }, 1,
       {0.25, 0.25, 0.25, 1, 0.75, 0.75, 0.75, 1}},
      {"grey_alpha.exr",
       [](const std::string& path) { writeExrChannels(path, {{"Y", {0.25f, 0.375f}}, {"A", {1, 0.5f}}}); }, 1,
       {0.25, 0.25, 0.25, 1, 0.375, 0.375, 0.375, 0.5}},
      {"colour_only.exr",
       [](const std::string& path) {
         writeExrChannels(path, {{"R", {0.125f, 0.5f}}, {"G", {0.25f, 0.625f}}, {"B", {0.875f, 0.0625f}}});
       },
       1, {0.125, 0.25, 0.875, 1, 0.5, 0.625, 0.0625, 1}},
      {"alpha_only.exr", [](const std::string& path) { writeExrChannels(path, {{"A", {0.5f, 1}}}); }, 1,
       {0, 0, 0, 0.5, 0, 0, 0, 1}},
      {"grey.png", [&](const std::string& path) { writePngFormat(path, PNG_FORMAT_GRAY, grey); }, 255,
       {64, 64, 64, 255, 191, 191, 191, 255}},
      {"grey_alpha.png", [&](const std::string& path) { writePngFormat(path, PNG_FORMAT_GA, greyAlpha); }, 255,
       {64, 64, 64, 255, 191, 191, 191, 128}},
      {"deep_grey.png", [&](const std::string& path) { writePngFormat(path, PNG_FORMAT_LINEAR_Y, deepGrey); },
       65535, {16384, 16384, 16384, 65535, 49151, 49151, 49151, 65535}},
      {"colour.png", [&](const std::string& path) { writePngFormat(path, PNG_FORMAT_RGB, colour); }, 255,
       {10, 20, 250, 255, 200, 100, 0, 255}},
      {"grey_key.png",
       [](const std::string& path) {
         // Grey whose value 64 is transparent: one row, filter byte 0, values 64 and 191.
         const Bytef row[] = {0, 64, 191};
         Bytef deflated[64];
         uLongf size = sizeof deflated;
         compress(deflated, &size, row, sizeof row);
         std::ofstream(path, std::ios::binary)
             << pngFile(2, 1, 8, 0, pngChunk("tRNS", std::string("\0\x40", 2)),
                        std::string(reinterpret_cast<const char*>(deflated), size));
       },
       255, {64, 64, 64, 0, 191, 191, 191, 255}},
      {"palette.png",
       [&](const std::string& path) {
         writePngFormat(path, PNG_FORMAT_RGBA_COLORMAP, paletteIndices, {10, 20, 250, 255, 200, 100, 0, 128});
       },
       255, {200, 100, 0, 128, 10, 20, 250, 255}},
  };
  for (const Case& c : cases) {
    const std::string path = scratch + "/" + c.name;
    c.write(path);
    const RgbaImage image = readImageFile(path);
    ASSERT_EQ(image.rgba.size(), 8u) << c.name;
    for (size_t i = 0; i < 8; ++i) {
      // Hosts take colour premultiplied, as OpenEXR holds it; PNG holds it straight.
      const bool png = std::string(c.name).ends_with(".png");
      const double alpha = png && i % 4 != 3 ? c.stored[i / 4 * 4 + 3] / c.full : 1;
      const double expected = c.stored[i] / c.full * alpha;
      EXPECT_NEAR(image.rgba[i], expected, 1e-6) << c.name << ", pixel " << i / 4 << ", channel " << i % 4;
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
  // An endless stream that is no image is refused after its first bytes.
  EXPECT_THROW(readImageFile("/dev/zero"), RunError);
}

}  // namespace
