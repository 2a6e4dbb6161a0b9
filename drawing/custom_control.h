// The effect's custom control drawn over QPainter, for the hosts that have Qt.
#pragma once

#include <string>

#include <QPainter>

#include "hostlib/host_session.h"

// Sends the effect the draw event of its custom control at a frame's time; the control's rectangle
// is controlFrame in the painter's coordinates. What the effect draws through the drawing suites
// lands on the painter, which is left in the state it had. Returns the event's out flags.
// Throws EffectFailure or RunError.
PF_EventOutFlags drawCustomControl(HostSession& session, QPainter& painter, const PF_Rect& controlFrame, long frame);

// Draws the effect's custom control at size ("WIDTHxHEIGHT"; empty: the size the control declares)
// and writes what the effect drew into a PNG file, transparent where it drew nothing.
void writeCustomControlImage(const std::string& modulePath, const std::string& size, const std::string& outputPath);
