// PNG and OpenEXR inputs through the reader, then into host worlds as a render takes them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "fuzz/memory_file.h"
#include "media/image_files.h"
#include "session/program_errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  // Images larger than a few thousand pixels take the same paths as small ones, only longer (a
  // header that claims 16384 x 64 made a run take two seconds instead of a millisecond). Headers
  // beyond the effect's limit still go through: the reader must refuse them.
  const std::optional<ImageSize> declared = declaredImageSize(std::vector<unsigned char>(data, data + size));
  if (declared && declared->width > 0 && declared->height > 0 && declared->width <= largestLayerSide &&
      declared->height <= largestLayerSide && declared->width * declared->height > 64 * 64) {
    return 0;
  }
  try {
    RgbaImage image = readImageFile(file.holding(data, size));
    for (int depth : {8, 16, 32}) {
      hostWorldFromImage(downsampleImage(image, depth / 8), depth);
    }
  } catch (const RunError&) {
  }
  return 0;
}
