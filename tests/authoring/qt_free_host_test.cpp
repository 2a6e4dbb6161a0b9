// A host built on the Qt-free rooms alone, as the hosts that live inside other programs are: it
// links no Qt, renders the frames the command line renders, and the effect finds no drawing suites.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "authoring/render_job.h"
#include "media/image_files.h"
#include "session/host_session.h"
#include "session/program_errors.h"
#include "tests/support/elf_needed.h"
#include "tests/support/program_runner.h"

namespace {

std::string fileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(QtFreeHost, LinksNoQt) {
  for (const std::string& library : neededLibraries("/proc/self/exe")) {
    EXPECT_EQ(library.find("Qt"), std::string::npos) << library;
  }
}

TEST(QtFreeHost, RendersTheFramesOfTheCommandLine) {
  const std::string folder = makeScratchFolder();
  const std::vector<std::string> settings{"Quality=Draft (64)", "Density=0.8@0,0.3@5"};
  std::vector<std::string> arguments{"render", "-q", "--size", "64x36", "--frames", "0-5", "--alpha", "effect",
                                     "-o", folder + "/cli_#.png"};
  for (const std::string& setting : settings) {
    arguments.insert(arguments.end(), {"--set", setting});
  }
  const ProgramRun run = runProgram(arguments, folder);
  ASSERT_EQ(run.exitCode, 0) << run.err;

  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  SessionScope scope{*session};
  session->layerWidth = 64;
  session->layerHeight = 36;
  setLastFrame(*session, 5);
  for (const std::string& setting : settings) {
    setParamTrack(*session, parseAssignment(session->params, setting));
  }
  placeLayers(*session, nullptr, nullptr);
  for (long frame : {0L, 5L}) {
    const HostWorld image = renderFrame(*session, frame, RenderPath::smart);
    const std::string path = folder + "/core_" + std::to_string(frame) + ".png";
    writeImageFile(path, image.world, 8);
    EXPECT_EQ(fileBytes(path), fileBytes(folder + "/cli_" + std::to_string(frame) + ".png")) << frame;
  }
  scope.end();
}

// Without the drawing suites the effect cannot draw its banner and says so; the session goes on.
TEST(QtFreeHost, TheBannerFailsWithoutDrawingSuites) {
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  SessionScope scope{*session};
  try {
    sendCustomControlDraw(*session, nullptr, PF_Rect{0, 0, 240, 60}, 0);
    ADD_FAILURE() << "the banner was drawn without drawing suites";
  } catch (const RunError& failure) {
    EXPECT_EQ(std::string(failure.what()).rfind("the effect failed to draw its custom control", 0), 0u)
        << failure.what();
  }
  EXPECT_FALSE(aboutText(*session).empty());
  scope.end();
}

// A host with a main window but no Qt: the module gives its About information as text and brings
// no toolkit into the process.
TEST(QtFreeHost, TheAboutCommandLoadsNoQt) {
  int window = 0;
  setHostMainWindow(&window);
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  SessionScope scope{*session};
  EXPECT_EQ(aboutText(*session).rfind("Vortelline\nmake by Ternwick\n", 0), 0u);
  scope.end();
  setHostMainWindow(nullptr);
  EXPECT_EQ(dlopen("libQt6Core.so.6", RTLD_NOW | RTLD_NOLOAD), nullptr);
}

}  // namespace
