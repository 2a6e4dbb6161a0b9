// The command line's values: each input line goes, by its first byte, to the parser of --size,
// --frames, --task, --fps or --set (keyframes resolved against the real effect's controls and read
// back at a few frames).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "authoring/render_options.h"
#include "authoring/settings_file.h"
#include "session/program_errors.h"

namespace {

HostSession& session() {
  static std::unique_ptr<HostSession> started = startSession(VORTELLINE_MODULE_PATH);
  return *started;
}

// Work per input stays small, so that runs go to many inputs: a frame list with six-digit numbers
// takes the paths of one with five, only with up to ten million frames to sort, and a --set text
// longer than any control's name only lengthens the edit distances of the suggestions.
bool tooCostly(int kind, const std::string& text) {
  if (kind == 1 || kind == 2) {
    int digits = 0;
    for (char character : text) {
      digits = character >= '0' && character <= '9' ? digits + 1 : 0;
      if (digits > 5) {
        return true;
      }
    }
  }
  return kind == 4 && text.size() > 96;
}

void parseLine(char option, const std::string& text) {
  const int kind = static_cast<unsigned char>(option) % 5;
  if (tooCostly(kind, text)) {
    return;
  }
  switch (kind) {
    case 0:
      parseFrameSize(text);
      break;
    case 1: {
      const std::vector<long> frames = parseFrameList(text);
      if (frames.size() > static_cast<size_t>(maxFramesPerRun) ||
          std::adjacent_find(frames.begin(), frames.end(), std::greater_equal<long>()) != frames.end()) {
        __builtin_trap();
      }
      break;
    }
    case 2: {
      const FrameTask task = parseFrameTask(text);
      const FrameRange share = taskFrames(FrameRange{0, 999999999}, task);
      if (share.first < 0 || share.last > 999999999) {
        __builtin_trap();
      }
      break;
    }
    case 3:
      parseRate(text, "--fps", "24");
      break;
    default: {
      HostSession& host = session();
      for (int position : applyAssignmentTexts(host, {text}, "--set")) {
        for (A_long frame : {-1, 0, 7, 1000000}) {
          definitionAt(host, position, frame, host.clock.timeScale);
        }
      }
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start < input.size()) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos) {
      end = input.size();
    }
    if (end > start) {
      try {
        parseLine(input[start], input.substr(start + 1, end - start - 1));
      } catch (const UsageError&) {
      }
    }
    start = end + 1;
  }
  return 0;
}
