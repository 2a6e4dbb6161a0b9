#include "authoring/presets.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <system_error>

#include "authoring/settings_file.h"
#include "session/parameter_settings.h"
#include "session/program_errors.h"

namespace {

constexpr const char* presetExtension = ".json";

// Read as any settings file is, within its size limit, so that a huge or endless file in the
// folder costs no more than a settings file can. One that cannot be used says why, as using it
// would, without its path.
std::string presetDescription(const std::filesystem::path& file) {
  try {
    return readSettingsFile(file.string()).description;
  } catch (const RunError& error) {
    std::string reason = error.what();
    const std::string path = file.string();
    if (reason.rfind(path + ": ", 0) == 0) {
      reason.erase(0, path.size() + 2);
    } else if (reason.rfind(path + " is ", 0) == 0) {
      reason.erase(0, path.size() + 4);
    }
    return "(" + reason + ")";
  }
}

// The presets' names and files, without reading any of them.
std::vector<PresetInfo> presetFiles(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::directory_iterator entries(folder, error);
  if (error) {
    throw RunError("cannot read the preset folder " + folder.string() + ": " + error.message() +
                   " (set " + presetFolderVariable + " to the folder that holds the presets)");
  }
  std::vector<PresetInfo> presets;
  for (const std::filesystem::directory_entry& entry : entries) {
    const std::filesystem::path& file = entry.path();
    if (file.extension() == presetExtension && entry.is_regular_file(error)) {
      presets.push_back(PresetInfo{file.stem().string(), "", file});
    }
  }
  std::sort(presets.begin(), presets.end(),
            [](const PresetInfo& a, const PresetInfo& b) { return a.name < b.name; });
  return presets;
}

// The user's own looks, without reading any; none when their folder does not exist or cannot be
// read, which the library's presets do not depend on.
std::vector<PresetInfo> userLooks(const std::filesystem::path& folder) {
  std::error_code missing;
  if (folder.empty() || !std::filesystem::is_directory(folder, missing)) {
    return {};
  }
  std::vector<PresetInfo> looks;
  try {
    looks = presetFiles(folder);
  } catch (const RunError&) {
    return {};
  }
  for (PresetInfo& look : looks) {
    look.usersOwn = true;
  }
  return looks;
}

}  // namespace

std::filesystem::path presetFolderFor(const std::filesystem::path& programFile, const char* environmentValue,
                                      const std::filesystem::path& sourceFolder) {
  if (environmentValue != nullptr && *environmentValue != '\0') {
    return environmentValue;
  }
  std::error_code error;
  const std::filesystem::path installed =
      (programFile.parent_path() / VORTELLINE_INSTALLED_PRESETS_FROM_PROGRAM).lexically_normal();
  if (!programFile.empty() && std::filesystem::is_directory(installed, error)) {
    return installed;
  }
  return sourceFolder;
}

std::filesystem::path presetFolder() {
  std::error_code error;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return presetFolderFor(error ? std::filesystem::path() : program, std::getenv(presetFolderVariable),
                         VORTELLINE_SOURCE_PRESETS_DIR);
}

std::vector<PresetInfo> listPresets(const std::filesystem::path& folder) {
  std::vector<PresetInfo> presets = presetFiles(folder);
  for (PresetInfo& preset : presets) {
    preset.description = presetDescription(preset.file);
  }
  return presets;
}

PresetInfo findPreset(const std::filesystem::path& folder, const std::string& name) {
  std::optional<PresetInfo> shadowed;
  return findLook(folder, std::filesystem::path(), name, shadowed);
}

std::filesystem::path userLookFolderFor(const char* xdgDataHome, const char* home) {
  const std::filesystem::path data = xdgDataHome != nullptr && *xdgDataHome != '\0'
                                         ? std::filesystem::path(xdgDataHome)
                                         : std::filesystem::path(home != nullptr ? home : "") / ".local/share";
  return data / "vortelline/looks";
}

std::filesystem::path userLookFolderPath() { return userLookFolderFor(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")); }

std::vector<PresetInfo> listLooks(const std::filesystem::path& library, const std::filesystem::path& users) {
  std::vector<PresetInfo> looks = listPresets(library);
  for (PresetInfo& look : userLooks(users)) {
    look.description = presetDescription(look.file);
    looks.push_back(look);
  }
  return looks;
}

PresetInfo findLook(const std::filesystem::path& library, const std::filesystem::path& users, const std::string& name,
                    std::optional<PresetInfo>& shadowed) {
  std::vector<PresetInfo> looks = presetFiles(library);
  const std::vector<PresetInfo> own = userLooks(users);
  looks.insert(looks.end(), own.begin(), own.end());
  std::vector<std::string> names;
  std::optional<PresetInfo> found;
  for (const PresetInfo& look : looks) {
    if (lowercase(look.name) != lowercase(name)) {
      names.push_back(look.name);
    } else if (!found) {
      found = look;
    } else {
      shadowed = look;
    }
  }
  if (!found) {
    throw UsageError("unknown preset " + quoted(name) + didYouMean(name, names, "; `vortelline presets` lists them"));
  }
  return *found;
}
