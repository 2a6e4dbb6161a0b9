// The flicker: the light scaled by a smooth random curve of time. The curve is gradient noise (a
// random slope at every whole cell, blended by a quintic so that it is smooth to its second
// derivative) at the speed's rate and at two and four times it, for the quick puffs over the slow
// swell. A cell's slope comes from a hash of its number alone, so a frame's gain depends on its
// time only: chunks of a farm render, loops and every host agree.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "finishing/finishing.h"
#include "finishing/mix_bits.h"
#include "finishing/pixel_samples.h"

namespace {

uint32_t hashCell(uint64_t cell, uint32_t octave) {
  uint32_t h = static_cast<uint32_t>(cell) ^ (static_cast<uint32_t>(cell >> 32) * 0x9E3779B9u) ^ (octave * 0x85EBCA6Bu);
  return mixBits(h);
}

// A cell's slope, from -1 to 1.
double slope(int64_t cell, int64_t period, uint32_t octave) {
  if (period > 0) {
    cell %= period;
    if (cell < 0) {
      cell += period;
    }
  }
  return hashCell(static_cast<uint64_t>(cell), octave) / 2147483647.5 - 1.0;
}

// Gradient noise at position x (in cells), repeating every period cells when period > 0: from -0.5
// to 0.5, 0 at every whole cell.
double gradientNoise(double x, int64_t period, uint32_t octave) {
  const double cell = std::floor(x);
  const double t = x - cell;
  const int64_t index = static_cast<int64_t>(cell);
  const double left = slope(index, period, octave) * t;
  const double right = slope(index + 1, period, octave) * (t - 1.0);
  const double blend = t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
  return (right - left) * blend + left;
}

// Cells a second per Hz of Speed: the curve's main swells then come about Speed times a second,
// with smaller ripples between (over two minutes at 24 fps, 2.1 peaks a second at 1 Hz, 2.9 at 2 Hz,
// 6.3 at 6 Hz, all ripples counted).
constexpr double cellsPerPuff = 1.5;

}  // namespace

double flickerGain(const FinishingValues& finishing, double seconds, double loopSeconds) {
  const double amount = finishing[flickerAmount] / 100.0;
  const double speed = finishing[flickerSpeed];
  if (!(amount > 0.0) || !(speed > 0.0) || !std::isfinite(seconds)) {
    return 1.0;
  }
  // Over a loop the cells are fitted to its length, so that its last frame runs into its first.
  int64_t period = 0;
  double cells = seconds * speed * cellsPerPuff;
  if (loopSeconds > 0.0) {
    period = std::max<int64_t>(1, std::llround(loopSeconds * speed * cellsPerPuff));
    const double intoLoop = std::fmod(seconds, loopSeconds);
    cells = (intoLoop < 0.0 ? intoLoop + loopSeconds : intoLoop) / loopSeconds * static_cast<double>(period);
  }
  constexpr double octaveWeights[] = {1.0, 0.4, 0.15};
  double sum = 0.0;
  for (uint32_t octave = 0; octave < 3; ++octave) {
    const double scale = static_cast<double>(int64_t{1} << octave);
    // Detail faster than 6 cells a second fades out by 12 (the main swell stays): at video frame
    // rates it would only jitter from frame to frame. By cells a second, not by frame rate, so
    // every rate agrees.
    const double cellRate = speed * cellsPerPuff * scale;
    const double fade = octave == 0 ? 1.0 : std::clamp((12.0 - cellRate) / 6.0, 0.0, 1.0);
    if (fade > 0.0) {
      sum += gradientNoise(cells * scale, period * static_cast<int64_t>(scale), octave) * octaveWeights[octave] * fade;
    }
  }
  // The sum mostly stays within +-0.4; a soft limit takes it to +-1 without a kink, so that Amount
  // is the light's largest swing either way.
  const double swing = sum * 3.0;
  return 1.0 + amount * swing / std::sqrt(1.0 + swing * swing);
}

void applyFlicker(HostWorld& frame, const FinishingValues& finishing, const FinishingFrame& at) {
  const float change = static_cast<float>(flickerGain(finishing, at.seconds, at.loopSeconds) - 1.0);
  if (change == 0.0f) {
    return;
  }
  const float tips = static_cast<float>(finishing[flickerTips] / 100.0);
  forSampleType(frame.bitDepth, [&]<typename Sample>() {
    const float full = fullIntensity<Sample>();
    for (int y = 0; y < frame.world.height; ++y) {
      std::byte* row = rowAddress(frame, y);
      for (int x = 0; x < frame.world.width; ++x) {
        float colour[3];
        float brightest = 0.0f;
        for (int channel = 0; channel < 3; ++channel) {
          colour[channel] = static_cast<float>(readSample<Sample>(sampleAddress<Sample>(row, x, channel + 1))) / full;
          brightest = std::max(brightest, colour[channel]);
        }
        // Faint light (the flames' tips and edges) swings by up to 1 + Tips times the core's.
        const float faintness = 1.0f - std::min(brightest, 1.0f);
        const float gain = 1.0f + change * (1.0f + tips * faintness);
        for (int channel = 0; channel < 3; ++channel) {
          writeSample<Sample>(sampleAddress<Sample>(row, x, channel + 1), sampleFromValue<Sample>(colour[channel] * gain));
        }
      }
    }
  });
}
