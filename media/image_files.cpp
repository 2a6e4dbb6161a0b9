#include "media/image_files.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <IexBaseExc.h>
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <strings.h>
#include <sys/stat.h>
#include <vector>

#include "media/input_files.h"
#include "session/cancellation.h"
#include "session/program_errors.h"

namespace {

// The reader a file's first bytes call for; none when they are neither a PNG's nor an OpenEXR's.
std::optional<ImageFormat> formatOfContent(const unsigned char* bytes, size_t length) {
  static const unsigned char pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  static const unsigned char exrSignature[4] = {0x76, 0x2F, 0x31, 0x01};
  if (length >= sizeof pngSignature && std::memcmp(bytes, pngSignature, sizeof pngSignature) == 0) {
    return ImageFormat::png;
  }
  if (length >= sizeof exrSignature && std::memcmp(bytes, exrSignature, sizeof exrSignature) == 0) {
    return ImageFormat::exr;
  }
  return std::nullopt;
}

RunError notAnImage(const std::string& path) {
  return RunError("cannot read the image " + path + ": it is neither a PNG nor an OpenEXR file");
}

// Anything that does not start as an image is refused after its first bytes, so an endless
// stream such as /dev/zero is not read to the end of memory.
FileStart judgeImageStart(const unsigned char* bytes, size_t length) {
  if (length < 8) {
    return FileStart::tooShortToTell;
  }
  return formatOfContent(bytes, length) ? FileStart::expected : FileStart::unexpected;
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
// Rows holds one row, or every row of an interlaced image, whose passes fill the whole image.
struct PngPixels {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 8;
  std::vector<png_byte> bytes;
  std::vector<png_bytep> rows;
  std::vector<float> row;  // one row as floats, for the receiver
};

// The file's bytes as libpng reads them.
struct PngSource {
  const std::vector<unsigned char>& bytes;
  size_t offset = 0;
};

void readPngBytes(png_structp png, png_bytep target, size_t length) {
  auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
  if (source->bytes.size() - source->offset < length) {
    png_error(png, "the file ends early");
  }
  std::memcpy(target, source->bytes.data() + source->offset, length);
  source->offset += length;
}

// Deflate packs at most 1032 bytes into one (a 258-byte match coded in two bits).
constexpr uint64_t largestDeflateRatio = 1032;

// Frees libpng's read state however decoding ends: returning, libpng's longjmp back to
// decodePng, or an exception from our own allocations.
struct PngReadState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReadState() { png_destroy_read_struct(&png, &info, nullptr); }
};

// Hands decoded row y to the receiver as premultiplied float RGBA, as an 8- or 16-bit PNG sample
// reads (PNG colour is straight; host layers carry colour premultiplied by alpha); returns whether
// it wants more.
bool sendPngRow(PngPixels& pixels, const png_byte* bytes, int y, const ImageRows& rows) {
  const size_t samples = size_t{pixels.width} * 4;
  const size_t rowBytes = samples * static_cast<size_t>(pixels.bitDepth / 8);
  if (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, rowBytes - 1) == 0) {
    return rows.row(y, nullptr);
  }
  for (size_t i = 0; i < samples; ++i) {
    if (pixels.bitDepth == 16) {
      unsigned value = (unsigned{bytes[2 * i]} << 8) | bytes[2 * i + 1];
      pixels.row[i] = static_cast<float>(value) / 65535.0f;
    } else {
      pixels.row[i] = static_cast<float>(bytes[i]) / 255.0f;
    }
  }
  for (size_t i = 0; i < samples; i += 4) {
    for (size_t channel = 0; channel < 3; ++channel) {
      pixels.row[i + channel] *= pixels.row[i + 3];
    }
  }
  return rows.row(y, pixels.row.data());
}

// libpng leaves by longjmp to the setjmp below. The jump skips no destructor: everything this
// function owns is in `state`, made before the setjmp, and the memory it fills is the caller's.
// An exception from the receiver leaves while libpng is not running.
bool decodePng(const std::vector<unsigned char>& bytes, PngPixels& pixels, PngFailure& failure,
               const ImageRows& rows) {
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
  PngSource source{bytes};
  png_set_read_fn(png, &source, readPngBytes);
  png_read_info(png, info);
  const unsigned width = png_get_image_width(png, info);
  const unsigned height = png_get_image_height(png, info);
  if (width > largestLayerSide || height > largestLayerSide) {
    std::snprintf(failure.message, sizeof failure.message, "it is %ux%u pixels; the effect takes up to %d per side",
                  width, height, largestLayerSide);
    return false;
  }
  // A header may claim any size; memory is taken only for pixels the file can hold.
  const uint64_t bitsPerPixel = uint64_t{png_get_channels(png, info)} * png_get_bit_depth(png, info);
  if (uint64_t{width} * height * bitsPerPixel / 8 > bytes.size() * largestDeflateRatio) {
    std::snprintf(failure.message, sizeof failure.message, "its %zu bytes cannot hold the %ux%u pixels it claims",
                  bytes.size(), width, height);
    return false;
  }
  rows.start(static_cast<int>(width), static_cast<int>(height));
  png_set_expand(png);
  png_set_gray_to_rgb(png);
  int depth = png_get_bit_depth(png, info) == 16 ? 16 : 8;
  png_set_add_alpha(png, depth == 16 ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
  const bool interlaced = png_set_interlace_handling(png) > 1;
  png_read_update_info(png, info);
  pixels.width = png_get_image_width(png, info);
  pixels.height = png_get_image_height(png, info);
  pixels.bitDepth = depth;
  const size_t rowBytes = png_get_rowbytes(png, info);
  pixels.row.resize(size_t{pixels.width} * 4);
  if (!interlaced) {
    pixels.bytes.resize(rowBytes);
    for (png_uint_32 y = 0; y < pixels.height; ++y) {
      png_read_row(png, pixels.bytes.data(), nullptr);
      if (!sendPngRow(pixels, pixels.bytes.data(), static_cast<int>(y), rows)) {
        return true;
      }
    }
  } else {
    // Each pass of an interlaced image adds pixels all over it: the whole image is decoded first.
    if (uint64_t{rowBytes} * pixels.height > rows.largestWholeImageBytes) {
      std::snprintf(failure.message, sizeof failure.message,
                    "an interlaced PNG is decoded whole, and this one's %ux%u pixels are more than %s needs; save "
                    "it without interlacing",
                    width, height, rows.purpose);
      return false;
    }
    pixels.bytes.resize(rowBytes * pixels.height);
    pixels.rows.resize(pixels.height);
    for (png_uint_32 y = 0; y < pixels.height; ++y) {
      pixels.rows[y] = pixels.bytes.data() + rowBytes * y;
    }
    png_read_image(png, pixels.rows.data());
    for (png_uint_32 y = 0; y < pixels.height && sendPngRow(pixels, pixels.rows[y], static_cast<int>(y), rows); ++y) {
    }
  }
  png_read_end(png, nullptr);
  return true;
}

void readPngRows(const std::vector<unsigned char>& bytes, const std::string& path, const ImageRows& rows) {
  PngPixels pixels;
  PngFailure failure;
  if (!decodePng(bytes, pixels, failure, rows)) {
    throw RunError("cannot read the PNG image " + path + ": " + failure.message);
  }
}

// The temporary file being written, at an explicit position (the OpenEXR writer seeks back to
// fill in its table of line offsets). Keeps the first failure's errno: the OpenEXR writer's
// destructor swallows the exception thrown for it.
struct FileSink {
  int descriptor = -1;
  uint64_t position = 0;
  int error = 0;
};

// Writes everything at the sink's position, resuming after short writes and signals.
bool writeToSink(FileSink& sink, const void* data, size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t count = pwrite(sink.descriptor, next, size, static_cast<off_t>(sink.position));
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      sink.error = sink.error != 0 ? sink.error : (count < 0 ? errno : EIO);
      return false;
    }
    next += count;
    size -= static_cast<size_t>(count);
    sink.position += static_cast<uint64_t>(count);
  }
  return true;
}

void writePngBytes(png_structp png, png_bytep data, size_t length) {
  auto* sink = static_cast<FileSink*>(png_get_io_ptr(png));
  if (!writeToSink(*sink, data, length)) {
    png_error(png, std::strerror(sink->error));
  }
}

// Without a flush function of its own libpng would call fflush on the sink.
void flushNothing(png_structp) {}

bool encodePng(FileSink& sink, const PngPixels& pixels, PngFailure& failure) {
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
  png_set_write_fn(png, &sink, writePngBytes, flushNothing);
  png_set_IHDR(png, info, pixels.width, pixels.height, pixels.bitDepth, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, const_cast<png_bytepp>(pixels.rows.data()));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

void writePng(FileSink& sink, const std::string& displayPath, const PF_EffectWorld& world, int bitDepth) {
  const RgbaSamples samples = rgbaSamplesFromWorld(world, bitDepth, true);
  PngPixels pixels;
  pixels.width = static_cast<png_uint_32>(world.width);
  pixels.height = static_cast<png_uint_32>(world.height);
  pixels.bitDepth = samples.bitDepth;
  const size_t bytesPerSample = static_cast<size_t>(samples.bitDepth / 8);
  const size_t rowBytes = static_cast<size_t>(world.width) * 4 * bytesPerSample;
  pixels.bytes.resize(rowBytes * pixels.height);
  for (size_t i = 0; i < samples.values.size(); ++i) {
    // PNG samples are big-endian.
    if (bytesPerSample == 2) {
      pixels.bytes[i * 2] = static_cast<png_byte>(samples.values[i] >> 8);
      pixels.bytes[i * 2 + 1] = static_cast<png_byte>(samples.values[i] & 0xFF);
    } else {
      pixels.bytes[i] = static_cast<png_byte>(samples.values[i]);
    }
  }
  for (int y = 0; y < world.height; ++y) {
    pixels.rows.push_back(pixels.bytes.data() + rowBytes * y);
  }
  PngFailure failure;
  if (!encodePng(sink, pixels, failure)) {
    throw RunError("cannot write " + displayPath + ": " + failure.message);
  }
}

// ---- OpenEXR ----

// The file's bytes as OpenEXR reads them.
class MemoryInput : public Imf::IStream {
 public:
  MemoryInput(const std::vector<unsigned char>& bytes, const std::string& path)
      : Imf::IStream(path.c_str()), bytes_(bytes) {}
  bool read(char target[], int count) override {
    if (count < 0 || position_ > bytes_.size() || bytes_.size() - position_ < static_cast<size_t>(count)) {
      throw Iex::InputExc("the file ends early");
    }
    std::memcpy(target, bytes_.data() + position_, static_cast<size_t>(count));
    position_ += static_cast<size_t>(count);
    return position_ < bytes_.size();
  }
  uint64_t tellg() override { return position_; }
  void seekg(uint64_t position) override { position_ = position; }

 private:
  const std::vector<unsigned char>& bytes_;
  uint64_t position_ = 0;
};

// The attributes of an OpenEXR header, walked without OpenEXR, which takes the memory an attribute
// claims before reading it: a 500-byte file could make it allocate and clear hundreds of
// megabytes. Throws RunError when an attribute claims more bytes than the file holds; returns the
// first part's data and display windows, as OpenEXR reads them (a later copy of an attribute
// replaces an earlier one); empty when the header has neither.
struct ExrWindows {
  std::optional<Imath::Box2i> data;
  std::optional<Imath::Box2i> display;
};

ExrWindows walkExrHeader(const std::vector<unsigned char>& bytes, const std::string& path) {
  auto damaged = [&] { return RunError("cannot read the OpenEXR image " + path + ": its header is damaged"); };
  auto readInt = [&](size_t at) {
    return int32_t(uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
                   uint32_t(bytes[at + 3]) << 24);
  };
  auto readText = [&](size_t& at) {
    const size_t start = at;
    while (at < bytes.size() && bytes[at] != 0) {
      ++at;
    }
    if (at == bytes.size()) {
      throw damaged();
    }
    return std::string(bytes.begin() + start, bytes.begin() + at++);
  };
  if (bytes.size() < 8) {
    throw damaged();
  }
  constexpr int32_t multipartFlag = 0x1000;
  const bool multipart = (readInt(4) & multipartFlag) != 0;
  ExrWindows windows;
  size_t at = 8;
  for (int part = 0;; ++part) {
    bool empty = true;
    for (std::string name = readText(at); !name.empty(); name = readText(at)) {
      empty = false;
      const std::string type = readText(at);
      if (bytes.size() - at < 4) {
        throw damaged();
      }
      const int32_t size = readInt(at);
      at += 4;
      if (size < 0 || bytes.size() - at < size_t(size)) {
        throw damaged();
      }
      if (part == 0 && (name == "dataWindow" || name == "displayWindow") && type == "box2i" && size == 16) {
        (name == "dataWindow" ? windows.data : windows.display) =
            Imath::Box2i({readInt(at), readInt(at + 4)}, {readInt(at + 8), readInt(at + 12)});
      }
      at += size_t(size);
    }
    // A single part's header ends with its empty name; a multi-part file's list with an empty header.
    if (!multipart || empty) {
      return windows;
    }
  }
}

// Rows decoded per readPixels call: memory for one strip of the data window at a time, so a header
// that claims more rows than the file holds fails at the first missing strip, and the image's rows
// go to the receiver without the whole data window held at once.
constexpr int exrStripRows = 64;

void readExrRows(const std::vector<unsigned char>& bytes, const std::string& path, const ImageRows& rows) {
  walkExrHeader(bytes, path);
  try {
    MemoryInput input(bytes, path);
    Imf::InputFile file(input);
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
    const int width = display.max.x - display.min.x + 1;
    const int height = display.max.y - display.min.y + 1;
    if (width <= 0 || height <= 0) {
      throw RunError("the OpenEXR image " + path + " has an empty display window");
    }
    rows.start(width, height);
    // The image is the display window; only its rows and columns inside the data window hold
    // pixels, and only those are read. The rest is transparent.
    const int firstRow = std::max(data.min.y, display.min.y);
    const int lastRow = std::min(data.max.y, display.max.y);
    const int firstColumn = std::max(data.min.x, display.min.x);
    const int lastColumn = std::min(data.max.x, display.max.x);
    const int dataWidth = data.max.x - data.min.x + 1;
    const size_t xStride = 4 * sizeof(float);
    const size_t yStride = xStride * dataWidth;
    std::vector<float> strip;
    std::vector<float> row;
    int stripFirst = 0;
    for (int y = display.min.y; y <= display.max.y; ++y) {
      if (y < firstRow || y > lastRow || firstColumn > lastColumn) {
        if (!rows.row(y - display.min.y, nullptr)) {
          return;
        }
        continue;
      }
      if (y == firstRow || y >= stripFirst + exrStripRows) {
        stripFirst = y;
        const int stripLast = std::min(y + exrStripRows - 1, lastRow);
        strip.assign(static_cast<size_t>(stripLast - stripFirst + 1) * dataWidth * 4, 0.0f);
        // A grey image's Y goes to red and is copied to green and blue below: one channel can
        // fill only one slice.
        const Imath::Box2i stripWindow({data.min.x, stripFirst}, {data.max.x, stripLast});
        Imf::FrameBuffer frameBuffer;
        const char* names[4] = {grey ? "Y" : "R", "G", "B", "A"};
        for (int channel = 0; channel < 4; ++channel) {
          if (grey && (channel == 1 || channel == 2)) {
            continue;
          }
          double fill = channel == 3 ? 1.0 : 0.0;
          frameBuffer.insert(names[channel], Imf::Slice::Make(Imf::FLOAT, strip.data() + channel, stripWindow,
                                                              xStride, yStride, 1, 1, fill));
        }
        file.setFrameBuffer(frameBuffer);
        file.readPixels(stripFirst, stripLast);
      }
      row.assign(static_cast<size_t>(width) * 4, 0.0f);
      const float* source = &strip[(static_cast<size_t>(y - stripFirst) * dataWidth + (firstColumn - data.min.x)) * 4];
      float* target = &row[static_cast<size_t>(firstColumn - display.min.x) * 4];
      std::copy(source, source + static_cast<size_t>(lastColumn - firstColumn + 1) * 4, target);
      if (grey) {
        for (size_t i = 0; i < row.size(); i += 4) {
          row[i + 1] = row[i];
          row[i + 2] = row[i];
        }
      }
      if (!rows.row(y - display.min.y, row.data())) {
        return;
      }
    }
  } catch (const RunError&) {
    throw;
  } catch (const UsageError&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& failure) {
    throw RunError("cannot read the OpenEXR image " + path + ": " + failure.what());
  }
}

class FileOutput : public Imf::OStream {
 public:
  FileOutput(FileSink& sink, const std::string& path) : Imf::OStream(path.c_str()), sink_(sink) {}
  void write(const char data[], int count) override {
    if (!writeToSink(sink_, data, static_cast<size_t>(count))) {
      throw Iex::IoExc(std::strerror(sink_.error));
    }
  }
  uint64_t tellp() override { return sink_.position; }
  void seekp(uint64_t position) override { sink_.position = position; }

 private:
  FileSink& sink_;
};

void writeExr(FileSink& sink, const std::string& displayPath, const PF_EffectWorld& world, int bitDepth) {
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
    FileOutput output(sink, displayPath);
    {
      Imf::OutputFile file(output, header);
      file.setFrameBuffer(frameBuffer);
      file.writePixels(world.height);
      // The destructor writes the table of line offsets and swallows its own write errors;
      // the sink keeps them for the check below.
    }
    if (sink.error != 0) {
      throw RunError("cannot write " + displayPath + ": " + std::strerror(sink.error));
    }
  } catch (const RunError&) {
    throw;
  } catch (const std::exception& failure) {
    throw RunError("cannot write " + displayPath + ": " + failure.what());
  }
}

}  // namespace

std::string lowercaseExtension(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

std::string temporaryNamePattern(const std::string& path) {
  constexpr size_t longestFileName = 255;
  const std::string suffix = ".partial-XXXXXX";
  std::filesystem::path target(path);
  std::filesystem::path folder = target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
  std::string name = target.filename().string();
  size_t kept = std::min(name.size(), longestFileName - 1 - suffix.size());
  while (kept > 0 && kept < name.size() && (static_cast<unsigned char>(name[kept]) & 0xC0) == 0x80) {
    --kept;
  }
  return (folder / ("." + name.substr(0, kept) + suffix)).string();
}

void createFolderOf(const std::string& path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code error;
  if (!folder.empty() && !std::filesystem::create_directories(folder, error) && error) {
    throw RunError("cannot create the folder " + folder.string() + " for " + path + ": " + error.message());
  }
}

ImageFormat imageFormatForPath(const std::string& path) {
  // ".png" alone is the name of a hidden file without an extension.
  const std::string name = std::filesystem::path(path).filename().string();
  if (strcasecmp(name.c_str(), ".png") == 0 || strcasecmp(name.c_str(), ".exr") == 0) {
    throw UsageError(path + " names no file, only its extension: give it a name, such as flames" + name);
  }
  std::string extension = lowercaseExtension(path);
  if (extension == ".png") {
    return ImageFormat::png;
  }
  if (extension == ".exr") {
    return ImageFormat::exr;
  }
  // Only output names reach here, and an output may be a movie as well as an image.
  throw UsageError("cannot tell the format of " + path +
                   ": name it .png or .exr for image files, or .mov, .mkv, .webm or .mp4 for one movie");
}

std::optional<ImageSize> declaredImageSize(const std::vector<unsigned char>& bytes) {
  static const unsigned char pngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  static const unsigned char exrMagic[] = {0x76, 0x2f, 0x31, 0x01};
  auto startsWith = [&](const unsigned char* prefix, size_t length) {
    return bytes.size() >= length && std::memcmp(bytes.data(), prefix, length) == 0;
  };
  if (startsWith(pngSignature, sizeof pngSignature) && bytes.size() >= 24) {
    auto bigEndian = [&](size_t at) {
      return int64_t{bytes[at]} << 24 | int64_t{bytes[at + 1]} << 16 | int64_t{bytes[at + 2]} << 8 | int64_t{bytes[at + 3]};
    };
    return ImageSize{bigEndian(16), bigEndian(20)};
  }
  if (startsWith(exrMagic, sizeof exrMagic)) {
    try {
      // The reader reads the data window and makes an image of the display window: the larger of each.
      const ExrWindows windows = walkExrHeader(bytes, "");
      std::optional<ImageSize> largest;
      for (const std::optional<Imath::Box2i>& window : {windows.data, windows.display}) {
        if (window) {
          const ImageSize size{int64_t{window->max.x} - window->min.x + 1, int64_t{window->max.y} - window->min.y + 1};
          largest = ImageSize{std::max(size.width, largest ? largest->width : size.width),
                              std::max(size.height, largest ? largest->height : size.height)};
        }
      }
      return largest;
    } catch (const RunError&) {
    }
  }
  return std::nullopt;
}

void readImageRows(const std::string& path, const ImageRows& rows) {
  try {
    // Images have no size limit of their own: their pixels are bounded when they are decoded.
    const InputRules rules{"the image", SIZE_MAX - 1, judgeImageStart};
    std::vector<unsigned char> bytes;
    const InputRead read = readInputFile(path, rules, bytes);
    const std::optional<ImageFormat> format = formatOfContent(bytes.data(), bytes.size());
    if (read != InputRead::complete || !format) {
      throw notAnImage(path);
    }
    if (*format == ImageFormat::png) {
      readPngRows(bytes, path, rows);
    } else {
      readExrRows(bytes, path, rows);
    }
  } catch (const std::bad_alloc&) {
    throw RunError("cannot read the image " + path + ": out of memory");
  }
}

RgbaImage readImageFile(const std::string& path, const std::function<void(int width, int height)>& checkSize) {
  RgbaImage image;
  // The rows the file holds are kept as they come and the image is made once all have been read,
  // so that memory grows with the data there rather than with the size a header claims.
  std::vector<std::vector<float>> held;
  ImageRows rows;
  rows.start = [&](int width, int height) {
    if (checkSize) {
      checkSize(width, height);
    }
    image.width = width;
    image.height = height;
    held.resize(static_cast<size_t>(height));
  };
  rows.row = [&](int y, const float* rgba) {
    if (rgba) {
      held[static_cast<size_t>(y)].assign(rgba, rgba + static_cast<size_t>(image.width) * 4);
    }
    return true;
  };
  readImageRows(path, rows);
  try {
    image.rgba.assign(static_cast<size_t>(image.width) * image.height * 4, 0.0f);
  } catch (const std::bad_alloc&) {
    throw RunError("cannot read the image " + path + ": out of memory");
  }
  for (size_t y = 0; y < held.size(); ++y) {
    std::copy(held[y].begin(), held[y].end(), image.rgba.begin() + static_cast<std::ptrdiff_t>(y * image.width * 4));
    std::vector<float>().swap(held[y]);
  }
  return image;
}

TemporaryFile createTemporaryFileFor(const std::string& path) {
  createFolderOf(path);
  std::string name = temporaryNamePattern(path);
  const int descriptor = mkstemp(name.data());
  if (descriptor < 0) {
    throw RunError("cannot write " + path + ": " + std::strerror(errno));
  }
  setTemporaryFileInProgress(name.c_str());
  // mkstemp makes the file private.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(descriptor, 0666 & ~mask);
  return TemporaryFile{descriptor, name};
}

void renameWhenOnDisk(int descriptor, const std::string& temporary, const std::string& path) {
  if (fsync(descriptor) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
    throw RunError("cannot write " + path + ": " + std::strerror(errno));
  }
}

void writeImageFile(const std::string& path, const PF_EffectWorld& world, int bitDepth) {
  ImageFormat format = imageFormatForPath(path);
  const TemporaryFile created = createTemporaryFileFor(path);
  OpenDescriptor file(created.descriptor);
  const std::string& temporary = created.name;
  try {
    FileSink sink{file.descriptor};
    if (format == ImageFormat::png) {
      writePng(sink, path, world, bitDepth);
    } else {
      writeExr(sink, path, world, bitDepth);
    }
    renameWhenOnDisk(file.descriptor, temporary, path);
  } catch (...) {
    std::remove(temporary.c_str());
    setTemporaryFileInProgress(nullptr);
    throw;
  }
  setTemporaryFileInProgress(nullptr);
}
