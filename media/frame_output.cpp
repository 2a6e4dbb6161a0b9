#include "media/frame_output.h"

#include <cctype>
#include <string>

namespace {

// The printf conversion FFmpeg users type for a frame number at pattern[at]: "%d", "%4d" or
// "%04d" (all zero-padded to the width, as FFmpeg pads them). Its length, or 0 when there is none.
size_t frameConversionAt(const std::string& pattern, size_t at, size_t& width) {
  if (pattern[at] != '%') {
    return 0;
  }
  size_t end = at + 1;
  width = 0;
  while (end < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[end])) && end - at <= 3) {
    width = width * 10 + static_cast<size_t>(pattern[end] - '0');
    ++end;
  }
  return end < pattern.size() && pattern[end] == 'd' ? end + 1 - at : 0;
}

std::string paddedNumber(long frame, size_t width) {
  std::string digits = std::to_string(frame < 0 ? -frame : frame);
  if (digits.size() < width) {
    digits.insert(0, width - digits.size(), '0');
  }
  return (frame < 0 ? "-" : "") + digits;
}

}  // namespace

std::string expandFramePattern(const std::string& pattern, long frame) {
  std::string name;
  size_t i = 0;
  while (i < pattern.size()) {
    size_t width = 0;
    if (size_t length = frameConversionAt(pattern, i, width); length > 0) {
      name += paddedNumber(frame, width);
      i += length;
    } else if (pattern.compare(i, 2, "%%") == 0) {
      name += '%';
      i += 2;
    } else if (pattern[i] == '#') {
      size_t run = 0;
      while (i < pattern.size() && pattern[i] == '#') {
        ++run;
        ++i;
      }
      name += paddedNumber(frame, run);
    } else {
      name += pattern[i++];
    }
  }
  return name;
}

bool patternNamesFrames(const std::string& pattern) {
  for (size_t i = 0; i < pattern.size(); ++i) {
    size_t width = 0;
    if (pattern[i] == '#' || frameConversionAt(pattern, i, width) > 0) {
      return true;
    }
    if (pattern.compare(i, 2, "%%") == 0) {
      ++i;
    }
  }
  return false;
}
