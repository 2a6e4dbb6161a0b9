// The program's commands: render a frame sequence, list the parameters, show About.
#pragma once

#include <iosfwd>
#include <string>

#include "authoring/render_options.h"
#include "session/host_pixels.h"

// Renders every frame of the options into files. Throws the program errors of program_errors.h.
void runRender(const RenderOptions& options);

// The layer's own pixels (transparent without an image) and, given one, the Emitter Layer's, at
// the session's layer size, resolution and depth. Throws UsageError when the effect has no
// "Emitter Layer".
void placeLayers(HostSession& session, const RgbaImage* input, const RgbaImage* emitter);

// The parameter table, read from what the module declared.
void printParams(const std::string& modulePath, std::ostream& out);

void printAbout(const std::string& modulePath, std::ostream& out);

