#include "authoring/emitter_placement.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "session/parameter_settings.h"
#include "session/program_errors.h"

namespace {

bool parseFiniteNumber(const std::string& text, double& number) {
  if (text.empty()) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  number = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && errno != ERANGE && std::isfinite(number);
}

// For each of targetLength pixels, the taps into a source of sourceLength pixels placed at start
// and scaled by scale. Taps outside the source keep their share of the weight, so the image's
// edges fade into the transparent layer instead of smearing.
std::vector<ResampleTaps> axisTaps(int sourceLength, int targetLength, double start, double scale) {
  const double radius = std::max(1.0, 1.0 / scale);
  std::vector<ResampleTaps> taps(targetLength);
  for (int target = 0; target < targetLength; ++target) {
    const double centre = (target + 0.5 - start) / scale - 0.5;
    const int first = static_cast<int>(std::ceil(centre - radius));
    const int last = static_cast<int>(std::floor(centre + radius));
    if (last < 0 || first >= sourceLength) {
      continue;
    }
    double total = 0.0;
    std::vector<double> weights;
    for (int source = first; source <= last; ++source) {
      double weight = 1.0 - std::fabs(source - centre) / radius;
      total += weight;
      weights.push_back(weight);
    }
    // Keep only the taps inside the source.
    const int inFirst = std::max(first, 0);
    const int inLast = std::min(last, sourceLength - 1);
    taps[target].first = inFirst;
    for (int source = inFirst; source <= inLast; ++source) {
      taps[target].weights.push_back(weights[source - first] / total);
    }
  }
  return taps;
}

}  // namespace

bool leavesImageAsItIs(const EmitterPlacement& placement) {
  return placement.fit == EmitterFit::none && placement.scale == 1.0 && placement.offsetX == 0.0 &&
         placement.offsetY == 0.0;
}

EmitterFit parseEmitterFit(const std::string& text) {
  const std::vector<std::string> names{"none", "fit", "fill", "centre"};
  for (size_t i = 0; i < names.size(); ++i) {
    if (text == names[i]) {
      return static_cast<EmitterFit>(i);
    }
  }
  if (text == "center") {
    return EmitterFit::centre;
  }
  throw UsageError("--emitter-fit takes none, fit, fill or centre, got " + quoted(text) +
                   didYouMean(text, names, ""));
}

std::string emitterFitName(EmitterFit fit) {
  switch (fit) {
    case EmitterFit::fit:
      return "fit";
    case EmitterFit::fill:
      return "fill";
    case EmitterFit::centre:
      return "centre";
    default:
      return "none";
  }
}

void parseEmitterOffset(const std::string& text, EmitterPlacement& placement) {
  size_t comma = text.find(',');
  double x = 0.0;
  double y = 0.0;
  if (comma == std::string::npos || !parseFiniteNumber(text.substr(0, comma), x) ||
      !parseFiniteNumber(text.substr(comma + 1), y)) {
    throw UsageError("--emitter-offset needs X,Y in layer pixels, such as 0,-40, got " + quoted(text));
  }
  placement.offsetX = x;
  placement.offsetY = y;
}

double parseEmitterScale(const std::string& text) {
  double scale = 0.0;
  if (!parseFiniteNumber(text, scale) || scale < 0.01 || scale > 100.0) {
    throw UsageError("--emitter-scale needs a number from 0.01 to 100 (1 keeps the fit mode's size), such as 0.5, "
                     "got " + quoted(text));
  }
  return scale;
}

EmitterRectangle emitterRectangle(int imageWidth, int imageHeight, int layerWidth, int layerHeight,
                                  const EmitterPlacement& placement) {
  const double widthRatio = double(layerWidth) / imageWidth;
  const double heightRatio = double(layerHeight) / imageHeight;
  double fitScale = 1.0;
  if (placement.fit == EmitterFit::fit) {
    fitScale = std::min(widthRatio, heightRatio);
  } else if (placement.fit == EmitterFit::fill) {
    fitScale = std::max(widthRatio, heightRatio);
  }
  EmitterRectangle rectangle;
  rectangle.scale = fitScale * placement.scale;
  if (placement.fit != EmitterFit::none) {
    rectangle.left = (layerWidth - imageWidth * rectangle.scale) / 2.0;
    rectangle.top = (layerHeight - imageHeight * rectangle.scale) / 2.0;
  }
  rectangle.left += placement.offsetX;
  rectangle.top += placement.offsetY;
  return rectangle;
}

RowPlacement startRowPlacement(int imageWidth, int imageHeight, int layerWidth, int layerHeight,
                               const EmitterPlacement& placement) {
  const EmitterRectangle rectangle = emitterRectangle(imageWidth, imageHeight, layerWidth, layerHeight, placement);
  RowPlacement rows;
  rows.layerWidth = layerWidth;
  rows.columns = axisTaps(imageWidth, layerWidth, rectangle.left, rectangle.scale);
  rows.rows = axisTaps(imageHeight, layerHeight, rectangle.top, rectangle.scale);
  rows.readers.assign(imageHeight, {layerHeight, -1});
  for (int target = 0; target < layerHeight; ++target) {
    const ResampleTaps& taps = rows.rows[target];
    for (int source = taps.first; source < taps.first + static_cast<int>(taps.weights.size()); ++source) {
      rows.readers[source].first = std::min(rows.readers[source].first, target);
      rows.readers[source].second = std::max(rows.readers[source].second, target);
    }
  }
  rows.sums.resize(layerHeight);
  rows.across.resize(static_cast<size_t>(layerWidth) * 4);
  rows.placed.width = layerWidth;
  rows.placed.height = layerHeight;
  rows.placed.rgba.assign(static_cast<size_t>(layerWidth) * layerHeight * 4, 0.0f);
  return rows;
}

// Image row y (imageWidth RGBA pixels; null when transparent). A row of zeros adds nothing to
// any sum, so it is skipped.
void placeRow(RowPlacement& rows, int y, const float* sourceRow, int imageWidth) {
  const auto [firstReader, lastReader] = rows.readers[y];
  const bool empty = !sourceRow || std::all_of(sourceRow, sourceRow + static_cast<size_t>(imageWidth) * 4,
                                               [](float value) { return value == 0.0f; });
  if (!empty && firstReader <= lastReader) {
    for (int x = 0; x < rows.layerWidth; ++x) {
      const ResampleTaps& taps = rows.columns[x];
      for (int channel = 0; channel < 4; ++channel) {
        double sum = 0.0;
        for (size_t tap = 0; tap < taps.weights.size(); ++tap) {
          sum += taps.weights[tap] * sourceRow[(taps.first + tap) * 4 + channel];
        }
        rows.across[x * 4 + channel] = static_cast<float>(sum);
      }
    }
  }
  for (int target = firstReader; target <= lastReader; ++target) {
    const ResampleTaps& taps = rows.rows[target];
    std::vector<double>& sums = rows.sums[target];
    if (!empty) {
      if (sums.empty()) {
        sums.assign(rows.across.size(), 0.0);
      }
      const double weight = taps.weights[y - taps.first];
      for (size_t x = 0; x < sums.size(); ++x) {
        sums[x] += weight * rows.across[x];
      }
    }
    if (y == taps.first + static_cast<int>(taps.weights.size()) - 1 && !sums.empty()) {
      float* targetRow = &rows.placed.rgba[static_cast<size_t>(target) * rows.layerWidth * 4];
      for (size_t x = 0; x < sums.size(); ++x) {
        targetRow[x] = static_cast<float>(sums[x]);
      }
      std::vector<double>().swap(sums);
    }
  }
}

RgbaImage placeEmitterImage(const RgbaImage& image, int layerWidth, int layerHeight,
                            const EmitterPlacement& placement) {
  RowPlacement rows = startRowPlacement(image.width, image.height, layerWidth, layerHeight, placement);
  for (int y = 0; y < image.height; ++y) {
    placeRow(rows, y, &image.rgba[static_cast<size_t>(y) * image.width * 4], image.width);
  }
  return std::move(rows.placed);
}
