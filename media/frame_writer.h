// Where a run's frames go, one image file per frame or one movie, and the thread that writes them
// while the next frame renders.
#pragma once

#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "finishing/finishing.h"
#include "media/movie_file.h"
#include "media/seamless_loop.h"
#include "session/host_session.h"

// Writes rendered frames on a thread of its own, one at a time, in order. Destroying the writer
// waits for the write under way, so no file is left half written when a render fails or is
// cancelled; an unfinished movie is removed.
class FrameWriter {
 public:
  // Each frame into its own image file: every run of # in pattern becomes the frame number.
  explicit FrameWriter(std::string pattern);
  // Every frame into one movie.
  explicit FrameWriter(std::unique_ptr<MovieFile> movie);
  ~FrameWriter();
  FrameWriter(FrameWriter&&) = default;

  // Whether the frames' alpha is kept; without it they are written over black.
  bool keepsAlpha() const { return !movie_ || movie_->keepsAlpha(); }
  // The alpha the frames are written with (the light never changes, so frames over black do not).
  void setOutputAlpha(OutputAlpha mode) { outputAlpha_ = mode; }
  // The finishing each frame gets before its output alpha; none by default. Frame n is at
  // n / the clock's rate, in a loop of loopLength frames (0: none), on a layer layerHeight pixels
  // high at the frames' resolution.
  void setFinishing(const FinishingValues& finishing, const FrameClock& clock, long loopLength, double layerHeight) {
    finishing_ = finishing;
    clock_ = clock;
    loopLength_ = loopLength;
    layerHeight_ = layerHeight;
  }
  // Whether a frame written so far had its alpha from the light.
  bool wroteAlphaFromLight() const { return wroteAlphaFromLight_; }

  // Waits for the previous write and rethrows its failure, then starts writing image.
  void write(long frame, HostWorld image);
  // Waits for the last write; rethrows its failure.
  void wait();
  // Waits for the last write, then ends the movie, if any (its trailer, then its name).
  void finish();
  // After a failure elsewhere: waits for the write under way and returns its failure, if any.
  std::exception_ptr abandon();

 private:
  std::string pattern_;
  std::unique_ptr<MovieFile> movie_;
  OutputAlpha outputAlpha_ = OutputAlpha::automatic;
  FinishingValues finishing_;
  FrameClock clock_;
  long loopLength_ = 0;
  double layerHeight_ = 0.0;
  bool wroteAlphaFromLight_ = false;
  // Declared last, destroyed first: the write under way ends before the movie goes.
  std::future<void> pending_;
};

// The frames the session renders: its size at its resolution, its depth and its frame rate.
MovieFrames movieFramesOf(const HostSession& session);

// The writer for an output name: one movie for .mov, .mkv, .webm and .mp4 (opened now, so that
// what the encoder refuses is known before the first frame renders), else image files. Throws
// UsageError for a # in a movie's name, and what MovieFile throws.
FrameWriter openFrameWriter(const std::string& output, const MovieCodecChoice& codec, const MovieFrames& frames);

// Renders the frames (of the loop, if one is given) in order into the writer and finishes it,
// calling onFrameWritten on this thread for each frame once it is written (or encoded). Throws the
// program errors, Cancelled when a signal or the session's stopRequested asks to stop (a movie is
// then not finished). A write that fails while the next frame renders is not lost when that render
// fails or is cancelled too: both are thrown, in that order, as RunFailures.
void renderFramesInto(HostSession& session, FrameWriter& writer, const std::vector<long>& frames, RenderPath path,
                      const std::function<void()>& onFrameWritten, const LoopSettings& loop = {});
