#include "authoring/emitter_text_style.h"

#include <algorithm>
#include <cmath>

#include "session/host_pixels.h"

EmitterTextStyle emitterTextStyleForLayer(const EmitterTextStyle& style, int fromWidth, int fromHeight, int toWidth,
                                          int toHeight) {
  EmitterTextStyle scaled = style;
  if (style.pixelSize > 0 && fromWidth > 0 && fromHeight > 0 && (fromWidth != toWidth || fromHeight != toHeight)) {
    const double ratio = std::min(double(toWidth) / fromWidth, double(toHeight) / fromHeight);
    scaled.pixelSize = static_cast<int>(std::clamp<long>(std::lround(style.pixelSize * ratio), 1, largestLayerSide));
  }
  return scaled;
}
