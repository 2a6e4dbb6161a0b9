// The effect's custom control drawn over QPainter, for the hosts that have Qt.
#pragma once

#include <QPainter>

#include "session/host_session.h"

// Sends the effect the draw event of its custom control at a frame's time; the control's rectangle
// is controlFrame in the painter's coordinates. What the effect draws through the drawing suites
// lands on the painter, which is left in the state it had. Returns the event's out flags.
// Throws EffectFailure or RunError.
PF_EventOutFlags drawCustomControl(HostSession& session, QPainter& painter, const PF_Rect& controlFrame, long frame);
