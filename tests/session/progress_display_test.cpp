// The progress bar's estimate of the time left.
#include <gtest/gtest.h>

#include "session/progress_display.h"

namespace {

TEST(ProgressDisplay, TimeLeftComesFromTheFinishedFramesAndCountsDown) {
  using std::chrono::seconds;
  ProgressDisplay progress;
  progress.totalFrames = 5;
  EXPECT_FALSE(secondsLeft(progress, progress.start + seconds(4)).has_value());

  // Two frames in 10 s: 5 s each, three to go.
  progress.finishedFrames = 2;
  progress.lastFinished = progress.start + seconds(10);
  struct Case {
    int secondsIntoFrame;
    double left;
  };
  for (const Case& test : {Case{0, 15.0}, Case{1, 14.0}, Case{9, 6.0}, Case{40, 0.0}}) {
    EXPECT_EQ(secondsLeft(progress, progress.lastFinished + seconds(test.secondsIntoFrame)), test.left)
        << test.secondsIntoFrame;
  }
  // A loop's cross-faded frames render twice: 15 s for three renders, then five renders to go.
  progress.frameRenders = {1, 2, 1, 2, 2};
  progress.lastFinished = progress.start + seconds(15);
  EXPECT_EQ(secondsLeft(progress, progress.lastFinished), 25.0);
}

}  // namespace
