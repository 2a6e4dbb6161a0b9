#include "authoring/emitter_image_file.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "media/image_files.h"

RgbaImage readPlacedEmitterImage(const std::string& path, int layerWidth, int layerHeight,
                                 const EmitterPlacement& placement, int downsample) {
  const std::string layer = "a " + std::to_string(layerWidth) + "x" + std::to_string(layerHeight) + " layer";
  ImageRows reader;
  reader.purpose = layer.c_str();
  // As much as a layer's own image takes, and at least what a large logo does.
  reader.largestWholeImageBytes = std::max<uint64_t>(uint64_t{64} << 20, uint64_t(layerWidth) * layerHeight * 16);
  int imageWidth = 0;
  RgbaImage kept;
  std::optional<RowPlacement> rows;
  // Unmoved, the image is kept at its own size from the top left: the effect reads no pixel beyond
  // the layer, nor does downsampling beyond the layer's last block of pixels.
  const int keptWidth = (layerWidth + downsample - 1) / downsample * downsample;
  const int keptHeight = (layerHeight + downsample - 1) / downsample * downsample;
  if (leavesImageAsItIs(placement)) {
    reader.start = [&](int width, int height) {
      kept.width = std::min(width, keptWidth);
      kept.height = std::min(height, keptHeight);
      kept.rgba.assign(static_cast<size_t>(kept.width) * kept.height * 4, 0.0f);
    };
    reader.row = [&](int y, const float* rgba) {
      if (rgba) {
        std::copy(rgba, rgba + static_cast<size_t>(kept.width) * 4, &kept.rgba[static_cast<size_t>(y) * kept.width * 4]);
      }
      return y + 1 < kept.height;
    };
  } else {
    reader.start = [&](int width, int height) {
      imageWidth = width;
      rows = startRowPlacement(width, height, layerWidth, layerHeight, placement);
    };
    reader.row = [&](int y, const float* rgba) {
      placeRow(*rows, y, rgba, imageWidth);
      return true;
    };
  }
  readImageRows(path, reader);
  return rows ? std::move(rows->placed) : std::move(kept);
}
