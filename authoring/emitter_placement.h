// Where an emitter image sits in the layer: a fit mode, then a scale and an offset. The effect
// reads the Emitter Layer from the layer's top left, so a placed image is resampled into a new
// image of the layer's size.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "session/host_pixels.h"

enum class EmitterFit {
  none,    // the image's own size, at the layer's top left (scale grows it from there)
  fit,     // scaled to lie wholly inside the layer, centred
  fill,    // scaled to cover the whole layer, centred; what sticks out is cut
  centre,  // the image's own size, centred
};

struct EmitterPlacement {
  EmitterFit fit = EmitterFit::none;
  double scale = 1.0;    // times the fit mode's size
  double offsetX = 0.0;  // layer pixels at full resolution, rightward
  double offsetY = 0.0;  // downward
};

// Whether the placement leaves the image as it is: no fit, scale 1, no offset.
bool leavesImageAsItIs(const EmitterPlacement& placement);

// "none", "fit", "fill", "centre" (also "center"). Throws UsageError naming the choices.
EmitterFit parseEmitterFit(const std::string& text);
std::string emitterFitName(EmitterFit fit);
// "X,Y" in pixels, such as "0,-40". Throws UsageError.
void parseEmitterOffset(const std::string& text, EmitterPlacement& placement);
// A number from 0.01 to 100, such as 0.5. Throws UsageError.
double parseEmitterScale(const std::string& text);

// Where the placed image's top left corner lands and how much it is scaled, in layer pixels.
struct EmitterRectangle {
  double left = 0.0;
  double top = 0.0;
  double scale = 1.0;
};
EmitterRectangle emitterRectangle(int imageWidth, int imageHeight, int layerWidth, int layerHeight,
                                  const EmitterPlacement& placement);

// The image placed in a transparent layer-sized image. Scaled images are resampled with a tent
// filter as wide as one pixel of the larger of the two images, so that a shrunk image keeps its
// thin lines instead of dropping them; an unscaled image at whole-pixel offsets is copied exactly.
// Throws std::bad_alloc.
RgbaImage placeEmitterImage(const RgbaImage& image, int layerWidth, int layerHeight,
                            const EmitterPlacement& placement);

// The source pixels that one target pixel along an axis reads, with their weights.
struct ResampleTaps {
  int first = 0;
  std::vector<double> weights;
};

// A placement that takes the image a row at a time, as a reader decodes it: each row is resampled
// across at once, and added to the layer rows that read it, whose sums are kept only while a row
// they read is still to come. The sums are formed in the same order as a whole image's would be.
struct RowPlacement {
  int layerWidth = 0;
  std::vector<ResampleTaps> columns;
  std::vector<ResampleTaps> rows;
  // For each image row, the first and last layer rows that read it (first > last: none).
  std::vector<std::pair<int, int>> readers;
  std::vector<std::vector<double>> sums;  // per layer row, while open
  std::vector<float> across;
  RgbaImage placed;
};

RowPlacement startRowPlacement(int imageWidth, int imageHeight, int layerWidth, int layerHeight,
                               const EmitterPlacement& placement);
// Image row y (imageWidth RGBA pixels; null when transparent), rows in order from 0; the result is
// in the record's placed image once the last row is in.
void placeRow(RowPlacement& rows, int y, const float* sourceRow, int imageWidth);
