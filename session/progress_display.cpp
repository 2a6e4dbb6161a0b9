#include "session/progress_display.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr int barWidth = 24;

std::string clockText(double seconds) {
  long whole = static_cast<long>(seconds + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  }
  return text;
}

// The renders of the first `frames` frames.
double rendersOf(const ProgressDisplay& progress, int frames) {
  if (progress.frameRenders.empty()) {
    return frames;
  }
  double renders = 0;
  for (int frame = 0; frame < frames && frame < static_cast<int>(progress.frameRenders.size()); ++frame) {
    renders += progress.frameRenders[static_cast<size_t>(frame)];
  }
  return renders;
}

}  // namespace

ProgressDisplay startProgress(int totalFrames, bool quiet, std::vector<int> frameRenders) {
  ProgressDisplay progress;
  progress.enabled = !quiet && isatty(STDERR_FILENO);
  progress.totalFrames = totalFrames;
  progress.frameRenders = std::move(frameRenders);
  progress.start = std::chrono::steady_clock::now();
  progress.lastFinished = progress.start;
  progress.lastDrawn = progress.start;
  drawProgress(progress, true);
  return progress;
}

void drawProgress(ProgressDisplay& progress, bool force) {
  if (!progress.enabled) {
    return;
  }
  auto now = std::chrono::steady_clock::now();
  if (!force && now - progress.lastDrawn < std::chrono::milliseconds(200)) {
    return;
  }
  progress.lastDrawn = now;
  double elapsed = std::chrono::duration<double>(now - progress.start).count();
  double done = (progress.finishedFrames + progress.frameFraction) / progress.totalFrames;
  int filled = static_cast<int>(done * barWidth);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(barWidth, '-');
  std::optional<double> left = secondsLeft(progress, now);
  std::string estimate = left ? clockText(*left) + " left" : "";
  std::fprintf(stderr, "\rframe %d/%d [%s] %3d%%  %s elapsed  %s\x1b[K", progress.finishedFrames,
               progress.totalFrames, bar.c_str(), static_cast<int>(done * 100.0), clockText(elapsed).c_str(),
               estimate.c_str());
  std::fflush(stderr);
}

std::optional<double> secondsLeft(const ProgressDisplay& progress, std::chrono::steady_clock::time_point now) {
  if (progress.finishedFrames == 0) {
    return std::nullopt;
  }
  double framesTime = std::chrono::duration<double>(progress.lastFinished - progress.start).count();
  double intoFrame = std::chrono::duration<double>(now - progress.lastFinished).count();
  const double finished = rendersOf(progress, progress.finishedFrames);
  double renderTime = framesTime / finished;
  return std::max(renderTime * (rendersOf(progress, progress.totalFrames) - finished) - intoFrame, 0.0);
}

void finishFrame(ProgressDisplay& progress) {
  ++progress.finishedFrames;
  progress.lastFinished = std::chrono::steady_clock::now();
  progress.frameFraction = 0.0;
  drawProgress(progress, true);
}

void endProgress(ProgressDisplay& progress) {
  if (progress.enabled) {
    std::fputc('\n', stderr);
    progress.enabled = false;
  }
}
