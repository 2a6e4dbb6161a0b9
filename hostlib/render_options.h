// The options of `vortelline render`, and the parsing of the values that need more than a number.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hostlib/host_session.h"

struct RenderOptions {
  std::string modulePath;
  std::string outputPattern;
  int width = 0;  // 0: the --input image's size, else 1920 x 1080
  int height = 0;
  long firstFrame = 0;
  long lastFrame = 0;
  FrameClock clock;
  std::string settingsPath;
  std::vector<std::string> savedSettings;  // "Name=VALUE" from a settings file, applied first
  std::vector<std::string> settings;       // "Name=VALUE" from --set
  std::optional<std::string> processing;
  int bitDepth = 0;  // 0: the output format's own
  int downsample = 1;
  PF_RationalScale pixelAspect{1, 1};
  RenderPath path = RenderPath::smart;
  std::string inputPath;
  std::string emitterPath;
  bool quiet = false;
};

struct FrameSize {
  int width = 0;
  int height = 0;
};

struct FrameRange {
  long first = 0;
  long last = 0;
};

// All throw UsageError.
FrameSize parseFrameSize(const std::string& text);    // "1920x1080"
FrameRange parseFrameRange(const std::string& text);  // "0-47", or one frame "12"
// A positive rate as an exact fraction: "24", "23.976" (2997/125), "30000/1001". The message of a
// refusal names the option (what) and shows examples that suit it.
PF_RationalScale parseRate(const std::string& text, const std::string& what, const std::string& examples);
