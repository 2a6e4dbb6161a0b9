// Signals that stop a render: the first asks, the second ends the program at once.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "hostlib/cancellation.h"
#include "tests/support/program_runner.h"

namespace {

TEST(CancellationDeathTest, ASecondSignalEndsTheProgramAndRemovesOnlyTheFileInProgress) {
  std::string scratch = makeScratchFolder();
  struct Case {
    bool inProgress;
    bool removed;
  };
  for (const Case& test : {Case{true, true}, Case{false, false}}) {
    std::string temporary = scratch + "/.frame.png.partial-Ab12Cd";
    std::ofstream(temporary) << "half a frame";
    EXPECT_EXIT(
        {
          installCancellationHandlers();
          setTemporaryFileInProgress(temporary.c_str());
          if (!test.inProgress) {
            setTemporaryFileInProgress(nullptr);
          }
          std::raise(SIGINT);
          if (cancellationSignal() != SIGINT) {
            std::_Exit(3);
          }
          std::raise(SIGINT);
          std::_Exit(4);
        },
        testing::KilledBySignal(SIGINT), "");
    EXPECT_EQ(!std::filesystem::exists(temporary), test.removed) << test.inProgress;
  }
  std::filesystem::remove_all(scratch);
}

}  // namespace
