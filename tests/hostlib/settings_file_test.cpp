// Settings files keep every value and key to the bit and refuse what is not theirs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "hostlib/program_errors.h"
#include "hostlib/settings_file.h"
#include "tests/support/program_runner.h"

namespace {

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(SettingsFile, ValuesAndKeysComeBackExactly) {
  std::unique_ptr<HostSession> saved = startSession(VORTELLINE_MODULE_PATH);
  saved->clock = FrameClock{30000, 1001};
  // 0.1 + 0.2 has no short decimal form: it must survive as the same double.
  const std::vector<std::string> assignments{"Density=1", "Quality=Draft (64)",
                                             "Smooth Sampling=off", "Source=Layer Luma",
                                             "Inner Color/Hue=10@0,370.25@12", "Noise Flow/X=0.5@7"};
  applyAssignments(*saved, assignments, "test");
  setParamValue(*saved, 11, 0, 0.1 + 0.2);  // Density
  SettingsScene scene;
  scene.width = 64;
  scene.height = 36;
  scene.clock = saved->clock;
  scene.frame = 9;
  scene.emitterPath = "/tmp/emitter.png";
  scene.emitterText = "FLAMES";
  std::string path = makeScratchFolder() + "/look.json";
  writeSettingsFile(path, *saved, scene);

  SettingsFile file = readSettingsFile(path);
  EXPECT_EQ(file.scene.width, 64);
  EXPECT_EQ(file.scene.height, 36);
  EXPECT_EQ(file.scene.clock.timeScale, 30000u);
  EXPECT_EQ(file.scene.clock.timeStep, 1001);
  EXPECT_EQ(file.scene.frame, 9);
  EXPECT_EQ(file.scene.emitterPath, "/tmp/emitter.png");
  EXPECT_EQ(file.scene.emitterText, "FLAMES");

  std::unique_ptr<HostSession> loaded = startSession(VORTELLINE_MODULE_PATH);
  loaded->clock = file.scene.clock;
  applyAssignments(*loaded, file.assignments, path);
  for (size_t position = 1; position < saved->params.size(); ++position) {
    PF_ParamType type = saved->params[position].def.param_type;
    if (type != PF_Param_FLOAT_SLIDER && type != PF_Param_POPUP && type != PF_Param_CHECKBOX) {
      continue;  // no value, or a dial that the effect redraws from its saved slider
    }
    const ParamTrack& want = saved->tracks[position];
    const ParamTrack& got = loaded->tracks[position];
    EXPECT_EQ(got.animated, want.animated) << position;
    if (want.keys.empty()) {
      // Saved as the declared value: same value, now explicit.
      ASSERT_EQ(got.keys.size(), 1u) << position;
      EXPECT_EQ(definitionAt(*loaded, position, 0, 30000).u.fs_d.value,
                definitionAt(*saved, position, 0, 30000).u.fs_d.value)
          << position;
      continue;
    }
    ASSERT_EQ(got.keys.size(), want.keys.size()) << position;
    for (size_t key = 0; key < want.keys.size(); ++key) {
      EXPECT_EQ(got.keys[key].time, want.keys[key].time) << position;
      EXPECT_EQ(got.keys[key].value, want.keys[key].value) << position;
    }
  }
}

TEST(SettingsFile, RefusesWhatIsNotSettings) {
  std::string folder = makeScratchFolder();
  struct Case {
    std::string content;
    std::string message;
  };
  const Case cases[] = {
      {"not json", "is not a settings file"},
      {R"({"controls": {}})", "is not a settings file"},
      {R"({"vortelline_settings": 2})", "another version"},
      {R"({"vortelline_settings": 1, "layer": {"width": 0, "height": 10}})", "--size"},
      {R"({"vortelline_settings": 1, "layer": {"width": "wide", "height": 10}})", "wrong kind"},
      {R"({"vortelline_settings": 1, "fps": "-3"})", "fps"},
      {R"({"vortelline_settings": 1, "frame": -1})", "negative"},
      {R"({"vortelline_settings": 1, "controls": {"Density": [1]}})", "a value must be"},
      {R"({"vortelline_settings": 1, "controls": {"Density": {"keys": []}}})", "needs \"keys\""},
      {R"({"vortelline_settings": 1, "controls": {"Density": {"keys": [[0.5, 1]]}}})", "not [FRAME, VALUE]"},
  };
  for (const Case& test : cases) {
    std::string path = folder + "/bad.json";
    writeText(path, test.content);
    try {
      readSettingsFile(path);
      ADD_FAILURE() << test.content;
    } catch (const UsageError& error) {
      EXPECT_NE(std::string(error.what()).find(test.message), std::string::npos) << error.what();
    }
  }
  EXPECT_THROW(readSettingsFile(folder + "/missing.json"), RunError);

  // Names and values are checked against the effect's controls when applied.
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  writeText(folder + "/names.json", R"({"vortelline_settings": 1, "controls": {"Densty": 1}})");
  try {
    applyAssignments(*session, readSettingsFile(folder + "/names.json").assignments, "names.json");
    ADD_FAILURE();
  } catch (const UsageError& error) {
    EXPECT_NE(std::string(error.what()).find("names.json: unknown control \"Densty\""), std::string::npos)
        << error.what();
  }
}

}  // namespace

namespace {

std::string fileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(SettingsFile, RendersWhatTheSameOptionsRender) {
  std::string folder = makeScratchFolder();
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  applyAssignments(*session, {"Quality=Draft (64)", "Density=0.2@0,1.7@10", "Inner Color/Hue=200"}, "test");
  SettingsScene scene;
  scene.width = 40;
  scene.height = 24;
  scene.frame = 4;
  writeSettingsFile(folder + "/look.json", *session, scene);

  ProgramRun fromFile =
      runProgram({"render", "--quiet", "--settings", folder + "/look.json", "-o", folder + "/file.png"}, folder);
  ProgramRun fromOptions = runProgram({"render", "--quiet", "--size", "40x24", "--frame", "4", "--set",
                                       "Quality=Draft (64)", "--set", "Density=0.2@0,1.7@10", "--set",
                                       "Inner Color/Hue=200", "-o", folder + "/options.png"},
                                      folder);
  // --set and --frame after the file override it.
  ProgramRun overridden = runProgram({"render", "--quiet", "--settings", folder + "/look.json", "--frame", "0",
                                      "--set", "Density=1.7", "-o", folder + "/overridden.png"},
                                     folder);
  ProgramRun expected = runProgram({"render", "--quiet", "--size", "40x24", "--set", "Quality=Draft (64)", "--set",
                                    "Density=1.7", "--set", "Inner Color/Hue=200", "-o", folder + "/expected.png"},
                                   folder);
  for (const ProgramRun* run : {&fromFile, &fromOptions, &overridden, &expected}) {
    ASSERT_EQ(run->exitCode, 0) << run->err;
  }
  EXPECT_EQ(fileBytes(folder + "/file.png"), fileBytes(folder + "/options.png"));
  EXPECT_EQ(fileBytes(folder + "/overridden.png"), fileBytes(folder + "/expected.png"));
  EXPECT_NE(fileBytes(folder + "/file.png"), fileBytes(folder + "/overridden.png"));
}

}  // namespace
