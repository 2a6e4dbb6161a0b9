#include "cli/library_commands.h"

#include <algorithm>
#include <ostream>
#include <string>

#include "authoring/control_guide.h"
#include "authoring/presets.h"

namespace {

// Words of text on lines of at most width characters after the indent.
void printWrapped(std::ostream& out, const std::string& text, const std::string& indent, size_t width) {
  std::string line;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    std::string word = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? text.size() : end + 1;
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out << indent << line << '\n';
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) {
    out << indent << line << '\n';
  }
}

}  // namespace

void printPresets(std::ostream& out) {
  std::vector<PresetInfo> presets = listLooks(presetFolder(), userLookFolderPath());
  size_t width = 0;
  for (const PresetInfo& preset : presets) {
    width = std::max(width, preset.name.size());
  }
  for (const PresetInfo& preset : presets) {
    const std::string mark = preset.usersOwn ? (preset.description.empty() ? "(your look)" : "(your look) ") : "";
    out << preset.name << std::string(width - preset.name.size() + 2, ' ') << mark << preset.description << '\n';
  }
}

void printControlGuide(std::ostream& out, bool markdown) {
  if (markdown) {
    out << controlGuideMarkdown();
    return;
  }
  for (std::span<const ControlGuide> guides : {controlGuides(), finishingGuides()}) {
    for (const ControlGuide& guide : guides) {
      out << guide.name << '\n';
      printWrapped(out, controlHelpText(guide), "    ", 96);
    }
  }
}
