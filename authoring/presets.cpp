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
// folder costs no more than a settings file can.
std::string presetDescription(const std::filesystem::path& file) {
  try {
    return readSettingsFile(file.string()).description;
  } catch (const std::exception&) {
    return "(not a settings file)";
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
  std::vector<PresetInfo> presets = presetFiles(folder);
  std::vector<std::string> names;
  for (const PresetInfo& preset : presets) {
    if (lowercase(preset.name) == lowercase(name)) {
      return preset;
    }
    names.push_back(preset.name);
  }
  throw UsageError("unknown preset \"" + name + "\"" + didYouMean(name, names, "; `vortelline presets` lists them"));
}
