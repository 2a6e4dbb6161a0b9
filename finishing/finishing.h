// Finishing: what every host does to the effect's frames after it renders them (flicker, glow, then
// the output alpha) and to the emitter layer before the effect reads it (the emitter key). Frames
// in, frames out, at 8, 16 and 32 bits, in the host's premultiplied ARGB worlds; the same bits in
// every host and at any thread count. The effect's own frame is untouched when every control is at
// its default.
#pragma once

#include "finishing/finishing_controls.h"
#include "finishing/light_alpha.h"
#include "session/host_pixels.h"
#include "session/host_session.h"

// Where a frame lies, for the controls that depend on it.
struct FinishingFrame {
  double seconds = 0.0;      // the frame's time: frame / fps
  double loopSeconds = 0.0;  // the length of a seamless loop the frame belongs to; 0: none
  // The layer's height in the frame's pixels (its full height / downsample): what the glow's radius
  // is relative to, so that a look glows alike at any size and resolution.
  double layerHeight = 0.0;
};

// Frame n of a host's clock (at n x timeStep / timeScale seconds), in a loop of loopLength frames
// (0: none).
FinishingFrame finishingFrameAt(const FrameClock& clock, long frame, long loopLength, double layerHeight);

// Flicker and glow on the effect's frame, then the output alpha, in place. Where finishing added
// light beyond the effect's own alpha, the alpha holds it in every mode: premultiplied colour is
// never above alpha (at 32 bits only light beyond full intensity is). Returns true when the alpha
// came from the light. Throws std::bad_alloc.
bool finishFrame(HostWorld& frame, const FinishingValues& finishing, const FinishingFrame& at, OutputAlpha mode);

// The glow alone: the light above the threshold spread by a wide and a narrow blur and added, in
// linear light (the frame's values read as sRGB-encoded, as displays show them). Colour only;
// finishFrame sees to the alpha. On up to `threads` threads (0: one per core), with the same bits
// at any count. Throws std::bad_alloc.
void addGlow(HostWorld& frame, const FinishingValues& finishing, double layerHeight, unsigned threads = 0);

// The flicker's factor on the light at a time, from 1 - amount to 1 + amount (amount as a fraction):
// smooth, a pure function of the time (and of the loop's length, over which it repeats exactly).
double flickerGain(const FinishingValues& finishing, double seconds, double loopSeconds);

// The flicker alone: the light scaled by the gain at the frame's time, faint tips more than the
// core as Flicker/Tips says. Colour only.
void applyFlicker(HostWorld& frame, const FinishingValues& finishing, const FinishingFrame& at);

// Which of the emitter layer's values the effect reads: its alpha (Layer Alpha) or the luma of its
// premultiplied colour (Layer Luma).
enum class EmitterChannel { alpha, luma };

// The value the key makes of an emitter value in [0, 1].
float keyedEmitterValue(const FinishingValues& finishing, float value);

// The emitter key on the emitter layer's pixels, in place, before they are handed to the effect.
// Alpha: the alpha is keyed and the colour scaled with it. Luma: the colour becomes a grey of the
// keyed luma (at most the alpha), the alpha stays. Nothing when the key is off.
void keyEmitterLayer(HostWorld& layer, const FinishingValues& finishing, EmitterChannel channel);
