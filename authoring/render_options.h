// The options of `vortelline render`, and the parsing of the values that need more than a number.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "authoring/emitter_placement.h"
#include "authoring/emitter_text_style.h"
#include "finishing/finishing_controls.h"
#include "finishing/light_alpha.h"
#include "media/movie_file.h"
#include "media/seamless_loop.h"
#include "session/host_session.h"
#include "session/parameter_settings.h"

// The index-th (from 0) of count contiguous, nearly equal shares of a frame range, as a job-array
// task renders it.
struct FrameTask {
  long index = 0;
  long count = 1;
};

struct RenderOptions {
  std::string modulePath;
  std::string outputPattern;
  int width = 0;  // 0: the --input image's size, else 1920 x 1080
  int height = 0;
  std::string sizeOrigin = "--size";  // what gave width and height, as messages name it
  std::vector<long> frames{0};  // ascending, no repeats
  FrameTask task;
  bool skipExisting = false;  // frames whose output file exists are not rendered again
  LoopSettings loop;
  FrameClock clock;
  std::string settingsPath;
  std::string presetName;
  std::vector<WrittenAssignment> savedSettings;  // from a settings file or preset, applied first
  std::vector<std::string> settings;       // "Name=VALUE" from --set
  std::optional<std::string> processing;
  int bitDepth = 0;  // 0: the output format's own
  int downsample = 1;
  PF_RationalScale pixelAspect{1, 1};
  RenderPath path = RenderPath::smart;
  std::string inputPath;
  std::string emitterPath;
  EmitterPlacement emitterPlacement;
  // A text emitter from a settings file, drawn by drawEmitterText when emitterPath (the image the
  // studio saved of it) is missing. Only a program with Qt's fonts can draw it.
  std::string emitterText;
  EmitterTextStyle emitterTextStyle;
  // The layer size the text's style was set in (the settings file's or look's): drawn for another,
  // its pixel size is scaled, and the saved image, of that size, is not used.
  int emitterTextLayerWidth = 0;
  int emitterTextLayerHeight = 0;
  std::function<RgbaImage(const std::string& text, int width, int height, const EmitterTextStyle& style)>
      drawEmitterText;
  bool quiet = false;
  MovieCodecChoice movieCodec;  // for movie files only
  OutputAlpha outputAlpha = OutputAlpha::automatic;
  // From a settings file or preset; --set's "Glow/...", "Flicker/..." and "Emitter Key/..." apply on top.
  FinishingValues finishing;
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
// Frames as a list of single frames and ranges with an optional step, in any order: "0-47", "12",
// "0-100:5", "0-10,20,30-40". Ascending without repeats; at most maxFramesPerRun.
std::vector<long> parseFrameList(const std::string& text);
constexpr long maxFramesPerRun = 10000000;
FrameTask parseFrameTask(const std::string& text);    // "2/4": the third of four
// A positive rate as an exact fraction: "24", "23.976" (2997/125), "30000/1001". The message of a
// refusal names the option (what) and shows examples that suit it.
PF_RationalScale parseRate(const std::string& text, const std::string& what, const std::string& examples);

// The choice that text names among an option's choices (any case), such as --path's smart and
// plain. Throws UsageError that names the choices and the nearest one.
std::string parseChoice(const std::string& option, const std::string& text, const std::vector<std::string>& choices);

// --loop N and --loop-fade K (empty: one second, at most half the loop). Throws UsageError.
LoopSettings parseLoop(const std::string& length, const std::string& fade, const FrameClock& clock);

// The frames of the task's share: the first (frames % count) shares are one frame longer than the
// rest. Empty (last < first) when there are more tasks than frames.
FrameRange taskFrames(FrameRange sequence, FrameTask task);
