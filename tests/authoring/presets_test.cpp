// Presets are found where the program is, and every shipped one renders flames.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "authoring/presets.h"
#include "authoring/settings_file.h"
#include "finishing/finishing.h"
#include "media/image_files.h"
#include "session/program_errors.h"
#include "tests/support/program_runner.h"

namespace {

namespace fs = std::filesystem;

const fs::path shippedPresets = fs::path(VORTELLINE_SOURCE_DIR) / "presets";

TEST(Presets, FolderFollowsTheEnvironmentThenTheInstalledLayoutThenTheSourceTree) {
  const fs::path root = makeScratchFolder();
  fs::create_directories(root / "installed/bin");
  fs::create_directories(root / "installed/share/vortelline/presets");
  fs::create_directories(root / "build/cli");
  struct Case {
    fs::path program;
    const char* environment;
    fs::path expected;
  };
  const std::string chosen = (root / "chosen").string();
  const Case cases[] = {
      {root / "installed/bin/vortelline", nullptr, root / "installed/share/vortelline/presets"},
      {root / "installed/bin/vortelline", chosen.c_str(), root / "chosen"},
      {root / "build/cli/vortelline", nullptr, "/source/presets"},
      {root / "build/cli/vortelline", "", "/source/presets"},
      {fs::path(), nullptr, "/source/presets"},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(presetFolderFor(test.program, test.environment, "/source/presets"), test.expected)
        << test.program << " " << (test.environment ? test.environment : "(unset)");
  }
}

TEST(Presets, NamesComeFromFilesAndMistypedNamesGetSuggestions) {
  const fs::path folder = makeScratchFolder();
  std::ofstream(folder / "blue-flame.json") << R"({"vortelline_settings": 1, "description": "Blue", "controls": {}})";
  std::ofstream(folder / "broken.json") << "not json";
  std::ofstream(folder / "notes.txt") << "not a preset";
  // A gigabyte that starts as JSON is read no further than a settings file can be (sparse: it
  // takes no disk).
  std::ofstream(folder / "huge.json") << "{";
  fs::resize_file(folder / "huge.json", std::uintmax_t{1} << 30);
  std::vector<PresetInfo> presets = listPresets(folder);
  ASSERT_EQ(presets.size(), 3u);
  EXPECT_EQ(presets[0].name, "blue-flame");
  EXPECT_EQ(presets[0].description, "Blue");
  // The list says why a file cannot be used, as using it would.
  EXPECT_EQ(presets[1].description, "(not a settings file saved by vortelline-studio)");
  EXPECT_EQ(presets[2].description, "(larger than a settings file can be (16 MB))");
  for (const std::string name : {"broken", "huge"}) {
    try {
      readSettingsFile((folder / (name + ".json")).string());
      ADD_FAILURE() << name;
    } catch (const RunError& error) {
      const std::string listed = presets[name == "broken" ? 1 : 2].description;
      EXPECT_NE(std::string(error.what()).find(listed.substr(1, listed.size() - 2)), std::string::npos)
          << error.what();
    }
  }
  EXPECT_EQ(findPreset(folder, "Blue-Flame").file, folder / "blue-flame.json");
  try {
    findPreset(folder, "blue-flam");
    ADD_FAILURE();
  } catch (const UsageError& error) {
    EXPECT_NE(std::string(error.what()).find("did you mean \"blue-flame\""), std::string::npos) << error.what();
  }
  EXPECT_THROW(listPresets(folder / "missing"), RunError);
}

// The user's own looks are where the studio's Save Look puts them, listed after the library's and
// found by name when the library has none of that name.
TEST(Presets, TheUsersOwnLooksAreFoundBesideTheLibrary) {
  EXPECT_EQ(userLookFolderFor("/data", "/home/me"), fs::path("/data/vortelline/looks"));
  EXPECT_EQ(userLookFolderFor("", "/home/me"), fs::path("/home/me/.local/share/vortelline/looks"));
  EXPECT_EQ(userLookFolderFor(nullptr, "/home/me"), fs::path("/home/me/.local/share/vortelline/looks"));

  const fs::path library = makeScratchFolder();
  const fs::path users = makeScratchFolder();
  std::ofstream(library / "blue-flame.json") << R"({"vortelline_settings": 1, "description": "Blue", "controls": {}})";
  std::ofstream(users / "my-title.json") << R"({"vortelline_settings": 1, "description": "Mine", "controls": {}})";
  std::ofstream(users / "blue-flame.json") << R"({"vortelline_settings": 1, "controls": {}})";
  const std::vector<PresetInfo> looks = listLooks(library, users);
  ASSERT_EQ(looks.size(), 3u);
  EXPECT_FALSE(looks[0].usersOwn);
  EXPECT_TRUE(looks[1].usersOwn && looks[2].usersOwn);
  EXPECT_EQ(looks[2].name, "my-title");
  EXPECT_EQ(looks[2].description, "Mine");
  EXPECT_EQ(listLooks(library, users / "missing").size(), 1u);

  struct Case {
    std::string name;
    fs::path found;
    bool shadows;
  };
  for (const Case& test : {Case{"My-Title", users / "my-title.json", false},
                           Case{"blue-flame", library / "blue-flame.json", true}}) {
    std::optional<PresetInfo> shadowed;
    EXPECT_EQ(findLook(library, users, test.name, shadowed).file, test.found) << test.name;
    EXPECT_EQ(shadowed.has_value(), test.shadows) << test.name;
  }
  std::optional<PresetInfo> shadowed;
  try {
    findLook(library, users, "my-titel", shadowed);
    ADD_FAILURE();
  } catch (const UsageError& error) {
    EXPECT_NE(std::string(error.what()).find("did you mean \"my-title\""), std::string::npos) << error.what();
  }
}

// The share of pixels that show any flame.
double litShare(const RgbaImage& image) {
  size_t lit = 0;
  for (size_t pixel = 0; pixel * 4 < image.rgba.size(); ++pixel) {
    const float* rgba = &image.rgba[pixel * 4];
    lit += (rgba[0] + rgba[1] + rgba[2]) * rgba[3] > 0.1f ? 1 : 0;
  }
  return double(lit) / double(image.rgba.size() / 4);
}

TEST(Presets, EveryShippedPresetRendersFlamesAndSetOverridesIt) {
  const std::string scratch = makeScratchFolder();
  std::vector<PresetInfo> presets = listPresets(shippedPresets);
  ASSERT_GE(presets.size(), 14u);
  for (const PresetInfo& preset : presets) {
    EXPECT_GE(preset.description.size(), 10u) << preset.name;
    EXPECT_LE(preset.description.size(), 80u) << preset.name << ": keep it to one short line";
    const std::string out = scratch + "/" + preset.name + ".png";
    ProgramRun run = runProgram({"render", "--quiet", "--preset", preset.name, "--size", "96x54", "--frame", "12",
                                 "--set", "Quality=Draft (64)", "--alpha", "effect", "-o", out},
                                scratch);
    ASSERT_EQ(run.exitCode, 0) << preset.name << ": " << run.err;
    EXPECT_EQ(run.err, "") << preset.name;
    EXPECT_GT(litShare(readImageFile(out)), 0.01) << preset.name << " renders an empty frame";
  }
  ProgramRun overridden = runProgram({"render", "--quiet", "--preset", presets.front().name, "--size", "96x54",
                                      "--set", "Density=0", "--set", "Source=Original Volume", "-o",
                                      scratch + "/overridden.png"},
                                     scratch);
  ASSERT_EQ(overridden.exitCode, 0) << overridden.err;
  EXPECT_EQ(litShare(readImageFile(scratch + "/overridden.png")), 0.0);
}

// The looks that flicker do as fire does: their light swings by 10-25% within a second (the
// largest swing of the flicker's gain in each second of half a minute, median over the seconds).
TEST(Presets, FlickeringLooksSwingAsFireDoes) {
  int flickering = 0;
  for (const PresetInfo& preset : listPresets(shippedPresets)) {
    const FinishingValues finishing = readSettingsFile(preset.file.string()).scene.finishing;
    if (!flickers(finishing)) {
      continue;
    }
    ++flickering;
    std::vector<double> swings;
    for (int second = 0; second < 30; ++second) {
      double low = 1e9, high = 0.0, sum = 0.0;
      for (int step = 0; step < 48; ++step) {
        const double gain = flickerGain(finishing, second + step / 48.0, 0.0);
        low = std::min(low, gain);
        high = std::max(high, gain);
        sum += gain;
      }
      swings.push_back((high - low) / (sum / 48.0));
    }
    std::nth_element(swings.begin(), swings.begin() + 15, swings.end());
    EXPECT_GE(swings[15], 0.10) << preset.name << " flickers too little to read as fire";
    EXPECT_LE(swings[15], 0.25) << preset.name << " flickers more than fire does";
  }
  EXPECT_GE(flickering, 8) << "the fires of the library flicker";
}

}  // namespace
