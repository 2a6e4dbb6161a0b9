#include "finishing/finishing.h"

FinishingFrame finishingFrameAt(const FrameClock& clock, long frame, long loopLength, double layerHeight) {
  const double secondsPerFrame = static_cast<double>(clock.timeStep) / static_cast<double>(clock.timeScale);
  return FinishingFrame{static_cast<double>(frame) * secondsPerFrame, static_cast<double>(loopLength) * secondsPerFrame,
                        layerHeight};
}

bool finishFrame(HostWorld& frame, const FinishingValues& finishing, const FinishingFrame& at, OutputAlpha mode) {
  bool lightChanged = false;
  if (flickers(finishing)) {
    applyFlicker(frame, finishing, at);
    lightChanged = true;
  }
  if (glows(finishing)) {
    addGlow(frame, finishing, at.layerHeight);
    lightChanged = true;
  }
  // Finishing leaves the alpha to this step, so an opaque frame is the effect's own opaque frame.
  if (applyOutputAlpha(frame, mode)) {
    return true;
  }
  if (lightChanged) {
    holdLightInAlpha(frame);
  }
  return false;
}
