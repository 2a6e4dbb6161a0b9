#include "hostlib/frame_output.h"

#include <string>

std::string expandFramePattern(const std::string& pattern, long frame) {
  std::string name;
  size_t i = 0;
  while (i < pattern.size()) {
    if (pattern[i] != '#') {
      name += pattern[i++];
      continue;
    }
    size_t run = 0;
    while (i < pattern.size() && pattern[i] == '#') {
      ++run;
      ++i;
    }
    std::string digits = std::to_string(frame < 0 ? -frame : frame);
    if (digits.size() < run) {
      digits.insert(0, run - digits.size(), '0');
    }
    name += (frame < 0 ? "-" : "") + digits;
  }
  return name;
}

bool patternNamesFrames(const std::string& pattern) { return pattern.find('#') != std::string::npos; }
