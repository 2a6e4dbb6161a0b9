// Flames on black with a true alpha ("alpha from light"): the effect's own frame is opaque black
// wherever it draws from its own volume, which hides whatever lies below it in a compositor. The
// alpha becomes the brightest channel of the light and the premultiplied colour (the light) stays
// as it is, so the frame over black is unchanged and over a background B each channel gives
// light + (1 - alpha) * B: the brightest channel screens exactly, the others come out darker than a
// screen and at most alpha * B darker than adding the light. No smaller alpha can hold the light
// in straight colour (colour / alpha would pass full intensity), so none comes closer to adding it.
#pragma once

#include <optional>
#include <string>

#include "session/host_pixels.h"

// What the hosts give as their output's alpha.
enum class OutputAlpha {
  automatic,  // light where the effect's frame is opaque, else the effect's own
  light,
  effect,
};

// "auto", "light" or "effect" (any case); nothing for other text.
std::optional<OutputAlpha> parseOutputAlpha(const std::string& text);
constexpr const char* outputAlphaChoices = "auto, light or effect";

// In place, at any depth: alpha = the largest colour channel (at most full intensity, at least 0);
// colour unchanged. Host worlds are premultiplied ARGB.
void makeAlphaFromLight(HostWorld& frame);

// In place: alpha = the larger of its own and the light's (as above), so that light added beyond
// the alpha (a glow) stays premultiplied colour no larger than its alpha.
void holdLightInAlpha(HostWorld& frame);

// Every pixel's alpha at full intensity.
bool isOpaque(const HostWorld& frame);

// The mode applied to a rendered frame; true when the alpha came from the light.
bool applyOutputAlpha(HostWorld& frame, OutputAlpha mode);
