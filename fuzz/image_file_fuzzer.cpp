// PNG and OpenEXR inputs through the reader, as an emitter placed in a small layer and whole into
// host worlds as a render takes them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "authoring/emitter_image_file.h"
#include "authoring/emitter_placement.h"
#include "fuzz/memory_file.h"
#include "media/image_files.h"
#include "session/program_errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  const std::string& path = file.holding(data, size);
  // As an emitter, read a row at a time into a small layer: its memory is the layer's whatever
  // the header claims, so every input goes through, and a placement chosen by the input's last
  // byte resamples or cuts it.
  try {
    const uint8_t choice = size > 0 ? data[size - 1] : 0;
    const EmitterPlacement placement{static_cast<EmitterFit>(choice % 4), choice & 4 ? 0.37 : 1.0,
                                     choice & 8 ? -5.5 : 0.0, choice & 16 ? 3.0 : 0.0};
    readPlacedEmitterImage(path, 24, 14, placement, choice & 32 ? 3 : 1);
  } catch (const RunError&) {
  }
  // Images larger than a few thousand pixels take the same paths as small ones, only longer (a
  // header that claims 16384 x 64 made a run take two seconds instead of a millisecond). Headers
  // beyond the effect's limit still go through: the reader must refuse them.
  const std::optional<ImageSize> declared = declaredImageSize(std::vector<unsigned char>(data, data + size));
  if (declared && declared->width > 0 && declared->height > 0 && declared->width <= largestLayerSide &&
      declared->height <= largestLayerSide && declared->width * declared->height > 64 * 64) {
    return 0;
  }
  try {
    RgbaImage image = readImageFile(path);
    for (int depth : {8, 16, 32}) {
      hostWorldFromImage(downsampleImage(image, depth / 8), depth);
    }
  } catch (const RunError&) {
  }
  return 0;
}
