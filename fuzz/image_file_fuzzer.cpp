// PNG and OpenEXR inputs through the reader, then into host worlds as a render takes them.
#include <cstddef>
#include <cstdint>

#include "fuzz/memory_file.h"
#include "media/image_files.h"
#include "session/program_errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  try {
    RgbaImage image = readImageFile(file.holding(data, size));
    // Large images only repeat the conversions; the runs are better spent in the readers.
    if (image.width * image.height > 64 * 64) {
      return 0;
    }
    for (int depth : {8, 16, 32}) {
      hostWorldFromImage(downsampleImage(image, depth / 8), depth);
    }
  } catch (const RunError&) {
  }
  return 0;
}
