// The emitter key as a host applies it: on the pixels of the layer the effect reads its emitter
// from, before it renders.
#pragma once

#include <optional>

#include "finishing/finishing.h"
#include "session/host_session.h"

// The channel the effect reads from the emitter layer: that of the first layer choice of "Source"
// (its value, or its first key that takes a layer): alpha for Layer Alpha, luma for Layer Luma.
// None when "Source" never takes a layer. The same for every frame, so that every share of a
// farm's frames keys alike.
std::optional<EmitterChannel> emitterChannelOf(const HostSession& session);

// Replaces the layer the "Emitter Layer" reads (its own image, else this layer) with a keyed copy.
// Nothing when the key is off, "Source" never takes a layer or there is no such layer.
void keyEmitterLayers(HostSession& session, const FinishingValues& finishing);

// The layer's height at the session's resolution: what the glow's radius is a share of.
double finishingLayerHeight(const HostSession& session);
