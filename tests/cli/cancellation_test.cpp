// Signals that stop a render: the first asks, the second ends the program at once.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "session/cancellation.h"
#include "tests/support/program_runner.h"

namespace {

TEST(CancellationDeathTest, ASecondSignalEndsTheProgramAndRemovesOnlyTheFileInProgress) {
  std::string scratch = makeScratchFolder();
  struct Case {
    int signal;
    bool inProgress;
    bool removed;
  };
  for (const Case& test : {Case{SIGINT, true, true}, Case{SIGINT, false, false}, Case{SIGHUP, true, true},
                           Case{SIGTERM, true, true}}) {
    std::string temporary = scratch + "/.frame.png.partial-Ab12Cd";
    std::ofstream(temporary) << "half a frame";
    EXPECT_EXIT(
        {
          installCancellationHandlers();
          setTemporaryFileInProgress(temporary.c_str());
          if (!test.inProgress) {
            setTemporaryFileInProgress(nullptr);
          }
          // A closed pipe must not end the program in the middle of a file.
          std::raise(SIGPIPE);
          std::raise(test.signal);
          if (cancellationSignal() != test.signal) {
            std::_Exit(3);
          }
          std::raise(test.signal);
          std::_Exit(4);
        },
        testing::KilledBySignal(test.signal), "");
    EXPECT_EQ(!std::filesystem::exists(temporary), test.removed) << test.signal << " " << test.inProgress;
  }
  std::filesystem::remove_all(scratch);
}

// nohup ignores SIGHUP, and a non-interactive shell SIGINT for its background jobs: such a signal
// must neither stop the render nor end the program.
TEST(CancellationDeathTest, ASignalIgnoredAtStartStaysIgnored) {
  for (int ignored : {SIGHUP, SIGINT, SIGTERM}) {
    EXPECT_EXIT(
        {
          std::signal(ignored, SIG_IGN);
          installCancellationHandlers();
          std::raise(ignored);
          std::raise(ignored);
          std::_Exit(cancellationSignal() == 0 ? 0 : 3);
        },
        testing::ExitedWithCode(0), "")
        << ignored;
  }
}

}  // namespace
