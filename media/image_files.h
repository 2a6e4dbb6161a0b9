// Image files in and out: PNG (8 or 16 bits) and OpenEXR (32-bit float).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "session/host_pixels.h"

enum class ImageFormat { png, exr };

// The output format named by a file's extension (.png, .exr; any case). Throws UsageError.
ImageFormat imageFormatForPath(const std::string& path);

// The file name's extension in lower case, with its dot (".png"); empty without one.
std::string lowercaseExtension(const std::string& path);

// A name for the file while it is written: hidden, in the target's own folder so that the final
// rename stays on one file system, ending in XXXXXX for mkstemp. The target's name is cut where
// needed (at a UTF-8 character boundary) so that the whole stays within the 255 bytes a file name
// may have: every name the target may have works.
std::string temporaryNamePattern(const std::string& path);

// The folders a file goes into, made as `mkdir -p` makes them, failing with the folder's own
// error (a read-only file system) rather than with the file's missing folder. Throws RunError.
void createFolderOf(const std::string& path);

// A new, empty file under a temporary name beside path (its folders made first), with the
// permissions any new file would get, registered so that a stop signal removes it. Write it
// through the descriptor: reopening by name could reach another file. Throws RunError.
struct TemporaryFile {
  int descriptor;
  std::string name;
};
TemporaryFile createTemporaryFileFor(const std::string& path);

// Gives the written temporary file its final name: data first on disk, then the rename, so that
// a crash cannot leave the final name on an empty file. Throws RunError.
void renameWhenOnDisk(int descriptor, const std::string& temporary, const std::string& path);

// Where a reader sends an image's rows, top to bottom: RGBA floats, premultiplied, as
// readImageFile gives them.
struct ImageRows {
  // Called with the image's size before any memory is taken for its pixels; throws to refuse it.
  std::function<void(int width, int height)> start;
  // Row y, width pixels; null for a wholly transparent row (outside an OpenEXR file's data window,
  // or all zeros), which is never made. Returns whether more rows are wanted: reading ends early
  // when they are not.
  std::function<bool(int y, const float* rgba)> row;
  // What the image is read for, as a refusal names it ("a 64x36 layer").
  const char* purpose = "the image";
  // An image whose layout needs it decoded whole (an interlaced PNG) is refused when that takes
  // more bytes than this.
  uint64_t largestWholeImageBytes = UINT64_MAX;
};

// Reads a PNG or OpenEXR file, recognised by its content, row by row into rows; a pipe or FIFO
// works too. Grey images become grey RGB; a missing alpha channel is opaque; PNG colour is
// premultiplied by its alpha; an OpenEXR image is its display window, transparent outside its
// data window. Memory is taken only for pixels the file can hold, a strip of rows at a time.
// Throws RunError naming the file, what rows.start throws, Cancelled when a stop signal arrives
// while it waits for data.
void readImageRows(const std::string& path, const ImageRows& rows);

// The whole image, read by readImageRows; checkSize, if given, sees its size first and throws to
// refuse it before its pixels take memory.
RgbaImage readImageFile(const std::string& path, const std::function<void(int width, int height)>& checkSize = {});

struct ImageSize {
  int64_t width = 0;
  int64_t height = 0;
};

// The size a PNG or OpenEXR file's header declares, read without decoding (OpenEXR: the larger
// extent of its data and display windows); nothing when the bytes are neither or the header is
// damaged.
std::optional<ImageSize> declaredImageSize(const std::vector<unsigned char>& bytes);

// Writes a host world of bitDepth bits per channel. PNG takes 8 or 16 bits: colour is divided by
// alpha (PNG stores it straight) and 16-bit host values (full intensity 32768) are scaled to
// 0..65535. OpenEXR gets RGBA 32-bit float channels: a
// 32-bit world exactly as it is, 8 and 16 bits divided by their full intensity.
// The file appears complete or not at all: it is written under a temporary name in the same
// folder (created first, with its parents) and renamed. Throws RunError naming the file.
void writeImageFile(const std::string& path, const PF_EffectWorld& world, int bitDepth);
