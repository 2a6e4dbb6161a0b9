// Seamless loops: the last frames of an N-frame loop cross-fade into the frames one loop earlier
// (frame i with frame i - N), so that frame N-1 is frame -1 and runs into frame 0 as any frame
// runs into the next. The effect's flames never repeat by themselves; this is how a host makes a
// clip that loops. Cost: each cross-faded frame renders twice.
#pragma once

#include "session/host_session.h"

struct LoopSettings {
  long length = 0;       // N frames; 0: no loop
  long fadeFrames = 0;   // K, from 1 to N - 1
};

// One second of frames, at most half the loop (at least one frame).
long defaultLoopFade(long length, const FrameClock& clock);

// How a frame of the loop is made: (1 - weight) x the frame + weight x earlierFrame. Frames before
// the fade have weight 0; the fade's K frames rise by 1/K each to 1 at frame N - 1.
struct LoopMix {
  long earlierFrame = 0;
  float earlierWeight = 0.0f;
};
LoopMix loopMix(const LoopSettings& loop, long frame);

// Mixes two worlds of one size and depth by weight (0: a, 1: b, exactly) so that the mix keeps the
// contrast of two unrelated frames: each channel's mean moves linearly from a's to b's, and the
// pixels' deviations from it are mixed as (1 - weight) x a's + weight x b's, divided by
// sqrt((1 - weight)^2 + weight^2). In float; 8 and 16 bits round to the nearest step and stay
// premultiplied. Throws std::bad_alloc.
HostWorld crossFadeWorlds(const HostWorld& a, const HostWorld& b, float weight);

// renderFrame for a frame of the loop: the frame alone, or mixed with the frame one loop earlier.
// Throws as renderFrame does.
HostWorld renderLoopFrame(HostSession& session, long frame, const LoopSettings& loop, RenderPath path);
