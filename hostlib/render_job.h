// The program's commands: render a frame sequence, list the parameters, show About.
#pragma once

#include <future>
#include <iosfwd>
#include <string>

#include "hostlib/host_pixels.h"
#include "hostlib/render_options.h"
#include "hostlib/seamless_loop.h"

// Renders every frame of the options into files. Throws the program errors of program_errors.h.
void runRender(const RenderOptions& options);

// The layer's own pixels (transparent without an image) and, given one, the Emitter Layer's, at
// the session's layer size, resolution and depth. Throws UsageError when the effect has no
// "Emitter Layer".
void placeLayers(HostSession& session, const RgbaImage* input, const RgbaImage* emitter);

// Writes rendered frames into their files on a thread of its own, so that the next frame renders
// while the last one is encoded; one write at a time, in order. Destroying the writer waits for
// the write under way, so no file is left half written when a render fails or is cancelled.
class FrameFileWriter {
 public:
  // Waits for the previous write and rethrows its failure, then starts writing image to file
  // (creating its folder).
  void write(std::string file, HostWorld image);
  // Waits for the last write; rethrows its failure.
  void finish();

 private:
  std::future<void> pending_;
};

// Renders a frame (of the loop, if one is given) and hands it to the writer for the file the
// pattern names, at the session's depth. Throws the program errors (a failed write surfaces at the next frame or at finish);
// Cancelled, before it starts or from the effect, when a signal or the session's stopRequested
// asks to stop.
void renderFrameToFile(HostSession& session, FrameFileWriter& writer, const std::string& pattern,
                       long frame, RenderPath path, const LoopSettings& loop = {});

// The parameter table, read from what the module declared.
void printParams(const std::string& modulePath, std::ostream& out);

void printAbout(const std::string& modulePath, std::ostream& out);

