// Seamless loops: the last frames of an N-frame loop dissolve into the frames one loop earlier
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

// How a frame of the loop is made: the frame dissolved into earlierFrame by weight. Frames before
// the fade have weight 0; the fade's K frames rise by 1/K each to 1 at frame N - 1.
struct LoopMix {
  long earlierFrame = 0;
  float earlierWeight = 0.0f;
};
LoopMix loopMix(const LoopSettings& loop, long frame);

// Dissolves world a into world b (one size and depth) by weight (0: a, 1: b, exactly): pixels
// turn from a's to b's in a fixed pattern of soft patches, each within a small part of the fade,
// so that nearly every pixel is wholly one world's and the mix shows no colour, detail or
// transparency that the two lack (a plain (1 - w) a + w b shows both at once, half transparent).
// The pattern is relative to the world's size, the same at every depth; a pixel between the two
// is their premultiplied mix, rounded to the nearest step in 8 and 16 bits. Throws std::bad_alloc.
HostWorld crossFadeWorlds(const HostWorld& a, const HostWorld& b, float weight);

// renderFrame for a frame of the loop: the frame alone, or mixed with the frame one loop earlier.
// Throws as renderFrame does.
HostWorld renderLoopFrame(HostSession& session, long frame, const LoopSettings& loop, RenderPath path);
