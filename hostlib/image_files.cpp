#include "hostlib/image_files.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>
#include <ImfStdIO.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <vector>

#include "hostlib/cancellation.h"
#include "hostlib/program_errors.h"

namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<FILE, FileCloser>;

std::string lowercaseExtension(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

// ---- PNG ----

struct PngFailure {
  char message[256] = {};
};

void onPngError(png_structp png, png_const_charp message) {
  auto* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
  std::snprintf(failure->message, sizeof failure->message, "%s", message);
  png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// Decoded PNG rows: RGBA, 8 or 16 bits per channel, 16-bit samples big-endian as in the file.
struct PngPixels {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 8;
  std::vector<png_byte> bytes;
  std::vector<png_bytep> rows;
};

// Frees libpng's read state however decoding ends: returning, libpng's longjmp back to
// decodePng, or an exception from our own allocations.
struct PngReadState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReadState() { png_destroy_read_struct(&png, &info, nullptr); }
};

// libpng leaves by longjmp to the setjmp below. The jump skips no destructor: everything this
// function owns is in `state`, made before the setjmp.
bool decodePng(FILE* file, PngPixels& pixels, PngFailure& failure) {
  PngReadState state;
  state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure, onPngError, onPngWarning);
  if (!state.png) {
    std::snprintf(failure.message, sizeof failure.message, "out of memory");
    return false;
  }
  png_structp png = state.png;
  state.info = png_create_info_struct(png);
  png_infop info = state.info;
  if (!info || setjmp(png_jmpbuf(png))) {
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  if (png_get_image_width(png, info) > largestLayerSide || png_get_image_height(png, info) > largestLayerSide) {
    std::snprintf(failure.message, sizeof failure.message, "it is %ux%u pixels; the effect takes up to %d per side",
                  static_cast<unsigned>(png_get_image_width(png, info)),
                  static_cast<unsigned>(png_get_image_height(png, info)), largestLayerSide);
    return false;
  }
  png_set_expand(png);
  png_set_gray_to_rgb(png);
  int depth = png_get_bit_depth(png, info) == 16 ? 16 : 8;
  png_set_add_alpha(png, depth == 16 ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  pixels.width = png_get_image_width(png, info);
  pixels.height = png_get_image_height(png, info);
  pixels.bitDepth = depth;
  size_t rowBytes = png_get_rowbytes(png, info);
  pixels.bytes.resize(rowBytes * pixels.height);
  pixels.rows.resize(pixels.height);
  for (png_uint_32 y = 0; y < pixels.height; ++y) {
    pixels.rows[y] = pixels.bytes.data() + rowBytes * y;
  }
  png_read_image(png, pixels.rows.data());
  png_read_end(png, nullptr);
  return true;
}

RgbaImage readPng(FILE* file, const std::string& path) {
  PngPixels pixels;
  PngFailure failure;
  if (!decodePng(file, pixels, failure)) {
    throw RunError("cannot read the PNG image " + path + ": " + failure.message);
  }
  RgbaImage image;
  image.width = static_cast<int>(pixels.width);
  image.height = static_cast<int>(pixels.height);
  image.rgba.resize(static_cast<size_t>(image.width) * image.height * 4);
  size_t samples = image.rgba.size();
  for (size_t i = 0; i < samples; ++i) {
    if (pixels.bitDepth == 16) {
      unsigned value = (unsigned{pixels.bytes[2 * i]} << 8) | pixels.bytes[2 * i + 1];
      image.rgba[i] = static_cast<float>(value) / 65535.0f;
    } else {
      image.rgba[i] = static_cast<float>(pixels.bytes[i]) / 255.0f;
    }
  }
  // PNG colour is straight; host layers carry colour premultiplied by alpha.
  for (size_t i = 0; i < samples; i += 4) {
    for (size_t channel = 0; channel < 3; ++channel) {
      image.rgba[i + channel] *= image.rgba[i + 3];
    }
  }
  return image;
}

bool encodePng(FILE* file, const PngPixels& pixels, PngFailure& failure) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, onPngError, onPngWarning);
  if (!png) {
    std::snprintf(failure.message, sizeof failure.message, "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, pixels.width, pixels.height, pixels.bitDepth, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, const_cast<png_bytepp>(pixels.rows.data()));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

void writePng(const std::string& path, const std::string& displayPath, const PF_EffectWorld& world, int bitDepth) {
  PngPixels pixels;
  pixels.width = static_cast<png_uint_32>(world.width);
  pixels.height = static_cast<png_uint_32>(world.height);
  pixels.bitDepth = bitDepth == 16 ? 16 : 8;
  size_t rowBytes = static_cast<size_t>(world.width) * 4 * (pixels.bitDepth / 8);
  pixels.bytes.resize(rowBytes * pixels.height);
  for (int y = 0; y < world.height; ++y) {
    png_byte* row = pixels.bytes.data() + rowBytes * y;
    pixels.rows.push_back(row);
    for (int x = 0; x < world.width; ++x) {
      const std::byte* pixel = pixelAddress(world, x, y, bitDepth);
      const uint32_t full = pixels.bitDepth == 16 ? 32768 : 255;
      uint32_t argb[4];
      for (int channel = 0; channel < 4; ++channel) {
        if (pixels.bitDepth == 16) {
          uint16_t value;
          std::memcpy(&value, pixel + channel * 2, 2);
          argb[channel] = std::min<uint32_t>(value, full);
        } else {
          argb[channel] = static_cast<uint8_t>(pixel[channel]);
        }
      }
      // The host's colour is premultiplied by alpha; PNG stores it straight. Round to nearest.
      const uint32_t alpha = argb[0];
      for (int channel = 1; channel < 4; ++channel) {
        argb[channel] = alpha == 0 ? 0 : std::min(full, (argb[channel] * full + alpha / 2) / alpha);
      }
      for (int channel = 0; channel < 4; ++channel) {
        uint32_t value = argb[(channel + 1) % 4];  // RGBA from the host's ARGB
        if (pixels.bitDepth == 16) {
          // Full intensity is 32768 in the host and 65535 in the file; round to nearest.
          uint32_t scaled = (value * 65535u + 16384u) / 32768u;
          row[(x * 4 + channel) * 2] = static_cast<png_byte>(scaled >> 8);
          row[(x * 4 + channel) * 2 + 1] = static_cast<png_byte>(scaled & 0xFF);
        } else {
          row[x * 4 + channel] = static_cast<png_byte>(value);
        }
      }
    }
  }
  FilePointer file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    throw RunError("cannot write " + displayPath + ": " + std::strerror(errno));
  }
  PngFailure failure;
  if (!encodePng(file.get(), pixels, failure)) {
    throw RunError("cannot write " + displayPath + ": " + failure.message);
  }
  if (std::fflush(file.get()) != 0 || std::ferror(file.get())) {
    throw RunError("cannot write " + displayPath + ": " + std::strerror(errno));
  }
}

// ---- OpenEXR ----

RgbaImage readExr(const std::string& path) {
  try {
    Imf::InputFile file(path.c_str());
    const Imath::Box2i display = file.header().displayWindow();
    const Imath::Box2i data = file.header().dataWindow();
    const Imf::ChannelList& channels = file.header().channels();
    bool grey = !channels.findChannel("R") && channels.findChannel("Y");

    // Both windows decide what is allocated below; the file's header alone must not.
    for (const Imath::Box2i& window : {display, data}) {
      int64_t width = int64_t{window.max.x} - window.min.x + 1;
      int64_t height = int64_t{window.max.y} - window.min.y + 1;
      if (width > largestLayerSide || height > largestLayerSide) {
        throw RunError("cannot read the OpenEXR image " + path + ": it is " + std::to_string(width) + "x" +
                       std::to_string(height) + " pixels; the effect takes up to " +
                       std::to_string(largestLayerSide) + " per side");
      }
    }
    int dataWidth = data.max.x - data.min.x + 1;
    int dataHeight = data.max.y - data.min.y + 1;
    std::vector<float> samples(static_cast<size_t>(dataWidth) * dataHeight * 4);
    const size_t xStride = 4 * sizeof(float);
    const size_t yStride = xStride * dataWidth;
    // A grey image's Y goes to red and is copied to green and blue below: one channel can
    // fill only one slice.
    Imf::FrameBuffer frameBuffer;
    const char* names[4] = {grey ? "Y" : "R", "G", "B", "A"};
    for (int channel = 0; channel < 4; ++channel) {
      if (grey && (channel == 1 || channel == 2)) {
        continue;
      }
      double fill = channel == 3 ? 1.0 : 0.0;
      frameBuffer.insert(names[channel], Imf::Slice::Make(Imf::FLOAT, samples.data() + channel, data, xStride,
                                                          yStride, 1, 1, fill));
    }
    file.setFrameBuffer(frameBuffer);
    file.readPixels(data.min.y, data.max.y);
    if (grey) {
      for (size_t i = 0; i < samples.size(); i += 4) {
        samples[i + 1] = samples[i];
        samples[i + 2] = samples[i];
      }
    }

    RgbaImage image;
    image.width = display.max.x - display.min.x + 1;
    image.height = display.max.y - display.min.y + 1;
    if (image.width <= 0 || image.height <= 0) {
      throw RunError("the OpenEXR image " + path + " has an empty display window");
    }
    image.rgba.assign(static_cast<size_t>(image.width) * image.height * 4, 0.0f);
    for (int y = std::max(data.min.y, display.min.y); y <= std::min(data.max.y, display.max.y); ++y) {
      for (int x = std::max(data.min.x, display.min.x); x <= std::min(data.max.x, display.max.x); ++x) {
        const float* source = &samples[(static_cast<size_t>(y - data.min.y) * dataWidth + (x - data.min.x)) * 4];
        float* target =
            &image.rgba[(static_cast<size_t>(y - display.min.y) * image.width + (x - display.min.x)) * 4];
        std::copy(source, source + 4, target);
      }
    }
    return image;
  } catch (const RunError&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& failure) {
    throw RunError("cannot read the OpenEXR image " + path + ": " + failure.what());
  }
}

void writeExr(const std::string& path, const std::string& displayPath, const PF_EffectWorld& world, int bitDepth) {
  // Float copy of the world for 8 and 16 bits; a 32-bit world is written from its own memory.
  std::vector<float> converted;
  const std::byte* base = reinterpret_cast<const std::byte*>(world.data);
  size_t yStride = static_cast<size_t>(world.rowbytes);
  if (bitDepth != 32) {
    converted.resize(static_cast<size_t>(world.width) * world.height * 4);
    float fullIntensity = bitDepth == 16 ? 32768.0f : 255.0f;
    for (int y = 0; y < world.height; ++y) {
      for (int x = 0; x < world.width; ++x) {
        const std::byte* pixel = pixelAddress(world, x, y, bitDepth);
        for (int channel = 0; channel < 4; ++channel) {
          float value;
          if (bitDepth == 16) {
            uint16_t sample;
            std::memcpy(&sample, pixel + channel * 2, 2);
            value = static_cast<float>(sample);
          } else {
            value = static_cast<float>(static_cast<uint8_t>(pixel[channel]));
          }
          converted[(static_cast<size_t>(y) * world.width + x) * 4 + channel] = value / fullIntensity;
        }
      }
    }
    base = reinterpret_cast<const std::byte*>(converted.data());
    yStride = static_cast<size_t>(world.width) * 4 * sizeof(float);
  }
  try {
    Imf::Header header(world.width, world.height);
    header.compression() = Imf::ZIP_COMPRESSION;
    const char* names[4] = {"A", "R", "G", "B"};  // the host's channel order
    Imf::FrameBuffer frameBuffer;
    for (int channel = 0; channel < 4; ++channel) {
      header.channels().insert(names[channel], Imf::Channel(Imf::FLOAT));
      char* channelBase = const_cast<char*>(reinterpret_cast<const char*>(base)) + channel * sizeof(float);
      frameBuffer.insert(names[channel], Imf::Slice(Imf::FLOAT, channelBase, 4 * sizeof(float), yStride));
    }
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    if (!stream) {
      throw RunError("cannot write " + displayPath + ": " + std::strerror(errno));
    }
    Imf::StdOFStream exrStream(stream, path.c_str());
    {
      Imf::OutputFile file(exrStream, header);
      file.setFrameBuffer(frameBuffer);
      file.writePixels(world.height);
      // The destructor writes the table of line offsets and swallows its own write errors;
      // the stream keeps them for the check below.
    }
    stream.close();
    if (!stream) {
      throw RunError("cannot write " + displayPath + ": the data did not reach the file");
    }
  } catch (const RunError&) {
    throw;
  } catch (const std::exception& failure) {
    throw RunError("cannot write " + displayPath + ": " + failure.what());
  }
}

// Data first on disk, then the rename: otherwise a crash can leave the final name on an empty file.
void syncToDisk(const std::string& path, const std::string& displayPath) {
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0 || fsync(descriptor) != 0) {
    int error = errno;
    if (descriptor >= 0) {
      close(descriptor);
    }
    throw RunError("cannot write " + displayPath + ": " + std::strerror(error));
  }
  close(descriptor);
}

// A name in the target's own folder, so that the final rename stays on one file system.
std::string makeTemporaryFile(const std::string& path) {
  std::filesystem::path target(path);
  std::filesystem::path folder = target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
  std::string pattern = (folder / ("." + target.filename().string() + ".partial-XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int descriptor = mkstemp(name.data());
  if (descriptor < 0) {
    throw RunError("cannot write " + path + ": " + std::strerror(errno));
  }
  // mkstemp makes the file private; give it the permissions any new file would get.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(descriptor, 0666 & ~mask);
  close(descriptor);
  return std::string(name.data());
}

}  // namespace

ImageFormat imageFormatForPath(const std::string& path) {
  std::string extension = lowercaseExtension(path);
  if (extension == ".png") {
    return ImageFormat::png;
  }
  if (extension == ".exr") {
    return ImageFormat::exr;
  }
  throw UsageError("cannot tell the image format of " + path + ": name it .png or .exr");
}

RgbaImage readImageFile(const std::string& path) {
  FilePointer file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    throw RunError("cannot open the image " + path + ": " + std::strerror(errno));
  }
  unsigned char magic[8] = {};
  size_t length = std::fread(magic, 1, sizeof magic, file.get());
  static const unsigned char pngMagic[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  static const unsigned char exrMagic[4] = {0x76, 0x2F, 0x31, 0x01};
  try {
    if (length == 8 && std::memcmp(magic, pngMagic, 8) == 0) {
      std::rewind(file.get());
      return readPng(file.get(), path);
    }
    if (length >= 4 && std::memcmp(magic, exrMagic, 4) == 0) {
      file.reset();
      return readExr(path);
    }
  } catch (const std::bad_alloc&) {
    throw RunError("cannot read the image " + path + ": out of memory");
  }
  throw RunError("cannot read the image " + path + ": it is neither a PNG nor an OpenEXR file");
}

void writeImageFile(const std::string& path, const PF_EffectWorld& world, int bitDepth) {
  ImageFormat format = imageFormatForPath(path);
  std::string temporary = makeTemporaryFile(path);
  setTemporaryFileInProgress(temporary.c_str());
  try {
    if (format == ImageFormat::png) {
      writePng(temporary, path, world, bitDepth);
    } else {
      writeExr(temporary, path, world, bitDepth);
    }
    syncToDisk(temporary, path);
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
      throw RunError("cannot write " + path + ": " + std::strerror(errno));
    }
  } catch (...) {
    std::remove(temporary.c_str());
    setTemporaryFileInProgress(nullptr);
    throw;
  }
  setTemporaryFileInProgress(nullptr);
}
