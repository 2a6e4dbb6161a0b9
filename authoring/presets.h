// Presets: a library of looks, each a settings file in one folder, named after its file and read
// with readSettingsFile. A preset holds controls (every control it does not name keeps its
// default, so apply it to a session at its defaults), a one-line "description", and for a layer
// look an "emitter" image beside it with its placement; never a layer size, frame rate or frame,
// which stay the user's.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>


struct PresetInfo {
  std::string name;  // the file's name without ".json": "campfire", "gas-burner-blue"
  std::string description;
  std::filesystem::path file;
  bool usersOwn = false;  // a look the user saved (the studio's Save Look), not the library's
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

// Where the user's own looks are, as the studio's Save Look keeps them: vortelline/looks in the
// user's data folder, $XDG_DATA_HOME when set and not empty, else ~/.local/share (what Qt's
// writable generic data location is).
std::filesystem::path userLookFolderPath();
std::filesystem::path userLookFolderFor(const char* xdgDataHome, const char* home);

// Every preset in the folder, by name, each read as a settings file (within its size limit) for
// its description. A file that cannot be used is listed with a description that says why (as
// using it does), rather than hidden. Throws RunError when the folder cannot be read.
std::vector<PresetInfo> listPresets(const std::filesystem::path& folder);

// The preset of that name (case-insensitive), found by file name alone: no preset is read, so its
// description is empty. Throws UsageError naming the nearest presets when there is none, RunError
// when the folder cannot be read.
PresetInfo findPreset(const std::filesystem::path& folder, const std::string& name);

// The library's presets, then the user's own looks (none when their folder does not exist), each
// by name and marked as the user's.
std::vector<PresetInfo> listLooks(const std::filesystem::path& library, const std::filesystem::path& users);

// The look of that name: the library's preset, else the user's own look; a user's look of the
// same name as a preset is in `shadowed`. Throws UsageError naming the nearest of both when there
// is none, RunError when the library cannot be read.
PresetInfo findLook(const std::filesystem::path& library, const std::filesystem::path& users, const std::string& name,
                    std::optional<PresetInfo>& shadowed);
