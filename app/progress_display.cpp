#include "app/progress_display.h"

#include <unistd.h>

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

}  // namespace

ProgressDisplay startProgress(int totalFrames, bool quiet) {
  ProgressDisplay progress;
  progress.enabled = !quiet && isatty(STDERR_FILENO);
  progress.totalFrames = totalFrames;
  progress.start = std::chrono::steady_clock::now();
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
  std::string estimate = done > 0.0 ? clockText(elapsed / done - elapsed) + " left" : "";
  std::fprintf(stderr, "\rframe %d/%d [%s] %3d%%  %s elapsed  %s\x1b[K", progress.finishedFrames,
               progress.totalFrames, bar.c_str(), static_cast<int>(done * 100.0), clockText(elapsed).c_str(),
               estimate.c_str());
  std::fflush(stderr);
}

void finishFrame(ProgressDisplay& progress) {
  ++progress.finishedFrames;
  progress.frameFraction = 0.0;
  drawProgress(progress, true);
}

void endProgress(ProgressDisplay& progress) {
  if (progress.enabled) {
    std::fputc('\n', stderr);
    progress.enabled = false;
  }
}
