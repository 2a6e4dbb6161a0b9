// Image files in and out: PNG (8 or 16 bits) and OpenEXR (32-bit float).
#pragma once

#include <cstdint>
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

// Reads a PNG or OpenEXR file, recognised by its content; a pipe or FIFO works too. Grey images
// become grey RGB; a missing alpha channel is opaque; PNG colour is premultiplied by its alpha.
// Memory is taken only for pixels the file can hold. Throws RunError naming the file, Cancelled
// when a stop signal arrives while it waits for data.
RgbaImage readImageFile(const std::string& path);

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
