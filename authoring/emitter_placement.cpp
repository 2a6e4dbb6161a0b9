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

// The source pixels that one target pixel along an axis reads, with their weights.
struct Taps {
  int first = 0;
  std::vector<double> weights;
};

// For each of targetLength pixels, the taps into a source of sourceLength pixels placed at start
// and scaled by scale. Taps outside the source keep their share of the weight, so the image's
// edges fade into the transparent layer instead of smearing.
std::vector<Taps> axisTaps(int sourceLength, int targetLength, double start, double scale) {
  const double radius = std::max(1.0, 1.0 / scale);
  std::vector<Taps> taps(targetLength);
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
  throw UsageError("--emitter-fit takes none, fit, fill or centre, got \"" + text + "\"" +
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
    throw UsageError("--emitter-offset needs X,Y in layer pixels, such as 0,-40, got \"" + text + "\"");
  }
  placement.offsetX = x;
  placement.offsetY = y;
}

double parseEmitterScale(const std::string& text) {
  double scale = 0.0;
  if (!parseFiniteNumber(text, scale) || scale < 0.01 || scale > 100.0) {
    throw UsageError("--emitter-scale needs a number from 0.01 to 100 (1 keeps the fit mode's size), such as 0.5, "
                     "got \"" + text + "\"");
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

RgbaImage placeEmitterImage(const RgbaImage& image, int layerWidth, int layerHeight,
                            const EmitterPlacement& placement) {
  const EmitterRectangle rectangle = emitterRectangle(image.width, image.height, layerWidth, layerHeight, placement);
  const std::vector<Taps> columns = axisTaps(image.width, layerWidth, rectangle.left, rectangle.scale);
  const std::vector<Taps> rows = axisTaps(image.height, layerHeight, rectangle.top, rectangle.scale);

  // Across first: the image's rows at the layer's width.
  std::vector<float> across(static_cast<size_t>(layerWidth) * image.height * 4, 0.0f);
  for (int y = 0; y < image.height; ++y) {
    const float* sourceRow = &image.rgba[static_cast<size_t>(y) * image.width * 4];
    float* targetRow = &across[static_cast<size_t>(y) * layerWidth * 4];
    for (int x = 0; x < layerWidth; ++x) {
      const Taps& taps = columns[x];
      for (int channel = 0; channel < 4; ++channel) {
        double sum = 0.0;
        for (size_t tap = 0; tap < taps.weights.size(); ++tap) {
          sum += taps.weights[tap] * sourceRow[(taps.first + tap) * 4 + channel];
        }
        targetRow[x * 4 + channel] = static_cast<float>(sum);
      }
    }
  }

  RgbaImage placed;
  placed.width = layerWidth;
  placed.height = layerHeight;
  placed.rgba.assign(static_cast<size_t>(layerWidth) * layerHeight * 4, 0.0f);
  for (int y = 0; y < layerHeight; ++y) {
    const Taps& taps = rows[y];
    float* targetRow = &placed.rgba[static_cast<size_t>(y) * layerWidth * 4];
    for (int x = 0; x < layerWidth * 4; ++x) {
      double sum = 0.0;
      for (size_t tap = 0; tap < taps.weights.size(); ++tap) {
        sum += taps.weights[tap] * across[(static_cast<size_t>(taps.first + tap) * layerWidth) * 4 + x];
      }
      targetRow[x] = static_cast<float>(sum);
    }
  }
  return placed;
}
