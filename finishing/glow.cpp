// The glow: the light above the threshold, spread by two Gaussians (a narrow one for the bright
// spill close to the flames, a wide one for the halo) and added in linear light.
//
// Each Gaussian is three box blurs, each a running sum: the cost per pixel does not grow with the
// radius. A wide Gaussian is blurred on a copy reduced by a power of two (its spread still at least
// two reduced pixels, so the reduction adds no visible blockiness) and read back bilinearly, so a
// radius of a tenth of a full-HD frame costs a few milliseconds. Rows and columns are shared among
// threads, each computed whole in a fixed order: the same bits at any thread count, in any host.
#include <algorithm>
#include <cmath>
#include <vector>

#include "finishing/finishing.h"
#include "finishing/pixel_samples.h"
#include "finishing/row_bands.h"

namespace {

// sRGB's transfer, extended to values beyond full intensity (32-bit light) and mirrored below 0.
float linearFromEncoded(float value) {
  if (value < 0.0f) {
    return -linearFromEncoded(-value);
  }
  if (value <= 0.04045f) {
    return value / 12.92f;
  }
  return std::pow((value + 0.055f) / 1.055f, 2.4f);
}

float encodedFromLinear(float value) {
  if (value < 0.0f) {
    return -encodedFromLinear(-value);
  }
  if (value <= 0.0031308f) {
    return value * 12.92f;
  }
  return 1.055f * std::pow(value, 1.0f / 2.4f) - 0.055f;
}

// Linear light of every code of an 8- or 16-bit sample, and the code nearest (in encoded terms) to a
// linear value: the count of code midpoints at or below it, so that a pixel the glow does not reach
// keeps its code exactly and one it reaches never gets darker.
struct CodeTable {
  std::vector<float> linear;     // code -> linear light
  std::vector<float> midpoints;  // linear light halfway (in code terms) between code k and k + 1

  explicit CodeTable(int full) {
    linear.resize(static_cast<size_t>(full) + 1);
    midpoints.resize(static_cast<size_t>(full));
    for (int code = 0; code <= full; ++code) {
      linear[code] = linearFromEncoded(static_cast<float>(code) / static_cast<float>(full));
    }
    for (int code = 0; code < full; ++code) {
      midpoints[code] = linearFromEncoded((static_cast<float>(code) + 0.5f) / static_cast<float>(full));
    }
  }

  // The code of light at least the light of code `from`: searched upward from it in steps that
  // double, then halved, as the glow mostly moves a code by a few steps (a bisection of the whole
  // 16-bit table took four times as long).
  int codeFrom(int from, float light) const {
    const int full = static_cast<int>(midpoints.size());
    int low = from;
    int step = 1;
    while (low + step - 1 < full && midpoints[low + step - 1] <= light) {
      low += step;
      step *= 2;
    }
    const int high = std::min(low + step - 1, full);
    return static_cast<int>(std::upper_bound(midpoints.begin() + low, midpoints.begin() + high, light) -
                            midpoints.begin());
  }

  // The same count, walked from a guess that is at most a step or two off.
  int codeNear(int guess, float light) const {
    const int full = static_cast<int>(midpoints.size());
    int code = std::clamp(guess, 0, full);
    while (code < full && midpoints[code] <= light) {
      ++code;
    }
    while (code > 0 && midpoints[code - 1] > light) {
      --code;
    }
    return code;
  }
};

template <typename Sample>
const CodeTable& codeTable() {
  static const CodeTable table(static_cast<int>(fullIntensity<Sample>()));
  return table;
}

template <typename Sample>
float linearOf(Sample sample) {
  if constexpr (sizeof(Sample) == 4) {
    return linearFromEncoded(sample);
  } else {
    return codeTable<Sample>().linear[sample];
  }
}

// The sample with added light on top of its own.
template <typename Sample>
Sample brightened(Sample sample, float added) {
  if constexpr (sizeof(Sample) == 4) {
    return encodedFromLinear(linearFromEncoded(sample) + added);
  } else {
    const CodeTable& table = codeTable<Sample>();
    const float light = table.linear[sample] + added;
    if constexpr (sizeof(Sample) == 1) {
      return static_cast<Sample>(table.codeFrom(sample, light));
    } else {
      // 32768 codes: the glow moves dark ones by hundreds, so the search starts from the encoded
      // value instead (half the time).
      const float encoded = encodedFromLinear(light) * fullIntensity<Sample>();
      return static_cast<Sample>(table.codeNear(static_cast<int>(encoded + 0.5f), light));
    }
  }
}

// Three channels of linear light per pixel, rows packed.
struct LightPlane {
  int width = 0;
  int height = 0;
  std::vector<float> rgb;
  float* at(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
  const float* at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

// The light that glows: each pixel's linear light scaled down so that its brightest channel loses the
// threshold (hue kept); nothing below it. Non-finite light glows not at all.
template <typename Sample>
LightPlane glowingLight(const HostWorld& frame, float thresholdLight, unsigned threads) {
  LightPlane plane{frame.world.width, frame.world.height, {}};
  plane.rgb.assign(static_cast<size_t>(plane.width) * plane.height * 3, 0.0f);
  forRowBands(plane.height, threads, [&](int firstRow, int endRow) {
  for (int y = firstRow; y < endRow; ++y) {
    std::byte* row = rowAddress(frame, y);
    for (int x = 0; x < plane.width; ++x) {
      float light[3];
      float brightest = 0.0f;
      for (int channel = 0; channel < 3; ++channel) {
        const float value = linearOf(readSample<Sample>(sampleAddress<Sample>(row, x, channel + 1)));
        light[channel] = std::isfinite(value) && value > 0.0f ? value : 0.0f;
        brightest = std::max(brightest, light[channel]);
      }
      if (!(brightest > thresholdLight)) {
        continue;
      }
      const float share = (brightest - thresholdLight) / brightest;
      float* out = plane.at(x, y);
      for (int channel = 0; channel < 3; ++channel) {
        out[channel] = light[channel] * share;
      }
    }
  }
  });
  return plane;
}

// The plane reduced by factor, each pixel the mean of its factor x factor block; light beyond the
// frame's edge counts as none.
LightPlane reducedPlane(const LightPlane& plane, int factor) {
  if (factor == 1) {
    return plane;
  }
  LightPlane reduced{(plane.width + factor - 1) / factor, (plane.height + factor - 1) / factor, {}};
  reduced.rgb.assign(static_cast<size_t>(reduced.width) * reduced.height * 3, 0.0f);
  const double blockArea = static_cast<double>(factor) * factor;
  std::vector<double> sums(static_cast<size_t>(reduced.width) * 3);
  for (int ry = 0; ry < reduced.height; ++ry) {
    std::fill(sums.begin(), sums.end(), 0.0);
    for (int y = ry * factor; y < std::min(plane.height, (ry + 1) * factor); ++y) {
      for (int x = 0; x < plane.width; ++x) {
        const float* light = plane.at(x, y);
        double* sum = &sums[static_cast<size_t>(x / factor) * 3];
        sum[0] += light[0];
        sum[1] += light[1];
        sum[2] += light[2];
      }
    }
    for (int rx = 0; rx < reduced.width; ++rx) {
      for (int channel = 0; channel < 3; ++channel) {
        reduced.at(rx, ry)[channel] = static_cast<float>(sums[static_cast<size_t>(rx) * 3 + channel] / blockArea);
      }
    }
  }
  return reduced;
}

// Box radii of three passes whose variances add up to sigma^2 (the two widths closest to the ideal,
// as many of each as come nearest).
std::vector<int> boxRadii(double sigma) {
  constexpr int passes = 3;
  const double ideal = std::sqrt(12.0 * sigma * sigma / passes + 1.0);
  int lower = static_cast<int>(std::floor(ideal));
  if (lower % 2 == 0) {
    --lower;
  }
  const int upper = lower + 2;
  const double lowerPasses =
      (12.0 * sigma * sigma - passes * lower * lower - 4.0 * passes * lower - 3.0 * passes) / (-4.0 * lower - 4.0);
  const int lowerCount = std::clamp(static_cast<int>(std::lround(lowerPasses)), 0, passes);
  std::vector<int> radii;
  for (int pass = 0; pass < passes; ++pass) {
    radii.push_back(((pass < lowerCount ? lower : upper) - 1) / 2);
  }
  return radii;
}

// One box pass along a line of count values, stride floats apart (three channels side by side),
// through scratch; beyond the ends is no light. Running sums in double keep a long line's error small.
void boxLine(float* line, int count, size_t stride, int radius, std::vector<float>& scratch) {
  if (radius <= 0) {
    return;
  }
  scratch.resize(static_cast<size_t>(count) * 3);
  for (int channel = 0; channel < 3; ++channel) {
    double sum = 0.0;
    for (int i = 0; i < std::min(radius, count); ++i) {
      sum += line[static_cast<size_t>(i) * stride + channel];
    }
    const double width = 2.0 * radius + 1.0;
    for (int i = 0; i < count; ++i) {
      if (i + radius < count) {
        sum += line[static_cast<size_t>(i + radius) * stride + channel];
      }
      if (i - radius - 1 >= 0) {
        sum -= line[static_cast<size_t>(i - radius - 1) * stride + channel];
      }
      scratch[static_cast<size_t>(i) * 3 + channel] = static_cast<float>(std::max(sum, 0.0) / width);
    }
  }
  for (int i = 0; i < count; ++i) {
    for (int channel = 0; channel < 3; ++channel) {
      line[static_cast<size_t>(i) * stride + channel] = scratch[static_cast<size_t>(i) * 3 + channel];
    }
  }
}

void gaussianBlur(LightPlane& plane, double sigma, unsigned threads) {
  for (int radius : boxRadii(sigma)) {
    forRowBands(plane.height, threads, [&](int first, int end) {
      std::vector<float> scratch;
      for (int y = first; y < end; ++y) {
        boxLine(plane.at(0, y), plane.width, 3, radius, scratch);
      }
    });
    forRowBands(plane.width, threads, [&](int first, int end) {
      std::vector<float> scratch;
      for (int x = first; x < end; ++x) {
        boxLine(plane.at(x, 0), plane.height, static_cast<size_t>(plane.width) * 3, radius, scratch);
      }
    });
  }
}

// Where a full-resolution pixel's centre falls between two pixels of a plane reduced by factor.
struct Tap {
  int first = 0;
  int second = 0;
  float weight = 0.0f;  // of second
};

std::vector<Tap> taps(int fullCount, int reducedCount, int factor) {
  std::vector<Tap> result(static_cast<size_t>(fullCount));
  for (int i = 0; i < fullCount; ++i) {
    const float position = (static_cast<float>(i) + 0.5f) / static_cast<float>(factor) - 0.5f;
    const float floor = std::floor(position);
    const int first = static_cast<int>(floor);
    result[i] = Tap{std::clamp(first, 0, reducedCount - 1), std::clamp(first + 1, 0, reducedCount - 1),
                    position - floor};
  }
  return result;
}

// One spread of the glow: its blurred light at reduced size, read back bilinearly.
struct Spread {
  LightPlane plane;
  int factor = 1;
  float weight = 0.0f;
  std::vector<Tap> columns;
  std::vector<Tap> rows;
};

Spread makeSpread(const LightPlane& light, double sigma, float weight, unsigned threads) {
  // Reduce while the spread stays at least two reduced pixels wide; at most 16 times.
  int factor = 1;
  while (factor < 16 && sigma / (factor * 2) >= 2.0) {
    factor *= 2;
  }
  Spread spread{reducedPlane(light, factor), factor, weight, {}, {}};
  gaussianBlur(spread.plane, sigma / factor, threads);
  spread.columns = taps(light.width, spread.plane.width, factor);
  spread.rows = taps(light.height, spread.plane.height, factor);
  return spread;
}

template <typename Sample>
void addSpreads(HostWorld& frame, const std::vector<Spread>& spreads, float amount, unsigned threads) {
  forRowBands(frame.world.height, threads, [&](int firstRow, int endRow) {
    // Each spread's row at this height, interpolated between its two reduced rows once per row.
    std::vector<std::vector<float>> lines(spreads.size());
    for (int y = firstRow; y < endRow; ++y) {
      for (size_t index = 0; index < spreads.size(); ++index) {
        const Spread& spread = spreads[index];
        const Tap& line = spread.rows[y];
        std::vector<float>& values = lines[index];
        values.resize(static_cast<size_t>(spread.plane.width) * 3);
        for (int x = 0; x < spread.plane.width; ++x) {
          const float* top = spread.plane.at(x, line.first);
          const float* bottom = spread.plane.at(x, line.second);
          for (int channel = 0; channel < 3; ++channel) {
            values[static_cast<size_t>(x) * 3 + channel] = (bottom[channel] - top[channel]) * line.weight + top[channel];
          }
        }
      }
      std::byte* row = rowAddress(frame, y);
      for (int x = 0; x < frame.world.width; ++x) {
        float glow[3] = {0.0f, 0.0f, 0.0f};
        for (size_t index = 0; index < spreads.size(); ++index) {
          const Tap& column = spreads[index].columns[x];
          const float* left = &lines[index][static_cast<size_t>(column.first) * 3];
          const float* right = &lines[index][static_cast<size_t>(column.second) * 3];
          for (int channel = 0; channel < 3; ++channel) {
            glow[channel] += ((right[channel] - left[channel]) * column.weight + left[channel]) * spreads[index].weight;
          }
        }
        for (int channel = 0; channel < 3; ++channel) {
          const float added = glow[channel] * amount;
          if (!(added > 0.0f)) {
            continue;
          }
          std::byte* at = sampleAddress<Sample>(row, x, channel + 1);
          writeSample<Sample>(at, brightened<Sample>(readSample<Sample>(at), added));
        }
      }
    }
  });
}

}  // namespace

void addGlow(HostWorld& frame, const FinishingValues& finishing, double layerHeight, unsigned threads) {
  const double radius = finishing[glowRadius] / 100.0 * layerHeight;
  if (!glows(finishing) || !(radius > 0.0) || frame.world.width <= 0 || frame.world.height <= 0) {
    return;
  }
  const float amount = static_cast<float>(finishing[glowAmount] / 100.0);
  const float threshold = linearFromEncoded(static_cast<float>(finishing[glowThreshold] / 100.0));
  // A wide halo reaching about the radius and a narrow spill an eighth of it, half the light each:
  // together they fall off steeply near the flames and slowly further out, as light scattered in
  // air and in a lens does.
  forSampleType(frame.bitDepth, [&]<typename Sample>() {
    const LightPlane light = glowingLight<Sample>(frame, threshold, threads);
    std::vector<Spread> spreads;
    spreads.push_back(makeSpread(light, radius / 8.0, 0.5f, threads));
    spreads.push_back(makeSpread(light, radius / 2.0, 0.5f, threads));
    addSpreads<Sample>(frame, spreads, amount, threads);
  });
}
