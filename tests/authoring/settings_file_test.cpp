// Settings files keep every value and key to the bit and refuse what is not theirs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "authoring/settings_file.h"
#include "session/program_errors.h"
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
  applyAssignmentTexts(*saved, assignments, "test");
  setParamValue(*saved, 11, 0, 0.1 + 0.2);  // Density
  SettingsScene scene;
  scene.width = 64;
  scene.height = 36;
  scene.clock = saved->clock;
  scene.frame = 9;
  scene.lastFrame = 99;
  scene.loopLength = 100;
  scene.emitterPath = "/tmp/emitter.png";
  scene.emitterText = "FLAMES";
  scene.emitterTextStyle = EmitterTextStyle{"DejaVu Serif", false, 40, 0.1 + 0.2, -0.25, TextAlignment::right};
  setFinishingValue(scene.finishing, glowAmount, 12.5 + 0.1 + 0.2);
  setFinishingValue(scene.finishing, flickerSpeed, 7);
  setFinishingValue(scene.finishing, emitterKeyMode, emitterKeyLevels);
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
  EXPECT_EQ(file.scene.lastFrame, 99);
  EXPECT_EQ(file.scene.loopLength, 100);
  EXPECT_EQ(file.scene.emitterTextStyle, scene.emitterTextStyle);
  EXPECT_EQ(file.scene.finishing, scene.finishing);

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

TEST(SettingsFile, RefusesWhatIsNotSettingsNamingTheFileAndTheField) {
  std::string folder = makeScratchFolder();
  struct Case {
    std::string content;
    std::string message;
  };
  const std::string head = R"({"vortelline_settings": 1, )";
  const Case cases[] = {
      {"not json", "is not a settings file"},
      {std::string(3, '\0'), "is not a settings file"},
      // Nothing after a NUL is passed over; a number beyond any value names its field.
      {std::string(R"({"vortelline_settings": 1, "controls": {}})") + '\0' + "junk", "byte 42 is a NUL"},
      {R"({"vortelline_settings": 1, "controls": {"Density": 1e999}})", "\"Density\" has a number too large"},
      {R"({"controls": {}})", "is not a settings file"},
      {R"({"vortelline_settings": 2})", "another version"},
      {R"({"vortelline_settings": "1"})", "another version"},
      // Layer sizes, frames and key frames are whole numbers in range, never truncated or wrapped.
      {head + R"("layer": {"width": 0, "height": 10}})", "layer width must be a whole number from 1 to 16384, got 0"},
      {head + R"("layer": {"width": 1e19, "height": 18}})", "layer width must be a whole number"},
      {head + R"("layer": {"width": 32.7, "height": 18}})", "layer width must be a whole number"},
      {head + R"("layer": {"width": 32, "height": 16385}})", "layer height must be"},
      {head + R"("layer": {"width": "wide", "height": 10}})", "layer width must be"},
      {head + R"("layer": {"width": 32}})", "layer height must be"},
      {head + R"("layer": [32, 18]})", "layer must be"},
      {head + R"("fps": "-3"})", "fps"},
      {head + R"("fps": 24})", "fps must be a text"},
      {head + R"("frame": -1})", "frame must be a whole number from 0"},
      {head + R"("frame": 1e308})", "frame must be a whole number"},
      {head + R"("frame": 1.5})", "frame must be a whole number"},
      {head + R"("frame": "3"})", "frame must be a whole number"},
      {head + R"("frame": 2147483647})", "frame must be a whole number from 0 to 999999999, got 2147483647"},
      {head + R"("fps": "30000/1001", "frame": 2145338})", "beyond the host's time range at 30000/1001 fps"},
      {head + R"("emitter": 5})", "emitter must be a text"},
      {head + R"("emitter_text": [1]})", "emitter_text must be a text"},
      {head + R"("emitter_placement": 5})", "emitter_placement must be"},
      {head + R"("emitter_placement": {"fit": 3}})", "emitter_placement's fit is none, fit, fill or centre"},
      {head + R"("emitter_placement": {"scale": "big"}})", "emitter_placement's scale must be a number"},
      {head + R"("emitter_placement": {"offset": [0, "up"]}})", "emitter_placement's offset must be a number"},
      {head + R"("frame": 5, "last_frame": 4})", "last_frame (from the frame on show to the host's time range) must be a whole number from 5"},
      {head + R"("last_frame": 1e9})", "last_frame"},
      {head + R"("loop": 1})", "loop is 0 (none) or at least 2 frames"},
      {head + R"("loop": -2})", "loop must be a whole number"},
      {head + R"("emitter_text_style": "bold"})", "emitter_text_style must be"},
      {head + R"("emitter_text_style": {"bold": 1}})", "emitter_text_style's bold must be true or false"},
      {head + R"("emitter_text_style": {"size": -3}})", "emitter_text_style's size must be a whole number"},
      {head + R"("emitter_text_style": {"anchor": [0.5]}})", "emitter_text_style's anchor is [X, Y]"},
      {head + R"("emitter_text_style": {"anchor": [0.5, 1e300]}})", "emitter_text_style's anchor must be from -1 to 2"},
      {head + R"("emitter_text_style": {"alignment": "middle"}})", "alignment is left, centre or right"},
      {head + R"("controls": [1]})", "controls must be"},
      {head + R"("controls": {"Glow/Amout": 5}})", "unknown control \"Glow/Amout\"; did you mean \"Glow/Amount\""},
      {head + R"("controls": {"Flicker/Speed": {"keys": [[0, 1], [5, 2]]}}})", "takes one value, not keyframes"},
      {head + R"("controls": {"Emitter Key/Key": "Sometimes"}})", "is not a choice of Emitter Key/Key"},
      {head + R"("controls": {"Density": [1]}})", "\"Density\": a value must be"},
      {head + R"("controls": {"Density": null}})", "\"Density\": a value must be"},
      {head + R"("controls": {"Density": {"keys": []}}})", "needs \"keys\""},
      {head + R"("controls": {"Density": {"keys": [[0, 1, 2]]}}})", "not [FRAME, VALUE]"},
      {head + R"("controls": {"Density": {"keys": [[0.5, 1]]}}})", "\"Density\": key frame must be a whole number"},
      {head + R"("controls": {"Density": {"keys": [[18446744073709551615, 1]]}}})", "key frame must be"},
      {head + R"("controls": {"Density": {"keys": [[1000000000, 1]]}}})", "key frame must be"},
      {head + R"("controls": {"Density": {"keys": [[0, [1]]]}}})", "a value must be"},
  };
  for (const Case& test : cases) {
    std::string path = folder + "/bad.json";
    writeText(path, test.content);
    try {
      readSettingsFile(path);
      ADD_FAILURE() << test.content;
    } catch (const RunError& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.rfind(path, 0), 0u) << message;
      EXPECT_NE(message.find(test.message), std::string::npos) << message;
      EXPECT_EQ(message.find("--"), std::string::npos) << "blames an option: " << message;
    }
  }
  EXPECT_THROW(readSettingsFile(folder + "/missing.json"), RunError);

  // Larger than any settings file, though valid: refused before it is parsed.
  writeText(folder + "/large.json", head + "\"frame\": 0" + std::string(17 << 20, ' ') + "}");
  try {
    readSettingsFile(folder + "/large.json");
    ADD_FAILURE();
  } catch (const RunError& error) {
    EXPECT_NE(std::string(error.what()).find("larger than a settings file"), std::string::npos) << error.what();
  }
  EXPECT_THROW(readSettingsFile("/dev/zero"), RunError);

  // Names and values are checked against the effect's controls when applied; a text is one
  // value, never keys or another control.
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  const Case applied[] = {
      {R"("controls": {"Densty": 1}})", "unknown control \"Densty\""},
      {R"("controls": {"Density": "2@10,0@0"}})", "\"2@10,0@0\" is not a number (Density)"},
      {R"("controls": {"Density": {"keys": [[0, "1@5"]]}}})", "\"1@5\" is not a number (Density)"},
      {R"("controls": {"Density=2,Quality": 1}})", "unknown control"},
      {R"("controls": {"Quality": "Draft (64)@3"}})", "is not a choice of Quality"},
      {R"("controls": {"Density": {"keys": [[4, 1], [0, 2], [4, 3]]}}})", "two keyframes at frame 4"},
  };
  for (const Case& test : applied) {
    writeText(folder + "/names.json", head + test.content);
    try {
      applyAssignments(*session, readSettingsFile(folder + "/names.json").assignments, "names.json");
      ADD_FAILURE() << test.content;
    } catch (const RunError& error) {
      EXPECT_EQ(std::string(error.what()).rfind("names.json: ", 0), 0u) << error.what();
      EXPECT_NE(std::string(error.what()).find(test.message), std::string::npos) << error.what();
    }
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
  applyAssignmentTexts(*session, {"Quality=Draft (64)", "Density=0.2@0,1.7@10", "Inner Color/Hue=200"}, "test");
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

// The layer size a file gives is the file's, in every message about it.
TEST(SettingsFile, AnInputOfAnotherSizeBlamesTheFile) {
  std::string folder = makeScratchFolder();
  writeText(folder + "/look.json", R"({"vortelline_settings": 1, "layer": {"width": 40, "height": 24}})");
  ProgramRun drawn = runProgram({"render", "--quiet", "--size", "32x18", "-o", folder + "/input.png"}, folder);
  ASSERT_EQ(drawn.exitCode, 0) << drawn.err;
  struct Case {
    std::vector<std::string> options;
    std::string named;
  };
  const Case cases[] = {
      {{"--settings", folder + "/look.json"}, "the layer size of " + folder + "/look.json is 40x24"},
      {{"--settings", folder + "/look.json", "--size", "40x24"}, "--size is 40x24"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments{"render", "--quiet", "--input", folder + "/input.png", "-o", folder + "/out.png"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    ProgramRun run = runProgram(arguments, folder);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
  }
}

}  // namespace
