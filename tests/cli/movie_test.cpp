// Movies written by the vortelline program, decoded with FFmpeg's libraries and compared with the
// PNG frames the same program writes.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "media/image_files.h"
#include "media/movie_file.h"
#include "session/program_errors.h"
#include "session/host_pixels.h"
#include "tests/support/program_runner.h"

namespace {

// Red, green, blue, alpha per pixel at the depth of the source (8 or 16 bits), colour straight.
struct DecodedFrame {
  int bitDepth = 8;
  std::vector<int> rgba;
};

struct DecodedMovie {
  std::vector<DecodedFrame> frames;
  std::vector<int64_t> times;  // in the stream's time base
  AVRational timeBase{0, 1};
  AVRational frameRate{0, 1};
  int64_t duration = 0;  // of the stream in its time base; none (AV_NOPTS_VALUE) in Matroska
  int64_t fileDuration = 0;  // in microseconds
  AVColorSpace colorspace = AVCOL_SPC_UNSPECIFIED;
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
};

int scaleSample(int value, int fromDepth, int toDepth) {
  const int64_t from = (1 << fromDepth) - 1;
  const int64_t to = (1 << toDepth) - 1;
  return static_cast<int>((value * to * 2 + from) / (from * 2));
}

// Colour exactly as stored for RGB formats; YUV through swscale with BT.709 video range, the
// inverse of the writer's. Alpha exactly as stored, at the wanted depth.
DecodedFrame samplesOf(const AVFrame& frame, int bitDepth) {
  const auto format = static_cast<AVPixelFormat>(frame.format);
  const AVPixFmtDescriptor& desc = *av_pix_fmt_desc_get(format);
  DecodedFrame decoded{bitDepth, std::vector<int>(static_cast<size_t>(frame.width) * frame.height * 4, 0)};
  std::vector<uint16_t> line(static_cast<size_t>(frame.width));
  auto readComponent = [&](int component, int channel) {
    for (int y = 0; y < frame.height; ++y) {
      av_read_image_line2(line.data(), const_cast<const uint8_t**>(frame.data), frame.linesize, &desc, 0, y,
                          component, frame.width, 0, 2);
      for (int x = 0; x < frame.width; ++x) {
        decoded.rgba[(static_cast<size_t>(y) * frame.width + x) * 4 + channel] =
            scaleSample(line[x], desc.comp[component].depth, bitDepth);
      }
    }
  };
  if (desc.flags & AV_PIX_FMT_FLAG_RGB) {
    for (int component = 0; component < 3; ++component) {
      readComponent(component, component);
    }
  } else if (desc.log2_chroma_w == 0 && desc.log2_chroma_h == 0) {
    // 4:4:4: the BT.709 video-range formulas in double precision, free of swscale's rounding.
    const int depth = desc.comp[0].depth;
    const double step = 1 << (depth - 8);
    const double kr = 0.2126, kb = 0.0722, kg = 1 - kr - kb;
    std::vector<uint16_t> yuv[3];
    for (int component = 0; component < 3; ++component) {
      yuv[component].resize(static_cast<size_t>(frame.width) * frame.height);
      for (int y = 0; y < frame.height; ++y) {
        av_read_image_line2(yuv[component].data() + static_cast<size_t>(y) * frame.width,
                            const_cast<const uint8_t**>(frame.data), frame.linesize, &desc, 0, y, component,
                            frame.width, 0, 2);
      }
    }
    const double full = (1 << bitDepth) - 1;
    for (size_t pixel = 0; pixel < yuv[0].size(); ++pixel) {
      const double luma = (yuv[0][pixel] - 16 * step) / (219 * step);
      const double cb = (yuv[1][pixel] - 128 * step) / (224 * step);
      const double cr = (yuv[2][pixel] - 128 * step) / (224 * step);
      const double red = luma + 2 * (1 - kr) * cr;
      const double blue = luma + 2 * (1 - kb) * cb;
      const double green = (luma - kr * red - kb * blue) / kg;
      const double rgb[3] = {red, green, blue};
      for (int channel = 0; channel < 3; ++channel) {
        decoded.rgba[pixel * 4 + channel] = static_cast<int>(std::lround(std::clamp(rgb[channel], 0.0, 1.0) * full));
      }
    }
  } else {
    const AVPixelFormat rgb = bitDepth == 8 ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_RGB48;
    SwsContext* conversion = sws_getContext(frame.width, frame.height, format, frame.width, frame.height, rgb,
                                            SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr,
                                            nullptr);
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(conversion, bt709, 0, bt709, 1, 0, 1 << 16, 1 << 16);
    std::vector<uint16_t> pixels(static_cast<size_t>(frame.width) * frame.height * 3);
    uint8_t* target = reinterpret_cast<uint8_t*>(pixels.data());
    int stride = frame.width * 3 * (bitDepth / 8);
    sws_scale(conversion, frame.data, frame.linesize, 0, frame.height, &target, &stride);
    sws_freeContext(conversion);
    for (size_t pixel = 0; pixel < pixels.size() / 3; ++pixel) {
      for (int channel = 0; channel < 3; ++channel) {
        decoded.rgba[pixel * 4 + channel] =
            bitDepth == 8 ? target[pixel * 3 + channel] : pixels[pixel * 3 + channel];
      }
    }
  }
  if (desc.flags & AV_PIX_FMT_FLAG_ALPHA) {
    readComponent(3, 3);
  } else {
    for (size_t pixel = 0; pixel < decoded.rgba.size(); pixel += 4) {
      decoded.rgba[pixel + 3] = (1 << bitDepth) - 1;
    }
  }
  return decoded;
}

// Every frame of a movie's (or a PNG's) only video stream; decoder: FFmpeg's own when empty.
DecodedMovie decodeMovie(const std::string& path, int bitDepth, const char* decoderName = nullptr) {
  av_log_set_level(AV_LOG_ERROR);
  DecodedMovie movie;
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0 ||
      avformat_find_stream_info(format, nullptr) < 0) {
    ADD_FAILURE() << "cannot open " << path;
    return movie;
  }
  const AVStream& stream = *format->streams[0];
  const AVCodec* decoder =
      decoderName ? avcodec_find_decoder_by_name(decoderName) : avcodec_find_decoder(stream.codecpar->codec_id);
  AVCodecContext* codec = avcodec_alloc_context3(decoder);
  avcodec_parameters_to_context(codec, stream.codecpar);
  avcodec_open2(codec, decoder, nullptr);
  movie.timeBase = stream.time_base;
  movie.frameRate = stream.avg_frame_rate;
  movie.duration = stream.duration;
  movie.fileDuration = format->duration;
  movie.colorspace = stream.codecpar->color_space;
  movie.primaries = stream.codecpar->color_primaries;
  movie.range = stream.codecpar->color_range;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto receive = [&] {
    while (avcodec_receive_frame(codec, frame) == 0) {
      movie.frames.push_back(samplesOf(*frame, bitDepth));
      movie.times.push_back(frame->best_effort_timestamp);
    }
  };
  while (av_read_frame(format, packet) == 0) {
    avcodec_send_packet(codec, packet);
    av_packet_unref(packet);
    receive();
  }
  avcodec_send_packet(codec, nullptr);
  receive();
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&codec);
  avformat_close_input(&format);
  return movie;
}

struct Difference {
  int colour = 0;  // largest, in code values
  double meanColour = 0;
  int alpha = 0;
  double meanAlpha = 0;
};

// How a movie's colour is compared with the PNG's straight colour.
enum class Comparison {
  straight,       // where alpha is above 0: straight colour under alpha 0 means nothing
  premultiplied,  // both times their alpha: what a compositor shows
  overBlack,      // the movie keeps no alpha: its colour against the PNG over black
};

Difference differenceOf(const DecodedFrame& movie, const DecodedFrame& png, Comparison comparison) {
  Difference difference;
  const int full = (1 << png.bitDepth) - 1;
  auto times = [&](int64_t value, int64_t alpha) { return static_cast<int>((value * alpha + full / 2) / full); };
  long colours = 0;
  double colourSum = 0;
  double alphaSum = 0;
  for (size_t pixel = 0; pixel < png.rgba.size(); pixel += 4) {
    const int alpha = png.rgba[pixel + 3];
    const int movieAlpha = movie.rgba[pixel + 3];
    for (int channel = 0; channel < 3; ++channel) {
      int expected = png.rgba[pixel + channel];
      int got = movie.rgba[pixel + channel];
      if (comparison == Comparison::straight && alpha == 0) {
        continue;
      }
      if (comparison != Comparison::straight) {
        expected = times(expected, alpha);
      }
      if (comparison == Comparison::premultiplied) {
        got = times(got, movieAlpha);
      }
      difference.colour = std::max(difference.colour, std::abs(got - expected));
      colourSum += std::abs(got - expected);
      ++colours;
    }
    if (comparison != Comparison::overBlack) {
      difference.alpha = std::max(difference.alpha, std::abs(movieAlpha - alpha));
      alphaSum += std::abs(movieAlpha - alpha);
    }
  }
  difference.meanColour = colours ? colourSum / colours : 0;
  difference.meanAlpha = alphaSum / (png.rgba.size() / 4);
  return difference;
}

class MovieTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch = makeScratchFolder();
    // An emitter whose alpha falls off from the middle: Layer Alpha flames of every alpha.
    HostWorld emitter = makeHostWorld(64, 36, 8);
    for (int y = 0; y < 36; ++y) {
      for (int x = 0; x < 64; ++x) {
        const int alpha = std::max(0, 255 - 8 * (std::abs(x - 32) + std::abs(y - 24)));
        std::byte* pixel = pixelAddress(emitter.world, x, y, 8);
        pixel[0] = pixel[1] = pixel[2] = pixel[3] = static_cast<std::byte>(alpha);
      }
    }
    emitterPath = scratch + "/emitter.png";
    writeImageFile(emitterPath, emitter.world, 8);
  }
  void TearDown() override { std::filesystem::remove_all(scratch); }

  ProgramRun render(const std::string& output, const std::vector<std::string>& extra) {
    std::vector<std::string> arguments{"render", "--size", "64x36", "--set", "Quality=Draft (64)", "--quiet",
                                       "-o", output};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return runProgram(arguments, scratch);
  }

  std::string scratch;
  std::string emitterPath;
};

std::vector<std::string> withEmitter(std::vector<std::string> options, const std::string& emitter) {
  for (std::string& option : options) {
    if (option == "EMITTER") {
      option = emitter;
    }
  }
  return options;
}

TEST_F(MovieTest, FramesMatchTheProgramsPngFrames) {
  struct Case {
    std::string file;
    std::vector<std::string> options;  // for the movie and the PNG frames
    std::vector<std::string> movieOptions;
    int bitDepth;
    const char* decoder;  // FFmpeg's own for the codec when null
    Comparison comparison;
    Difference tolerance;  // in code values at bitDepth
  };
  const std::vector<std::string> layerAlpha{"--set", "Source=Layer Alpha", "--emitter", "EMITTER"};
  const Difference exact{0, 0, 0, 0};
  const std::vector<Case> cases{
      // Lossless: every sample as in the PNG.
      {"volume.mkv", {}, {}, 8, nullptr, Comparison::straight, exact},
      {"layer.mkv", layerAlpha, {}, 8, nullptr, Comparison::straight, exact},
      {"deep.mkv", {"--depth", "16"}, {}, 16, nullptr, Comparison::straight, exact},
      {"layer_png.mov", layerAlpha, {"--codec", "png"}, 8, nullptr, Comparison::straight, exact},
      {"deep_png.mov", {"--depth", "16"}, {"--codec", "png"}, 16, nullptr, Comparison::straight, exact},
      // ProRes 4444: colour within 2 code values as a compositor shows it, alpha exact. (Straight
      // colour under faint alpha can be 3 off at a sharp edge even at the finest quantiser.)
      {"volume.mov", {}, {}, 8, nullptr, Comparison::premultiplied, {2, 0.2, 0, 0}},
      {"layer.mov", layerAlpha, {}, 8, nullptr, Comparison::premultiplied, {2, 0.2, 0, 0}},
      // A 16-bit render goes in at 10 bits, the deepest the encoder takes.
      {"deep_layer.mov", {"--set", "Source=Layer Alpha", "--emitter", "EMITTER", "--depth", "16"}, {}, 10, nullptr,
       Comparison::premultiplied, {2 * 4, 0.2 * 4, 0, 0}},
      // VP9 and H.264 are lossy, with colour at half resolution (4:2:0): the flames' sharp edges
      // cost a lot at a few pixels, so the mean is bounded closely and the largest loosely.
      {"layer.webm", layerAlpha, {}, 8, "libvpx-vp9", Comparison::premultiplied, {128, 4, 64, 2}},
      // VP8 keeps alpha too, once the encoder is told to make no alternate reference frames.
      {"layer_vp8.webm", layerAlpha, {"--codec", "libvpx"}, 8, "libvpx", Comparison::premultiplied, {128, 4, 64, 2}},
      {"layer.mp4", layerAlpha, {}, 8, nullptr, Comparison::overBlack, {128, 4, 0, 0}},
  };
  for (const Case& test : cases) {
    const std::string movie = scratch + "/" + test.file;
    std::vector<std::string> options = withEmitter(test.options, emitterPath);
    options.insert(options.end(), {"--frames", "3-5"});
    std::vector<std::string> movieOptions = options;
    movieOptions.insert(movieOptions.end(), test.movieOptions.begin(), test.movieOptions.end());
    ProgramRun movieRun = render(movie, movieOptions);
    ASSERT_EQ(movieRun.exitCode, 0) << test.file << ": " << movieRun.err;
    EXPECT_EQ(movieRun.err.find("keeps no alpha") != std::string::npos, test.comparison == Comparison::overBlack)
        << test.file << ": " << movieRun.err;
    const std::string pngs = scratch + "/" + test.file + "_#.png";
    ProgramRun pngRun = render(pngs, options);
    ASSERT_EQ(pngRun.exitCode, 0) << pngRun.err;

    DecodedMovie decoded = decodeMovie(movie, test.bitDepth, test.decoder);
    ASSERT_EQ(decoded.frames.size(), 3u) << test.file;
    for (int frame = 0; frame < 3; ++frame) {
      DecodedMovie png =
          decodeMovie(scratch + "/" + test.file + "_" + std::to_string(frame + 3) + ".png", test.bitDepth);
      ASSERT_EQ(png.frames.size(), 1u);
      Difference difference = differenceOf(decoded.frames[frame], png.frames[0], test.comparison);
      EXPECT_LE(difference.colour, test.tolerance.colour) << test.file << " frame " << frame;
      EXPECT_LE(difference.meanColour, test.tolerance.meanColour) << test.file << " frame " << frame;
      EXPECT_LE(difference.alpha, test.tolerance.alpha) << test.file << " frame " << frame;
      EXPECT_LE(difference.meanAlpha, test.tolerance.meanAlpha) << test.file << " frame " << frame;
    }
    EXPECT_EQ(decoded.primaries, AVCOL_PRI_BT709) << test.file;
  }
}

// Every encoder offered for every container either keeps alpha, as decoding shows, or writes the
// frame over black and says so: never straight colour without its alpha, which turns the dim
// parts of the flames into full-strength colour. The frames are a ramp of alpha under one
// straight colour, so that straight colour over black would be far from the ramp.
TEST(MovieEncoders, EveryOfferedPairKeepsAlphaOrIsWrittenOverBlack) {
  av_log_set_level(AV_LOG_QUIET);
  const std::string scratch = makeScratchFolder();
  // CIF: a size that every offered encoder takes (H.263 takes few, DNxHR 256x120 and more).
  constexpr int width = 352;
  constexpr int height = 288;
  HostWorld world = makeHostWorld(width, height, 8);
  DecodedFrame expected{8, std::vector<int>(static_cast<size_t>(width) * height * 4)};
  const int straight[3] = {255, 160, 40};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int alpha = x * 255 / (width - 1);
      std::byte* pixel = pixelAddress(world.world, x, y, 8);
      pixel[0] = static_cast<std::byte>(alpha);
      int* samples = &expected.rgba[(static_cast<size_t>(y) * width + x) * 4];
      for (int channel = 0; channel < 3; ++channel) {
        // Straight colour as the writer computes it back from the premultiplied host pixel.
        const int premultiplied = (straight[channel] * alpha + 127) / 255;
        pixel[channel + 1] = static_cast<std::byte>(premultiplied);
        samples[channel] = alpha == 0 ? 0 : std::min(255, (premultiplied * 255 + alpha / 2) / alpha);
      }
      samples[3] = alpha;
    }
  }
  int pairs = 0;
  for (MovieContainer container : {MovieContainer::mov, MovieContainer::mkv, MovieContainer::webm, MovieContainer::mp4}) {
    const char* extension = container == MovieContainer::mov    ? ".mov"
                            : container == MovieContainer::mkv  ? ".mkv"
                            : container == MovieContainer::webm ? ".webm"
                                                                : ".mp4";
    for (const std::string& codec : movieCodecsFor(container)) {
      const std::string path = scratch + "/" + codec + extension;
      bool keepsAlpha = false;
      const auto write = [&] {
        MovieFile movie(path, container, MovieCodecChoice{codec, std::nullopt},
                        MovieFrames{width, height, 8, PF_RationalScale{24, 1}});
        keepsAlpha = movie.keepsAlpha();
        for (int frame = 0; frame < 2; ++frame) {
          movie.addFrame(world.world);
        }
        movie.finish();
      };
      try {
        try {
          write();
        } catch (const RunError&) {
          // Once, on a machine loaded far beyond its cores, libx265 into .mp4 failed a write ("Not
          // yet implemented in FFmpeg") and passed every run after: a pair fails when it fails twice.
          write();
        }
      } catch (const RunError& error) {
        // Encoders that FFmpeg lists but this machine lacks (OpenMAX) fail before the first frame.
        EXPECT_NE(std::string(error.what()).find("cannot be used on this machine"), std::string::npos)
            << codec << extension << ": " << error.what();
        continue;
      }
      ++pairs;
      const bool ownDecoder = avcodec_find_decoder_by_name(codec.c_str()) != nullptr;
      DecodedMovie decoded = decodeMovie(path, 8, ownDecoder ? codec.c_str() : nullptr);
      ASSERT_FALSE(decoded.frames.empty()) << codec << extension;
      const Difference difference = differenceOf(decoded.frames.back(), expected,
                                                 keepsAlpha ? Comparison::premultiplied : Comparison::overBlack);
      // Straight colour without alpha is 76 code values off on average. The lossy encoders at
      // their defaults stay within a few, except AV1 in RGB (libaom's CRF 32: about 31).
      EXPECT_LE(difference.meanColour, 38.0) << codec << extension << (keepsAlpha ? " with alpha" : " over black");
      EXPECT_LE(difference.meanAlpha, 3.0) << codec << extension;
    }
  }
  EXPECT_GE(pairs, 4);
  std::filesystem::remove_all(scratch);
}

// Frame n at n/fps from 0, the rate exact, the stream n/fps long. QuickTime files keep every time
// exactly; Matroska counts in milliseconds, so its times are within half a millisecond and its
// duration within one.
TEST_F(MovieTest, FrameTimesRateAndDurationAreExact) {
  constexpr int frames = 5;
  for (const char* file : {"t.mov", "t.mp4", "t.mkv", "t.webm"}) {
    for (AVRational fps : {AVRational{24, 1}, AVRational{30000, 1001}}) {
      const std::string rate = std::to_string(fps.num) + "/" + std::to_string(fps.den);
      const std::string movie = scratch + "/" + file;
      ProgramRun run = render(movie, {"--frames", "10-14", "--fps", rate});
      ASSERT_EQ(run.exitCode, 0) << run.err;
      DecodedMovie decoded = decodeMovie(movie, 8);
      ASSERT_EQ(decoded.frames.size(), static_cast<size_t>(frames)) << file << " " << rate;
      EXPECT_EQ(av_cmp_q(decoded.frameRate, fps), 0) << file << " " << rate;
      const bool matroska = decoded.duration == AV_NOPTS_VALUE;
      const AVRational base = decoded.timeBase;
      for (int frame = 0; frame < frames; ++frame) {
        // The time's distance from frame/fps, in units of 1 / (base.den * fps.num) seconds.
        const int64_t off = decoded.times[frame] * base.num * fps.num - int64_t{frame} * fps.den * base.den;
        EXPECT_LE(2 * std::abs(off), matroska ? int64_t{base.num} * fps.num : 0) << file << " " << rate << " " << frame;
      }
      const double seconds = double(frames) * fps.den / fps.num;
      if (matroska) {
        EXPECT_NEAR(decoded.fileDuration / 1e6, seconds, 0.001) << file << " " << rate;
      } else {
        EXPECT_EQ(decoded.duration * base.num * fps.num, int64_t{frames} * fps.den * base.den) << file << " " << rate;
        EXPECT_EQ(decoded.fileDuration, std::llround(seconds * 1e6)) << file << " " << rate;
      }
    }
  }
}

// A movie that cannot be finished leaves nothing, neither under its name nor a temporary file.
TEST_F(MovieTest, AStoppedFailedOrFullDiskRunLeavesNoFile) {
  struct Case {
    std::string name;
    std::vector<std::string> options;
    int signal;  // sent while frame 2 renders
    int exitCode;
    std::string message;
    bool fullDisk;
  };
  // Frames 0 and 1 have no layer to take flames from, so they are done at once; frame 2 keeps the
  // reference kernel busy for seconds.
  const std::vector<std::string> slowFromFrame2{"--size", "400x400", "--set", "Quality=Original (256)", "--set",
                                                "Source=Layer Alpha@0,Original Volume@2"};
  const std::vector<Case> cases{
      {"failed.mov", {"--set", "Density=1@0,nan@3"}, 0, 1, "Vortelline: Non-finite parameter: Density", false},
      {"interrupted.mkv", slowFromFrame2, SIGINT, 130, "vortelline: cancelled", false},
      {"terminated.mov", slowFromFrame2, SIGTERM, 143, "vortelline: cancelled", false},
      {"full.mkv", {"--size", "160x90"}, 0, 1, "No space left on device", true},
  };
  for (const Case& test : cases) {
    const std::string folder = scratch + "/" + test.name + ".d";
    std::filesystem::create_directory(folder);
    if (test.fullDisk && mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0) {
      std::cout << "not run: " << test.name << ": mounting a small tmpfs needs root (" << std::strerror(errno) << ")\n";
      continue;
    }
    std::vector<std::string> options = test.options;
    options.insert(options.end(), {"--frames", "0-19"});
    std::vector<std::string> arguments{"render", "--size", "64x36", "--set", "Quality=Draft (64)", "--quiet",
                                       "-o", folder + "/" + test.name};
    arguments.insert(arguments.end(), options.begin(), options.end());
    if (test.signal != 0) {
      setenv("VORTELLINE_CPU_KERNEL", "reference", 1);
    }
    RunningProgram running = startProgram(arguments, scratch);
    unsetenv("VORTELLINE_CPU_KERNEL");
    if (test.signal != 0) {
      waitUntilProgramCatchesInterrupt(running.pid);
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      kill(running.pid, test.signal);
    }
    ProgramRun result = finishProgram(running);
    EXPECT_EQ(result.exitCode, test.exitCode) << test.name << ": " << result.err;
    EXPECT_NE(result.err.find(test.message), std::string::npos) << test.name << ": " << result.err;
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << test.name;
    if (test.fullDisk) {
      umount2(folder.c_str(), MNT_DETACH);
    }
  }
}

}  // namespace
