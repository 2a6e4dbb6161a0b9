// What users of other command-line renderers type: --version, %04d, frame lists and steps,
// mistyped commands and options, seamless loops, the library commands.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "session/program_version.h"
#include "tests/support/program_runner.h"

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> tinyFrame{"--size", "32x18", "--set", "Quality=Draft (64)", "--quiet"};

std::vector<std::string> render(std::vector<std::string> extra) {
  std::vector<std::string> arguments{"render"};
  arguments.insert(arguments.end(), tinyFrame.begin(), tinyFrame.end());
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return arguments;
}

// The program with these arguments and nothing added (runProgram adds --module to each command).
ProgramRun runAsTyped(std::vector<std::string> arguments, const std::string& scratch) {
  arguments.insert(arguments.begin(), VORTELLINE_PROGRAM_PATH);
  return runCommand(arguments, scratch);
}

std::string fileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::set<std::string> filesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

TEST(CommandLineHabits, VersionIsTheProjectVersion) {
  const std::string scratch = makeScratchFolder();
  ProgramRun run = runAsTyped({"--version"}, scratch);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, std::string("vortelline ") + programVersion + "\n");
}

TEST(CommandLineHabits, MistypedCommandsAndOptionsGetSuggestions) {
  const std::string scratch = makeScratchFolder();
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const Case cases[] = {
      {{"rendr"}, "unknown command \"rendr\"; did you mean \"render\"?"},
      {{"--verison"}, "unknown option \"--verison\"; did you mean \"--version\"?"},
      {render({"--sizee", "64x36", "-o", "x.png"}), "unknown option \"--sizee\" for render; did you mean \"--size\""},
      // A value that starts with a dash is a value, not the mistyped option.
      {render({"--emitter-offset", "-20,0", "--emitter-fitt=fit", "-o", "x.png"}),
       "unknown option \"--emitter-fitt\" for render; did you mean \"--emitter-fit\""},
      {{"controls", "--markdwn"}, "unknown option \"--markdwn\" for controls; did you mean \"--markdown\"?"},
      {{"presets", "--longg"}, "unknown option \"--longg\" for presets; `vortelline presets --help` lists them"},
      // Choices name the nearest; an empty value is empty, for every command.
      {render({"--alpha", "lite", "-o", "x.png"}), "--alpha takes auto, light or effect, got \"lite\"; did you mean \"light\"?"},
      {render({"--processing", "gpus", "-o", "x.png"}), "--processing takes auto, gpu or cpu, got \"gpus\"; did you mean \"gpu\""},
      {render({"--path", "", "-o", "x.png"}), "--path is empty"},
      {{"banner", "--size", "", "-o", "b.png"}, "--size is empty"},
      {{"banner", "--module", "", "-o", "b.png"}, "--module is empty"},
      {{"params", "--module="}, "--module is empty"},
      // A long value is shown by its start and its length.
      {render({"--alpha", std::string(100000, 'x'), "-o", "x.png"}), "got \"" + std::string(60, 'x') + "...\" (100000 bytes)"},
      {render({"--size", std::string(100000, 'x'), "-o", "x.png"}), "got \"" + std::string(60, 'x') + "...\" (100000 bytes)"},
  };
  for (const Case& test : cases) {
    ProgramRun run = runAsTyped(test.arguments, scratch);
    EXPECT_EQ(run.exitCode, 2) << test.arguments.front();
    EXPECT_NE(run.err.find(test.message), std::string::npos) << run.err.substr(0, 300);
    EXPECT_LT(run.err.size(), 400u);
  }
}

TEST(CommandLineHabits, FrameListsStepsAndPrintfPatterns) {
  const std::string scratch = makeScratchFolder();
  struct Case {
    std::vector<std::string> options;
    std::set<std::string> files;
  };
  const Case cases[] = {
      {{"--frames", "0-6:3,5", "-o", "f_%04d.png"}, {"f_0000.png", "f_0003.png", "f_0005.png", "f_0006.png"}},
      {{"--frames", "8,2-3", "-o", "g_%d.png"}, {"g_2.png", "g_3.png", "g_8.png"}},
      {{"--frames", "1-7:3", "--task", "1/2", "-o", "t_##.png"}, {"t_07.png"}},  // shares of the list
      {{"--loop", "5", "--loop-fade", "2", "-o", "l_#.png"}, {"l_0.png", "l_1.png", "l_2.png", "l_3.png", "l_4.png"}},
  };
  for (const Case& test : cases) {
    const std::string folder = makeScratchFolder();
    std::vector<std::string> options = test.options;
    options.back() = folder + "/" + options.back();
    ProgramRun run = runProgram(render(options), scratch);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(filesIn(folder), test.files) << test.options.back();
  }
  const Case refused[] = {
      {{"--frames", "0-3", "-o", "still.png"}, {}},
      {{"--loop", "5", "--frames", "3-5", "-o", "l_#.png"}, {}},
      {{"--loop", "5", "--loop-fade", "5", "-o", "l_#.png"}, {}},
      {{"--loop-fade", "2", "-o", "l_#.png"}, {}},
  };
  for (const Case& test : refused) {
    ProgramRun run = runProgram(render(test.options), scratch);
    EXPECT_EQ(run.exitCode, 2) << test.options[1] << " " << run.err;
  }
}

TEST(CommandLineHabits, ValuesTheEffectClampsAreNoted) {
  const std::string scratch = makeScratchFolder();
  ProgramRun run = runProgram(render({"--set", "Density=3", "--set", "Inner Color/Hue=10@0,800@5", "--set",
                                      "Step Size=0.5", "-o", scratch + "/x.png"}),
                              scratch);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("\"Density\" takes 0 to 2; the effect clamps 3 to 2"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\"Inner Color/Hue\" takes -360 to 720; the effect clamps 800 to 720"), std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("Step Size"), std::string::npos) << run.err;
  // Beyond single precision a value is still finite, and clamped as any other; only a value that
  // is not a number or infinite is refused.
  struct Case {
    std::string value;
    int exitCode;
    std::string said;
  };
  for (const Case& test : {Case{"1e300", 0, "the effect clamps 1e+300 to 2"},
                           Case{"-1e300", 0, "the effect clamps -1e+300 to 0"},
                           Case{"inf", 1, "Non-finite parameter: Density"}}) {
    ProgramRun clamped = runProgram(render({"--set", "Density=" + test.value, "-o", scratch + "/y.png"}), scratch);
    EXPECT_EQ(clamped.exitCode, test.exitCode) << test.value << ": " << clamped.err;
    EXPECT_NE(clamped.err.find(test.said), std::string::npos) << test.value << ": " << clamped.err;
    if (test.exitCode == 0) {
      const std::string limit = test.value[0] == '-' ? "0" : "2";
      ProgramRun atLimit = runProgram(render({"--set", "Density=" + limit, "-o", scratch + "/z.png"}), scratch);
      ASSERT_EQ(atLimit.exitCode, 0) << atLimit.err;
      EXPECT_TRUE(fileText(scratch + "/y.png") == fileText(scratch + "/z.png")) << test.value;
    }
  }
}

TEST(CommandLineHabits, LibraryCommandsListPresetsAndDescribeControls) {
  const std::string scratch = makeScratchFolder();
  ProgramRun presets = runAsTyped({"presets"}, scratch);
  ASSERT_EQ(presets.exitCode, 0) << presets.err;
  EXPECT_NE(presets.out.find("\ncandle "), std::string::npos) << presets.out;
  ProgramRun controls = runAsTyped({"controls"}, scratch);
  ASSERT_EQ(controls.exitCode, 0) << controls.err;
  EXPECT_NE(controls.out.find("\nStep Size\n    Not a quality setting"), std::string::npos) << controls.out;
  ProgramRun mistyped = runProgram(render({"--preset", "candel", "-o", "x.png"}), scratch);
  EXPECT_EQ(mistyped.exitCode, 2);
  EXPECT_NE(mistyped.err.find("did you mean \"candle\"?"), std::string::npos) << mistyped.err;

  // A look saved in the studio is listed as the user's, and --preset renders it as --settings does.
  const std::string looks = scratch + "/data/vortelline/looks";
  std::filesystem::create_directories(looks);
  std::ofstream(looks + "/blue-title.json")
      << R"({"vortelline_settings": 1, "description": "My blue", "controls": {"Density": 1.4, "Tint/Blue": 3}})";
  setenv("XDG_DATA_HOME", (scratch + "/data").c_str(), 1);
  ProgramRun withOwn = runAsTyped({"presets"}, scratch);
  ProgramRun preset = runProgram(render({"--preset", "Blue-Title", "-o", scratch + "/preset.png"}), scratch);
  ProgramRun settings =
      runProgram(render({"--settings", looks + "/blue-title.json", "--frame", "0", "-o", scratch + "/settings.png"}),
                 scratch);
  unsetenv("XDG_DATA_HOME");
  EXPECT_NE(withOwn.out.find("\nblue-title "), std::string::npos) << withOwn.out;
  EXPECT_NE(withOwn.out.find("(your look) My blue\n"), std::string::npos) << withOwn.out;
  EXPECT_LT(withOwn.out.find("\ncandle "), withOwn.out.find("\nblue-title ")) << withOwn.out;
  ASSERT_EQ(preset.exitCode, 0) << preset.err;
  ASSERT_EQ(settings.exitCode, 0) << settings.err;
  EXPECT_TRUE(fileText(scratch + "/preset.png") == fileText(scratch + "/settings.png"));
}

}  // namespace
