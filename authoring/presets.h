// Presets: a library of looks, each a settings file in one folder, named after its file and read
// with readSettingsFile. A preset holds controls (every control it does not name keeps its
// default, so apply it to a session at its defaults), a one-line "description", and for a layer
// look an "emitter" image beside it with its placement; never a layer size, frame rate or frame,
// which stay the user's.
#pragma once

#include <filesystem>
#include <string>
#include <vector>


struct PresetInfo {
  std::string name;  // the file's name without ".json": "campfire", "gas-burner-blue"
  std::string description;
  std::filesystem::path file;
};

// The environment variable that names the preset folder, overriding the program's own.
constexpr const char* presetFolderVariable = "VORTELLINE_PRESETS";

// Where the running program finds its presets: the folder the environment variable names; else,
// for an installed program, the data folder relative to the program's own folder
// (../share/vortelline/presets); else the source tree's presets/ it was built from.
std::filesystem::path presetFolder();

// The same choice for a given program file, environment value (null when unset) and source folder.
std::filesystem::path presetFolderFor(const std::filesystem::path& programFile, const char* environmentValue,
                                      const std::filesystem::path& sourceFolder);

// Every preset in the folder, by name, each read as a settings file (within its size limit) for
// its description. A file that is not a settings file is listed with a description that says so,
// rather than hidden. Throws RunError when the folder cannot be read.
std::vector<PresetInfo> listPresets(const std::filesystem::path& folder);

// The preset of that name (case-insensitive), found by file name alone: no preset is read, so its
// description is empty. Throws UsageError naming the nearest presets when there is none, RunError
// when the folder cannot be read.
PresetInfo findPreset(const std::filesystem::path& folder, const std::string& name);
