// The program's three commands: render a frame sequence, list the parameters, show About.
#pragma once

#include <iosfwd>
#include <string>

#include "hostlib/render_options.h"

// Renders every frame of the options into files. Throws the program errors of program_errors.h.
void runRender(const RenderOptions& options);

// The parameter table, read from what the module declared.
void printParams(const std::string& modulePath, std::ostream& out);

void printAbout(const std::string& modulePath, std::ostream& out);
