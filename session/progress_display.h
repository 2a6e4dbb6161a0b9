// A one-line progress bar on stderr: frames done, elapsed time and an estimate of the rest.
// Drawn only when stderr is a terminal, so logs and pipes stay clean.
#pragma once

#include <chrono>
#include <optional>
#include <vector>

struct ProgressDisplay {
  bool enabled = false;
  int totalFrames = 0;
  int finishedFrames = 0;
  // How many renders each frame takes, in order (a seamless loop's cross-faded frames take two);
  // empty: one each. The estimate counts renders, not frames.
  std::vector<int> frameRenders;
  double frameFraction = 0.0;  // of the frame being rendered, when the effect reports it
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point lastFinished;  // when the last finished frame ended
  std::chrono::steady_clock::time_point lastDrawn;
};

ProgressDisplay startProgress(int totalFrames, bool quiet, std::vector<int> frameRenders = {});

// Redraws at most a few times a second unless force is set.
void drawProgress(ProgressDisplay& progress, bool force);

void finishFrame(ProgressDisplay& progress);

// The time the frames not yet finished will take at the mean time of a render of the finished
// ones, less the time already spent on the current frame (never below 0); none before the first
// frame ends.
std::optional<double> secondsLeft(const ProgressDisplay& progress, std::chrono::steady_clock::time_point now);

// Ends the bar's line so that later messages start on a new one.
void endProgress(ProgressDisplay& progress);
