// The emitter key: levels on the value the effect reads from the emitter layer, applied by the host
// to the layer's pixels before the effect sees them, so that every host burns the same share.
#include <algorithm>
#include <cmath>

#include "finishing/finishing.h"
#include "finishing/pixel_samples.h"

float keyedEmitterValue(const FinishingValues& finishing, float value) {
  if (!(value > 0.0f)) {
    value = 0.0f;
  }
  value = std::min(value, 1.0f);
  switch (static_cast<int>(finishing[emitterKeyMode])) {
    case emitterKeyLevels: {
      const float black = static_cast<float>(finishing[emitterKeyBlackPoint] / 100.0);
      const float white = static_cast<float>(finishing[emitterKeyWhitePoint] / 100.0);
      if (!(white > black)) {
        return value > black ? 1.0f : 0.0f;
      }
      return std::clamp((value - black) / (white - black), 0.0f, 1.0f);
    }
    case emitterKeyThresholdMode: {
      const float threshold = static_cast<float>(finishing[emitterKeyThreshold] / 100.0);
      const float softness = static_cast<float>(finishing[emitterKeySoftness] / 100.0);
      if (!(softness > 0.0f)) {
        return value > threshold ? 1.0f : 0.0f;
      }
      const float step = std::clamp((value - (threshold - softness * 0.5f)) / softness, 0.0f, 1.0f);
      return step * step * (3.0f - 2.0f * step);
    }
    default:
      return value;
  }
}

void keyEmitterLayer(HostWorld& layer, const FinishingValues& finishing, EmitterChannel channel) {
  if (!keysEmitter(finishing)) {
    return;
  }
  forSampleType(layer.bitDepth, [&]<typename Sample>() {
    const float full = fullIntensity<Sample>();
    for (int y = 0; y < layer.world.height; ++y) {
      std::byte* row = rowAddress(layer, y);
      for (int x = 0; x < layer.world.width; ++x) {
        float argb[4];
        for (int at = 0; at < 4; ++at) {
          argb[at] = static_cast<float>(readSample<Sample>(sampleAddress<Sample>(row, x, at))) / full;
        }
        // A transparent pixel never emits; a NaN alpha is none.
        if (!(argb[0] > 0.0f)) {
          continue;
        }
        if (channel == EmitterChannel::alpha) {
          const float alpha = keyedEmitterValue(finishing, argb[0]);
          const float scale = alpha / argb[0];
          writeSample<Sample>(sampleAddress<Sample>(row, x, 0), sampleFromValue<Sample>(alpha));
          for (int at = 1; at < 4; ++at) {
            writeSample<Sample>(sampleAddress<Sample>(row, x, at), sampleFromValue<Sample>(argb[at] * scale));
          }
        } else {
          // The luma as the effect reads it from premultiplied colour.
          const float luma = (argb[1] * 0.2125f + argb[2] * 0.7154f) + argb[3] * 0.0721f;
          const float grey = std::min(keyedEmitterValue(finishing, luma), std::min(argb[0], 1.0f));
          for (int at = 1; at < 4; ++at) {
            writeSample<Sample>(sampleAddress<Sample>(row, x, at), sampleFromValue<Sample>(grey));
          }
        }
      }
    }
  });
}
