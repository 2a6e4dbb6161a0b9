#include "media/frame_writer.h"

#include <optional>

#include "media/frame_output.h"
#include "media/image_files.h"
#include "session/cancellation.h"
#include "session/program_errors.h"

FrameWriter::FrameWriter(std::string pattern) : pattern_(std::move(pattern)) {}

FrameWriter::FrameWriter(std::unique_ptr<MovieFile> movie) : movie_(std::move(movie)) {}

FrameWriter::~FrameWriter() { abandon(); }

void FrameWriter::write(long frame, HostWorld image) {
  wait();
  if (finishFrame(image, finishing_, finishingFrameAt(clock_, frame, loopLength_, layerHeight_), outputAlpha_)) {
    wroteAlphaFromLight_ = true;
  }
  if (movie_) {
    pending_ = std::async(std::launch::async,
                          [movie = movie_.get(), image = std::move(image)] { movie->addFrame(image.world); });
    return;
  }
  pending_ = std::async(std::launch::async, [file = expandFramePattern(pattern_, frame), image = std::move(image)] {
    writeImageFile(file, image.world, image.bitDepth);
  });
}

void FrameWriter::wait() {
  if (pending_.valid()) {
    pending_.get();
  }
}

void FrameWriter::finish() {
  wait();
  if (movie_) {
    movie_->finish();
  }
}

std::exception_ptr FrameWriter::abandon() {
  try {
    wait();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

MovieFrames movieFramesOf(const HostSession& session) {
  return MovieFrames{scaledWidth(session), scaledHeight(session), session.bitDepth,
                     PF_RationalScale{static_cast<A_long>(session.clock.timeScale),
                                      static_cast<A_u_long>(session.clock.timeStep)}};
}

FrameWriter openFrameWriter(const std::string& output, const MovieCodecChoice& codec, const MovieFrames& frames) {
  std::optional<MovieContainer> container = movieContainerForPath(output);
  if (!container) {
    return FrameWriter(output);
  }
  if (patternNamesFrames(output)) {
    throw UsageError("a movie holds every frame in one file: leave the frame number (# or %d) out of its name");
  }
  return FrameWriter(std::make_unique<MovieFile>(output, *container, codec, frames));
}

void renderFramesInto(HostSession& session, FrameWriter& writer, const std::vector<long>& frames, RenderPath path,
                      const std::function<void()>& onFrameWritten, const LoopSettings& loop) {
  try {
    bool writing = false;
    for (long frame : frames) {
      if (stopWanted(session)) {
        throw Cancelled{cancellationSignal()};
      }
      HostWorld image = renderLoopFrame(session, frame, loop, path);
      writer.write(frame, std::move(image));
      if (writing) {
        onFrameWritten();
      }
      writing = true;
    }
    writer.wait();
    if (writing) {
      onFrameWritten();
    }
    if (stopWanted(session)) {
      throw Cancelled{cancellationSignal()};
    }
    writer.finish();
  } catch (...) {
    if (std::exception_ptr earlier = writer.abandon()) {
      throw RunFailures{{earlier, std::current_exception()}};
    }
    throw;
  }
}
