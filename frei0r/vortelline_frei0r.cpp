// The effect as a frei0r plug-in: a host of the effect module like `vortelline`, loading it through
// its two entry points with the shared host core. Compiled twice: VORTELLINE_FREI0R_FILTER 0 makes
// the source (the flames alone), 1 the filter (the input frame is the effect's layer).
#include <dlfcn.h>

// The header declares the entry points without C linkage; these are the plug-in's only exports.
#pragma GCC visibility push(default)
extern "C" {
#include <frei0r.h>
}
#pragma GCC visibility pop

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "authoring/emitter_key_layers.h"
#include "authoring/render_options.h"
#include "authoring/settings_file.h"
#include "finishing/finishing.h"
#include "frei0r/control_table.h"
#include "frei0r/failure_notice.h"
#include "frei0r/plugin_params.h"
#include "session/host_session.h"
#include "session/number_text.h"
#include "session/program_errors.h"

namespace {

constexpr bool isFilter = VORTELLINE_FREI0R_FILTER != 0;
constexpr const char* pluginName = isFilter ? "vortelline" : "vortelline_src";

// Positions: the leading plug-in parameters (the filter's blend is the last of them), the effect's
// controls, the trailing plug-in parameters, then the finishing controls (added last, so that
// FFmpeg's positional fields keep their meaning).
enum HostParam { fpsParam, millisecondsParam, settingsParam, blendParam };
constexpr int firstControlParam = isFilter ? 4 : 3;
constexpr int firstTrailingParam = firstControlParam + controlCount;
enum TrailingParam { alphaParam, aspectParam, ownValuesParam };
constexpr int trailingCount = sizeof trailingPluginParams / sizeof trailingPluginParams[0];
constexpr int firstFinishingParam = firstTrailingParam + trailingCount;
constexpr int paramCount = firstFinishingParam + finishingControlCount;

// Rows: the effect's controls (controlTable), then the finishing controls.
constexpr int rowCount = controlCount + finishingControlCount;

const ControlRow& rowAt(int row) { return row < controlCount ? controlTable[row] : finishingRows()[row - controlCount]; }

// The row of a parameter, or -1 for the plug-in's own parameters.
int rowOfParam(int index) {
  if (index >= firstControlParam && index < firstTrailingParam) {
    return index - firstControlParam;
  }
  if (index >= firstFinishingParam && index < paramCount) {
    return controlCount + index - firstFinishingParam;
  }
  return -1;
}

// How the effect's output meets the filter's input frame: add (the default) puts the flames' light
// on the input, as compositors do with fire footage shot on black; over needs flames with a true
// alpha, which the output alpha's default gives them.
enum class Blend { replace, over, add, screen };
constexpr const char* blendNames[] = {"replace", "over", "add", "screen"};

constexpr int sourceRow = 3;
constexpr int originalVolumeChoice = 1;

// The plug-ins' default of a control: the effect's or the finishing table's, unless plugin_params.h
// gives one for editing.
double pluginDefault(int row) {
  if (row >= controlCount) {
    for (const PluginFinishingDefault& own : pluginFinishingDefaults) {
      if ((isFilter || !own.filterOnly) && own.control == row - controlCount) {
        return own.value;
      }
    }
    return rowAt(row).defaultValue;
  }
  for (const PluginControlDefault& own : pluginControlDefaults) {
    if ((isFilter || !own.filterOnly) && std::string(own.control) == controlTable[row].name) {
      return own.value;
    }
  }
  return controlTable[row].defaultValue;
}

// The plug-ins' finishing when neither the host nor a settings file sets any.
FinishingValues pluginFinishing() {
  FinishingValues finishing;
  for (int id = 0; id < finishingControlCount; ++id) {
    setFinishingValue(finishing, id, pluginDefault(controlCount + id));
  }
  return finishing;
}

// Host values go into messages cut short: a host may hand over megabytes.
std::string shortened(const std::string& text) {
  constexpr size_t longest = 80;
  if (text.size() <= longest) {
    return text;
  }
  return text.substr(0, longest) + "... (" + std::to_string(text.size()) + " bytes)";
}

// frei0r has no error channel: each distinct message goes to stderr once per process, cut to a
// line, and only the first few dozen: a host that sets a new bad value on every frame must not
// fill its log or the plug-in's memory.
void report(const std::string& message) {
  constexpr size_t longestMessage = 400;
  constexpr size_t mostMessages = 40;
  static std::mutex reportedLock;
  static std::set<std::string> reported;
  static bool silenced = false;
  const std::string line = message.size() <= longestMessage ? message : message.substr(0, longestMessage) + "...";
  std::lock_guard<std::mutex> guard(reportedLock);
  if (silenced || reported.count(line)) {
    return;
  }
  if (reported.size() == mostMessages) {
    silenced = true;
    std::cerr << pluginName << " (frei0r): further messages are not shown" << std::endl;
    return;
  }
  reported.insert(line);
  std::cerr << pluginName << " (frei0r): " << line << std::endl;
}

// The program the plug-in lives in, by the libraries it has loaded: each host passes the time in
// its own unit and lays out frames its own way. MLT and GStreamer programs may hold FFmpeg's
// libraries too (for decoding), so they are asked first.
enum class HostProgram { mlt, gstreamer, ffmpeg, other };

HostProgram hostProgram() {
  static const HostProgram program = [] {
    if (dlsym(RTLD_DEFAULT, "mlt_factory_init")) {
      return HostProgram::mlt;
    }
    if (dlsym(RTLD_DEFAULT, "gst_init")) {
      return HostProgram::gstreamer;
    }
    if (dlsym(RTLD_DEFAULT, "avfilter_version")) {
      return HostProgram::ffmpeg;
    }
    return HostProgram::other;
  }();
  return program;
}

// FFmpeg sets parameters by position from text, and turns an empty field of a number into 0 (a
// slider's minimum) and of a boolean into an error. Declared as text there, every parameter reads
// an empty field as its default.
bool paramsAsText() { return hostProgram() == HostProgram::ffmpeg; }

// Without a frame rate the frame is found from the time on a clock of 120000 ticks a second: every
// frame of 23.976, 24, 25, 29.97, 30, 50, 59.94 and 60 fps falls on a whole tick, and the effect
// sees the time as ticks / 120000, the same number as frame / fps. MLT's times (frame / fps in
// double) are within far less than half a tick of it.
constexpr FrameClock tickClock{120000, 1};

std::string modulePath() {
  return pluginModulePath(reinterpret_cast<const void*>(&f0r_get_plugin_info), VORTELLINE_FREI0R_TO_MODULE_DIR,
                          VORTELLINE_BUILT_MODULE_PATH);
}

// The loaded module with its declared controls, shared by every instance in the process. Instances
// render from copies of the session; the effect is safe for concurrent renders.
struct LoadedEffect {
  std::unique_ptr<HostSession> session;
  std::vector<int> positions;  // controlTable row -> parameter position
  ~LoadedEffect() {
    if (!session) {
      return;
    }
    try {
      endSession(*session);
    } catch (const std::exception& error) {
      report(error.what());
    }
  }
};

std::mutex effectLock;
std::shared_ptr<const LoadedEffect> sharedEffect;

std::shared_ptr<const LoadedEffect> loadEffect() {
  std::lock_guard<std::mutex> guard(effectLock);
  if (sharedEffect) {
    return sharedEffect;
  }
  const std::string path = modulePath();
  try {
    auto effect = std::make_shared<LoadedEffect>();
    effect->session = startSession(path);
    effect->positions = findControls(*effect->session);
    sharedEffect = effect;
  } catch (const std::exception& error) {
    report("cannot use the effect module " + path + ": " + error.what());
  }
  return sharedEffect;
}

struct Instance {
  std::shared_ptr<const LoadedEffect> effect;
  HostSession session;
  int width = 0;
  int height = 0;
  std::mutex lock;  // MLT's threads property calls one instance from several threads at once

  // As the host set them.
  std::string fps;
  double milliseconds = 0;
  std::string settingsPath;
  std::string blend = "add";
  std::string alpha = "auto";
  std::string aspect = "1";
  double ownValues = 0;                        // 0: sliders in [0, 1]; 1: the controls' own values
  std::vector<std::optional<double>> numbers;  // sliders and checkboxes; unset: the plug-in's default
  std::vector<std::string> choices;            // choices by text or number
  std::vector<std::string> texts;              // every parameter as FFmpeg set it, when parameters are text
  bool changed = true;

  // What the values above make of the session.
  bool usable = false;
  std::string failure;  // why they make no frames, said in the frames
  Blend blendMode = Blend::add;
  OutputAlpha outputAlpha = OutputAlpha::automatic;
  FinishingValues finishing;
  std::string readSettingsPath;
  SettingsFile settings;

  // GStreamer's filter counts from the first buffer's time, which an MP4 may put after 0.
  std::optional<double> firstTime;
  long updates = 0;  // frames asked for so far

  // The last frame: MLT asks for the same frame many times over.
  bool cached = false;
  long cachedFrame = 0;
  std::vector<uint8_t> cachedInput;
  std::vector<uint8_t> cachedOutput;
};

void setConstant(HostSession& session, int position, double value) {
  setParamTrack(session, ParamAssignment{position, ParamTrack{{Keyframe{0.0, value}}, false}});
}

void takeChange(HostSession& session, int position) {
  if (isSupervised(session, position)) {
    userChangedParam(session, position, 0);
  }
}

// A source has no layer of its own, and a guest in other programs loads no image libraries to read
// an emitter image: a look whose flames rise from a layer takes the effect's own volume, said once.
// The filter over the emitter image as a clip gives the look itself.
void useVolumeForSource(Instance& instance) {
  HostSession& session = instance.session;
  const int source = instance.effect->positions[sourceRow];
  session.layers = {std::make_shared<const HostWorld>(makeHostWorld(instance.width, instance.height, 8))};
  const std::vector<Keyframe>& keys = session.tracks[source].keys;
  const bool layerSource = std::any_of(keys.begin(), keys.end(), [](const Keyframe& key) {
    return key.value != originalVolumeChoice;
  });
  if (layerSource) {
    report("the source has no layer for Emitter/Source \"Layer Alpha\" or \"Layer Luma\" to take the flames from; "
           "using Original Volume (for the look itself, apply the filter to its emitter image as a clip)");
    setConstant(session, source, originalVolumeChoice);
  }
}

bool takesOwnValues(const Instance& instance) { return instance.ownValues >= 0.5; }

// Rebuilds the session from the host's values: the defaults, then the settings file, then every
// control the host set to something other than its default.
void applyHostValues(Instance& instance) {
  HostSession& session = instance.session;
  session.tracks = instance.effect->session->tracks;
  instance.usable = false;
  instance.failure.clear();

  instance.blendMode = Blend::add;
  if (isFilter) {
    int blend = 0;
    while (blend < 4 && instance.blend != blendNames[blend]) {
      ++blend;
    }
    if (blend == 4) {
      report("blend \"" + shortened(instance.blend) + "\" is none of add, screen, over, replace; using add");
    } else {
      instance.blendMode = static_cast<Blend>(blend);
    }
  }
  const std::optional<OutputAlpha> alpha = parseOutputAlpha(instance.alpha.empty() ? "auto" : instance.alpha);
  if (!alpha) {
    report("alpha \"" + shortened(instance.alpha) + "\" is none of " + outputAlphaChoices + "; using auto");
  }
  instance.outputAlpha = alpha.value_or(OutputAlpha::automatic);
  session.pixelAspect = PF_RationalScale{1, 1};
  if (!instance.aspect.empty()) {
    try {
      session.pixelAspect = parseRate(instance.aspect, "aspect", "1, 64/45 or 16/15");
    } catch (const UsageError& error) {
      report(std::string(error.what()) + "; using 1");
    }
  }

  if (instance.settingsPath != instance.readSettingsPath) {
    instance.settings = SettingsFile{};
    instance.readSettingsPath = instance.settingsPath;
    if (!instance.settingsPath.empty()) {
      try {
        // Opening a FIFO waits for a writer, and a host stops for good in it: no signal gets it out.
        std::error_code unknown;
        if (std::filesystem::is_other(std::filesystem::status(instance.settingsPath, unknown))) {
          throw RunError(instance.settingsPath + " is a FIFO, socket or device, not a file");
        }
        instance.settings = readSettingsFile(instance.settingsPath);
      } catch (const std::exception& error) {
        instance.settings = SettingsFile{};
        report("the settings file " + shortened(instance.settingsPath) + " is not used: " + error.what());
        instance.failure = std::string("settings file not used: ") + error.what();
        instance.readSettingsPath.clear();
        return;
      }
    }
  }

  if (!instance.fps.empty()) {
    PF_RationalScale rate = parseRate(instance.fps, "fps", "24, 25 or 30000/1001");
    session.clock = FrameClock{static_cast<A_u_long>(rate.num), static_cast<A_long>(rate.den)};
  } else if (!instance.settingsPath.empty()) {
    // Its keyframes count frames of its own rate.
    session.clock = instance.settings.scene.clock;
  } else {
    session.clock = tickClock;
    if (hostProgram() == HostProgram::ffmpeg && !isFilter) {
      report("FFmpeg gives a source the time to the millisecond: set fps (the first field) to the frame rate "
             "for frames exactly as vortelline render --fps gives them");
    }
  }

  const std::vector<int>& positions = instance.effect->positions;
  for (int row = 0; row < controlCount; ++row) {
    if (pluginDefault(row) != controlTable[row].defaultValue) {
      setConstant(session, positions[row], pluginDefault(row));
    }
  }
  for (int position : applyAssignments(session, instance.settings.assignments, instance.settingsPath)) {
    takeChange(session, position);
  }
  // A settings file's finishing replaces the plug-in's, as its controls replace the effect's.
  instance.finishing = instance.settingsPath.empty() ? pluginFinishing() : instance.settings.scene.finishing;
  for (int row = 0; row < rowCount; ++row) {
    const ControlRow& control = rowAt(row);
    const std::optional<double>& number = instance.numbers[row];
    double value = 0;
    switch (control.kind) {
      case ControlKind::slider:
        if (!number) {
          continue;
        }
        value = takesOwnValues(instance) ? *number : sliderFromUnit(control, *number);
        // The effect reads single precision: a default that went through [0, 1] and back is still
        // the default. A value beyond single precision is none (and its cast would be undefined).
        if (std::abs(value) <= std::numeric_limits<float>::max() &&
            static_cast<float>(value) == static_cast<float>(pluginDefault(row))) {
          continue;
        }
        break;
      case ControlKind::checkbox:
        if (!number) {
          continue;
        }
        value = *number >= 0.5 ? 1 : 0;
        break;
      case ControlKind::choice:
        value = choiceNumber(control, instance.choices[row]);
        if (value == 0) {
          report("\"" + shortened(instance.choices[row]) + "\" is not a choice of " + control.name);
          continue;
        }
        break;
    }
    if (value == pluginDefault(row)) {
      continue;
    }
    if (row >= controlCount) {
      setFinishingValue(instance.finishing, row - controlCount, value);
      continue;
    }
    setConstant(session, positions[row], value);
    takeChange(session, positions[row]);
  }
  if (!isFilter) {
    useVolumeForSource(instance);
  }
  instance.usable = true;
}

// The frame the host's time falls on: frame n = round(t * fps), as `vortelline render` numbers them.
long frameAt(Instance& instance, double time) {
  const bool milliseconds = hostProgram() == HostProgram::ffmpeg || instance.milliseconds >= 0.5;
  double seconds = milliseconds ? time / 1000.0 : time;
  if (isFilter && hostProgram() == HostProgram::gstreamer) {
    if (!instance.firstTime) {
      instance.firstTime = seconds;
    }
    seconds -= *instance.firstTime;
  }
  const FrameClock& clock = instance.session.clock;
  // FFmpeg's filter passes AV_NOPTS_VALUE's time, about -1e17 s, for frames that reach it through
  // its own scaler (any input not already RGBA): the frames are counted instead, as FFmpeg passes
  // each one once, in order.
  if (hostProgram() == HostProgram::ffmpeg && !(seconds > -1e9)) {
    const long counted = instance.updates - 1;
    if (clock.timeScale == tickClock.timeScale && clock.timeStep == tickClock.timeStep) {
      report("FFmpeg passes no time with these frames: they are counted from the first at 24 fps; set fps (the "
             "first field) to the frame rate");
      return counted * (tickClock.timeScale / 24);
    }
    report("FFmpeg passes no time with these frames: they are counted from the first");
    return counted;
  }
  const double frame = std::round(seconds * clock.timeScale / clock.timeStep);
  // Host times are 32-bit ticks.
  const double lastFrame = static_cast<double>(INT32_MAX / clock.timeStep);
  if (frame > lastFrame) {
    const double lastSecond = lastFrame * clock.timeStep / clock.timeScale;
    const bool ticks = clock.timeScale == tickClock.timeScale && clock.timeStep == tickClock.timeStep;
    report("times after " + numberText(std::floor(lastSecond * 10.0) / 10.0) +
           " s are beyond the effect's 32-bit clock" + (ticks ? " without fps" : "") +
           ": every later time shows the frame at that time" +
           (ticks ? "; set fps (the first field) to the frame rate to reach further" : ""));
  }
  return static_cast<long>(std::isfinite(frame) ? std::clamp(frame, 0.0, lastFrame) : 0.0);
}

uint8_t byteOf(float value) { return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f)); }

// The flames over, added to or screened onto the input, in straight alpha; flames' colour is
// premultiplied. Add and screen never darken the input; screen never clips what add would.
void blendOnto(const PF_EffectWorld& flames, const uint8_t* input, uint8_t* output, Blend blend) {
  for (int y = 0; y < flames.height; ++y) {
    for (int x = 0; x < flames.width; ++x) {
      const std::byte* argb = pixelAddress(flames, x, y, 8);
      const size_t at = (static_cast<size_t>(y) * flames.width + x) * 4;
      const float flameAlpha = static_cast<float>(argb[0]) / 255.0f;
      const float inputAlpha = input[at + 3] / 255.0f;
      const float alpha = flameAlpha + inputAlpha * (1.0f - flameAlpha);
      const float inputWeight = blend == Blend::over ? inputAlpha * (1.0f - flameAlpha) : inputAlpha;
      for (int channel = 0; channel < 3; ++channel) {
        const float light = static_cast<float>(argb[channel + 1]) / 255.0f;
        const float below = input[at + channel] / 255.0f * inputWeight;
        const float colour = blend == Blend::screen ? light + below - light * below : light + below;
        output[at + channel] = alpha > 0.0f ? byteOf(std::min(colour, 1.0f) / alpha) : 0;
      }
      output[at + 3] = byteOf(alpha);
    }
  }
}

// What a frame is when the effect cannot render it: transparent, or the input unchanged, with
// a notice of why in its corner when there is a failure to tell.
void leaveFrame(const Instance& instance, const uint32_t* inframe, uint32_t* outframe, const std::string& failure) {
  const size_t bytes = static_cast<size_t>(instance.width) * instance.height * 4;
  if (isFilter && inframe) {
    if (inframe != outframe) {
      std::memmove(outframe, inframe, bytes);
    }
  } else {
    std::memset(outframe, 0, bytes);
  }
  if (!failure.empty()) {
    drawFailureNotice(reinterpret_cast<uint8_t*>(outframe), instance.width, instance.height, failure);
  }
}

void renderInto(Instance& instance, double time, const uint8_t* input, uint8_t* output) {
  const long frame = frameAt(instance, time);
  const size_t bytes = static_cast<size_t>(instance.width) * instance.height * 4;
  if (instance.cached && instance.cachedFrame == frame &&
      (!isFilter || std::memcmp(instance.cachedInput.data(), input, bytes) == 0)) {
    std::memcpy(output, instance.cachedOutput.data(), bytes);
    return;
  }
  instance.cached = false;
  HostSession& session = instance.session;
  // The input frame is the layer the effect is applied to.
  if (isFilter) {
    session.layers = {std::make_shared<const HostWorld>(
        hostWorldFromImage(imageFromStraightRgba8(input, instance.width, instance.height), 8))};
  }
  keyEmitterLayers(session, instance.finishing);
  HostWorld flames = renderFrame(session, frame, RenderPath::smart);
  finishFrame(flames, instance.finishing, finishingFrameAt(session.clock, frame, 0, finishingLayerHeight(session)),
              instance.outputAlpha);
  instance.cachedOutput.resize(bytes);
  if (isFilter && instance.blendMode != Blend::replace) {
    blendOnto(flames.world, input, instance.cachedOutput.data(), instance.blendMode);
  } else {
    // Straight colour rounded as a PNG file stores it.
    const RgbaSamples samples = rgbaSamplesFromWorld(flames.world, 8, true);
    std::copy(samples.values.begin(), samples.values.end(), instance.cachedOutput.begin());
  }
  if (isFilter) {
    instance.cachedInput.assign(input, input + bytes);
  }
  std::memcpy(output, instance.cachedOutput.data(), bytes);
  instance.cachedFrame = frame;
  instance.cached = true;
}

// The plug-in parameter at a position outside the controls, or nullptr.
const PluginParam* pluginParamAt(int index) {
  if (index >= 0 && index < firstControlParam) {
    return &leadingPluginParams[index];
  }
  if (index >= firstTrailingParam && index < firstFinishingParam) {
    return &trailingPluginParams[index - firstTrailingParam];
  }
  return nullptr;
}

bool isTextParam(int index) {
  const PluginParam* own = pluginParamAt(index);
  return own ? own->kind == PluginParamKind::text : rowAt(rowOfParam(index)).kind == ControlKind::choice;
}

// Where a parameter's value is kept: text parameters in a string, the others in a double.
std::string* textField(Instance& instance, int index) {
  switch (index) {
    case fpsParam:
      return &instance.fps;
    case settingsParam:
      return &instance.settingsPath;
    default:
      break;
  }
  if (isFilter && index == blendParam) {
    return &instance.blend;
  }
  if (index == firstTrailingParam + alphaParam) {
    return &instance.alpha;
  }
  if (index == firstTrailingParam + aspectParam) {
    return &instance.aspect;
  }
  return &instance.choices[rowOfParam(index)];
}

// MLT sets every parameter before every frame: only a real change costs anything.
template <typename Value>
void changeTo(Instance& instance, Value& target, const Value& value) {
  if (value != target) {
    target = value;
    instance.changed = true;
  }
}

void setText(Instance& instance, int index, const std::string& value) {
  changeTo(instance, *textField(instance, index), value);
}

// The plug-in's own toggles, or nullptr for a control.
double* toggleField(Instance& instance, int index) {
  if (index == millisecondsParam) {
    return &instance.milliseconds;
  }
  return index == firstTrailingParam + ownValuesParam ? &instance.ownValues : nullptr;
}

// A number parameter; a control left unset keeps the plug-in's default in either unit.
void setNumber(Instance& instance, int index, std::optional<double> value) {
  if (double* toggle = toggleField(instance, index)) {
    changeTo(instance, *toggle, value.value_or(0.0));
  } else {
    changeTo(instance, instance.numbers[rowOfParam(index)], value);
  }
}

// What the host reads back: a control it did not set is the default in the units it chose.
double numberOf(Instance& instance, int index) {
  if (double* toggle = toggleField(instance, index)) {
    return *toggle;
  }
  const int row = rowOfParam(index);
  if (instance.numbers[row]) {
    return *instance.numbers[row];
  }
  const ControlRow& control = rowAt(row);
  const bool inUnits = control.kind == ControlKind::slider && !takesOwnValues(instance);
  return inUnits ? unitFromSlider(control, pluginDefault(row)) : pluginDefault(row);
}

// A parameter from FFmpeg's text: an empty field is the parameter's default, a number is read
// whole (what is not one is said, and the default used), booleans are y or n as FFmpeg writes them.
void setFromText(Instance& instance, int index, const std::string& text) {
  const PluginParam* own = pluginParamAt(index);
  const int row = rowOfParam(index);
  if (isTextParam(index)) {
    return setText(instance, index, !text.empty() ? text : own ? own->defaultText : choiceTexts(rowAt(row)).at(static_cast<size_t>(pluginDefault(row)) - 1));
  }
  const std::string name = own ? own->name : rowAt(row).name;
  const bool toggle = own ? own->kind == PluginParamKind::toggle : rowAt(row).kind == ControlKind::checkbox;
  std::optional<double> value;  // unset: the default
  if (toggle) {
    if (text == "y" || text == "1") {
      value = 1;
    } else if (text == "n" || text == "0") {
      value = 0;
    } else if (!text.empty()) {
      report(name + " \"" + shortened(text) + "\" is neither y nor n; using its default");
    }
  } else if (!text.empty()) {
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (end == text.c_str() + text.size() && std::isfinite(number)) {
      value = number;
    } else {
      report(name + " \"" + shortened(text) + "\" is not a number; using its default");
    }
  }
  if (own && !value) {
    value = std::atof(own->defaultText);
  }
  setNumber(instance, index, value);
}

}  // namespace

extern "C" {

int f0r_init() { return 1; }

void f0r_deinit() {
  std::lock_guard<std::mutex> guard(effectLock);
  // Instances still alive keep the module until they go.
  sharedEffect.reset();
}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  info->name = "Vortelline";
  info->author = "Vortelline";
  info->plugin_type = isFilter ? F0R_PLUGIN_TYPE_FILTER : F0R_PLUGIN_TYPE_SOURCE;
  info->color_model = F0R_COLOR_MODEL_RGBA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = 1;
  info->minor_version = 0;
  info->num_params = paramCount;
  info->explanation = isFilter ? "Volumetric flames rising from the input frame's luma (or alpha), added to it "
                                 "(blend=screen for bright footage)"
                               : "Volumetric flames with alpha from their light, to composite over other clips: "
                                 "over dark footage, screen or add over bright footage (over darkens it at the "
                                 "flames' faint edges)";
}

void f0r_get_param_info(f0r_param_info_t* info, int index) {
  static const std::vector<std::string> explanations = [] {
    std::vector<std::string> texts;
    for (int index = 0; index < rowCount; ++index) {
      const ControlRow& row = rowAt(index);
      // A finishing control says what it does; the slider ranges stay first and last, where the
      // editors' descriptions are checked against them.
      const std::string what =
          index >= controlCount ? std::string(finishingControls[index - controlCount].description) + " " : "";
      std::string text;
      if (row.kind == ControlKind::slider) {
        char from[64];
        char own[96];
        std::snprintf(from, sizeof from, "0 .. 1 maps onto %g .. %g; ", unitOrigin(row), row.sliderMax);
        std::snprintf(own, sizeof own, "%s own_values on, the value itself, %g .. %g", what.empty() ? "with" : "With",
                      row.sliderMin, row.sliderMax);
        text = from + what + own;
      } else if (row.kind == ControlKind::choice) {
        text = what + "One of: " + row.choices;
      } else {
        text = what + "On or off";
      }
      for (const PluginControlDefault& own : pluginControlDefaults) {
        if ((isFilter || !own.filterOnly) && std::string(own.control) == row.name) {
          text += std::string(". Default here: ") + own.why;
        }
      }
      for (const PluginFinishingDefault& own : pluginFinishingDefaults) {
        if ((isFilter || !own.filterOnly) && own.control == index - controlCount) {
          text += std::string(". Default here: ") + own.why;
        }
      }
      texts.push_back(text);
    }
    return texts;
  }();
  if (index < 0 || index >= paramCount) {
    return;
  }
  if (const PluginParam* own = pluginParamAt(index)) {
    info->name = own->name;
    info->explanation = own->explanation;
  } else {
    const int row = rowOfParam(index);
    info->name = rowAt(row).name;
    info->explanation = explanations[row].c_str();
  }
  if (paramsAsText() || isTextParam(index)) {
    info->type = F0R_PARAM_STRING;
  } else {
    const PluginParam* own = pluginParamAt(index);
    const bool toggle = own ? own->kind == PluginParamKind::toggle : rowAt(rowOfParam(index)).kind == ControlKind::checkbox;
    info->type = toggle ? F0R_PARAM_BOOL : F0R_PARAM_DOUBLE;
  }
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  try {
    std::shared_ptr<const LoadedEffect> effect = loadEffect();
    if (!effect || width == 0 || height == 0 || width > largestLayerSide || height > largestLayerSide) {
      return nullptr;
    }
    // FFmpeg pads each row of its frames to its CPU's alignment (up to 64 bytes) and hands frei0r the
    // first row's address alone: rows of other widths would come out sheared.
    if (hostProgram() == HostProgram::ffmpeg && width % 16 != 0) {
      const std::string padded = std::to_string((width + 15) / 16 * 16) + ":" + std::to_string(height);
      const std::string cropped = std::to_string(width) + ":" + std::to_string(height) + ":0:0";
      report("FFmpeg pads the rows of frames " + std::to_string(width) +
             " pixels wide, which a frei0r plug-in cannot see: use a width that is a multiple of 16, " +
             (isFilter ? "pad=" + padded + " before the plug-in" : "size=" + std::string(padded).replace(padded.find(':'), 1, "x")) +
             " and crop=" + cropped + " after it");
      return nullptr;
    }
    auto instance = std::make_unique<Instance>();
    instance->effect = effect;
    instance->session = *effect->session;
    instance->session.layerWidth = static_cast<A_long>(width);
    instance->session.layerHeight = static_cast<A_long>(height);
    instance->session.bitDepth = 8;
    instance->width = static_cast<int>(width);
    instance->height = static_cast<int>(height);
    instance->numbers.resize(rowCount);
    for (int row = 0; row < rowCount; ++row) {
      const ControlRow& control = rowAt(row);
      const double value = pluginDefault(row);
      instance->choices.push_back(control.kind == ControlKind::choice
                                      ? choiceTexts(control).at(static_cast<size_t>(value) - 1)
                                      : std::string());
    }
    instance->texts.resize(paramCount);
    return instance.release();
  } catch (const std::exception& error) {
    report(error.what());
    return nullptr;
  }
}

void f0r_destruct(f0r_instance_t instance) {
  delete static_cast<Instance*>(instance);
}

void f0r_set_param_value(f0r_instance_t handle, f0r_param_t param, int index) {
  if (!handle || !param || index < 0 || index >= paramCount) {
    return;
  }
  Instance& instance = *static_cast<Instance*>(handle);
  std::lock_guard<std::mutex> guard(instance.lock);
  if (paramsAsText()) {
    const char* text = *static_cast<f0r_param_string*>(param);
    instance.texts[index] = text ? text : "";
    setFromText(instance, index, instance.texts[index]);
  } else if (isTextParam(index)) {
    const char* text = *static_cast<f0r_param_string*>(param);
    setText(instance, index, text ? text : "");
  } else {
    setNumber(instance, index, *static_cast<f0r_param_double*>(param));
  }
}

void f0r_get_param_value(f0r_instance_t handle, f0r_param_t param, int index) {
  if (!handle || !param || index < 0 || index >= paramCount) {
    return;
  }
  Instance& instance = *static_cast<Instance*>(handle);
  std::lock_guard<std::mutex> guard(instance.lock);
  if (paramsAsText() || isTextParam(index)) {
    const std::string& text = paramsAsText() ? instance.texts[index] : *textField(instance, index);
    *static_cast<f0r_param_string*>(param) = const_cast<char*>(text.c_str());
  } else {
    *static_cast<f0r_param_double*>(param) = numberOf(instance, index);
  }
}

void f0r_update(f0r_instance_t handle, double time, const uint32_t* inframe,
                                                       uint32_t* outframe) {
  if (!handle || !outframe) {
    return;
  }
  Instance& instance = *static_cast<Instance*>(handle);
  // A source never reads inframe: MLT passes a pointer into nothing when it slices a frame.
  const uint32_t* input = isFilter ? inframe : nullptr;
  if (isFilter && !input) {
    return;
  }
  std::lock_guard<std::mutex> guard(instance.lock);
  ++instance.updates;
  try {
    if (instance.changed) {
      instance.changed = false;
      instance.cached = false;
      applyHostValues(instance);
    }
    if (!instance.usable) {
      return leaveFrame(instance, input, outframe, instance.failure);
    }
    renderInto(instance, time, reinterpret_cast<const uint8_t*>(input), reinterpret_cast<uint8_t*>(outframe));
  } catch (const std::exception& error) {
    report(error.what());
    leaveFrame(instance, input, outframe, error.what());
  } catch (const Cancelled&) {
    leaveFrame(instance, input, outframe, "");
  }
}

}  // extern "C"
