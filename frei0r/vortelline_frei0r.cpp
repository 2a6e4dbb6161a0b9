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
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "authoring/render_options.h"
#include "authoring/settings_file.h"
#include "frei0r/control_table.h"
#include "frei0r/plugin_params.h"
#include "session/host_session.h"
#include "session/program_errors.h"

namespace {

constexpr bool isFilter = VORTELLINE_FREI0R_FILTER != 0;
constexpr const char* pluginName = isFilter ? "vortelline" : "vortelline_src";

// Positions: the leading plug-in parameters (the filter's blend is the last of them), the effect's
// controls, then the trailing plug-in parameters.
enum HostParam { fpsParam, millisecondsParam, settingsParam, blendParam };
constexpr int firstControlParam = isFilter ? 4 : 3;
constexpr int firstTrailingParam = firstControlParam + controlCount;
enum TrailingParam { alphaParam, aspectParam };
constexpr int trailingCount = sizeof trailingPluginParams / sizeof trailingPluginParams[0];
constexpr int paramCount = firstTrailingParam + trailingCount;

// How the effect's output meets the filter's input frame. The output is opaque wherever the effect
// draws a volume, black where there is no fire, like fire footage shot on black: "over" would hide
// an opaque clip entirely, so the default adds the light, as compositors do with such footage.
enum class Blend { replace, over, add };
constexpr const char* blendNames[] = {"replace", "over", "add"};

// The filter's flames rise from the input frame itself, as from the layer in a compositing host.
constexpr int sourceRow = 3;
constexpr int layerAlphaChoice = 2;

double pluginDefault(int row) {
  return isFilter && row == sourceRow ? layerAlphaChoice : controlTable[row].defaultValue;
}

// frei0r has no error channel: each distinct message goes to stderr once per process.
void report(const std::string& message) {
  static std::mutex reportedLock;
  static std::set<std::string> reported;
  std::lock_guard<std::mutex> guard(reportedLock);
  if (reported.insert(message).second) {
    std::cerr << pluginName << " (frei0r): " << message << std::endl;
  }
}

// The module: VORTELLINE_MODULE for builds in place, else the installed copy at its place relative
// to this plug-in, else the one built with it.
std::string modulePath() {
  if (const char* path = std::getenv("VORTELLINE_MODULE"); path && *path) {
    return path;
  }
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&f0r_get_plugin_info), &self) && self.dli_fname) {
    std::filesystem::path installed = std::filesystem::path(self.dli_fname).parent_path() /
                                      VORTELLINE_FREI0R_TO_MODULE_DIR / "Vortelline.so";
    std::error_code missing;
    if (std::filesystem::exists(installed, missing)) {
      return installed.string();
    }
  }
  return VORTELLINE_BUILT_MODULE_PATH;
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
  std::vector<double> units;         // sliders in [0, 1], checkboxes 0 or 1
  std::vector<std::string> choices;  // choices by text or number
  bool changed = true;

  // What the values above make of the session.
  bool usable = false;
  Blend blendMode = Blend::add;
  std::string readSettingsPath;
  SettingsFile settings;

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

// Rebuilds the session from the host's values: the defaults, then the settings file, then every
// control the host set to something other than its default.
void applyHostValues(Instance& instance) {
  HostSession& session = instance.session;
  session.tracks = instance.effect->session->tracks;
  instance.usable = false;

  instance.blendMode = Blend::add;
  if (isFilter) {
    int blend = 0;
    while (blend < 3 && instance.blend != blendNames[blend]) {
      ++blend;
    }
    if (blend == 3) {
      report("blend \"" + instance.blend + "\" is none of replace, over, add; using add");
    } else {
      instance.blendMode = static_cast<Blend>(blend);
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
        instance.settings.assignments.clear();
        report(std::string("the settings file is not used: ") + error.what());
        instance.readSettingsPath.clear();
        return;
      }
    }
  }

  if (!instance.fps.empty()) {
    PF_RationalScale rate = parseRate(instance.fps, "fps", "24, 25 or 30000/1001");
    session.clock = FrameClock{static_cast<A_u_long>(rate.num), static_cast<A_long>(rate.den)};
  } else if (!instance.settingsPath.empty()) {
    session.clock = instance.settings.scene.clock;
  } else {
    // No frame rate: the time as the host gives it, to the millisecond.
    session.clock = FrameClock{1000, 1};
  }

  const std::vector<int>& positions = instance.effect->positions;
  if (isFilter) {
    setConstant(session, positions[sourceRow], layerAlphaChoice);
  }
  for (int position : applyAssignments(session, instance.settings.assignments, instance.settingsPath)) {
    takeChange(session, position);
  }
  for (int row = 0; row < controlCount; ++row) {
    const ControlRow& control = controlTable[row];
    double value = 0;
    switch (control.kind) {
      case ControlKind::slider:
        value = sliderFromUnit(control, instance.units[row]);
        // The effect reads single precision: a default that went through [0, 1] and back is still
        // the default.
        if (static_cast<float>(value) == static_cast<float>(pluginDefault(row))) {
          continue;
        }
        break;
      case ControlKind::checkbox:
        value = instance.units[row] >= 0.5 ? 1 : 0;
        break;
      case ControlKind::choice:
        value = choiceNumber(control, instance.choices[row]);
        if (value == 0) {
          report("\"" + instance.choices[row] + "\" is not a choice of " + control.name);
          continue;
        }
        break;
    }
    if (value != pluginDefault(row)) {
      setConstant(session, positions[row], value);
      takeChange(session, positions[row]);
    }
  }
  instance.usable = true;
}

// The frame the host's time falls on: frame n = round(t * fps), as `vortelline render` numbers them.
long frameAt(const Instance& instance, double time) {
  const double seconds = instance.milliseconds >= 0.5 ? time / 1000.0 : time;
  const FrameClock& clock = instance.session.clock;
  const double frame = std::round(seconds * clock.timeScale / clock.timeStep);
  // Host times are 32-bit ticks.
  const double lastFrame = static_cast<double>(INT32_MAX / clock.timeStep);
  return static_cast<long>(std::isfinite(frame) ? std::clamp(frame, 0.0, lastFrame) : 0.0);
}

uint8_t byteOf(float value) { return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f)); }

// The flames over (or added to) the input, in straight alpha; flames' colour is premultiplied.
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
        const float colour = static_cast<float>(argb[channel + 1]) / 255.0f + input[at + channel] / 255.0f * inputWeight;
        output[at + channel] = alpha > 0.0f ? byteOf(std::min(colour, 1.0f) / alpha) : 0;
      }
      output[at + 3] = byteOf(alpha);
    }
  }
}

// What a frame is when the effect cannot render it: transparent, or the input unchanged.
void leaveFrame(const Instance& instance, const uint32_t* inframe, uint32_t* outframe) {
  const size_t bytes = static_cast<size_t>(instance.width) * instance.height * 4;
  if (isFilter && inframe) {
    if (inframe != outframe) {
      std::memmove(outframe, inframe, bytes);
    }
  } else {
    std::memset(outframe, 0, bytes);
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
  // The input frame is the layer the effect is applied to; a source's layer stays transparent.
  if (isFilter) {
    session.layers = {std::make_shared<const HostWorld>(
        hostWorldFromImage(imageFromStraightRgba8(input, instance.width, instance.height), 8))};
  } else if (session.layers.empty()) {
    session.layers = {std::make_shared<const HostWorld>(makeHostWorld(instance.width, instance.height, 8))};
  }
  HostWorld flames = renderFrame(session, frame, RenderPath::smart);
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

// The plug-in parameter at a position outside the effect's controls, or nullptr.
const PluginParam* pluginParamAt(int index) {
  if (index >= 0 && index < firstControlParam) {
    return &leadingPluginParams[index];
  }
  if (index >= firstTrailingParam && index < paramCount) {
    return &trailingPluginParams[index - firstTrailingParam];
  }
  return nullptr;
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
  info->explanation = isFilter ? "Volumetric flames rising from the input frame's alpha or luma"
                               : "Volumetric flames on a transparent frame";
}

void f0r_get_param_info(f0r_param_info_t* info, int index) {
  static const std::vector<std::string> explanations = [] {
    std::vector<std::string> texts;
    for (const ControlRow& row : controlTable) {
      std::string text;
      if (row.kind == ControlKind::slider) {
        char range[64];
        std::snprintf(range, sizeof range, "%g .. %g", unitOrigin(row), row.sliderMax);
        text = std::string("0 .. 1 maps onto ") + range;
      } else if (row.kind == ControlKind::choice) {
        text = std::string("One of: ") + row.choices;
      } else {
        text = "On or off";
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
    info->type = own->kind == PluginParamKind::toggle ? F0R_PARAM_BOOL : F0R_PARAM_STRING;
    info->explanation = own->explanation;
    return;
  }
  const int row = index - firstControlParam;
  info->name = controlTable[row].name;
  switch (controlTable[row].kind) {
    case ControlKind::slider:
      info->type = F0R_PARAM_DOUBLE;
      break;
    case ControlKind::checkbox:
      info->type = F0R_PARAM_BOOL;
      break;
    case ControlKind::choice:
      info->type = F0R_PARAM_STRING;
      break;
  }
  info->explanation = explanations[row].c_str();
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  try {
    std::shared_ptr<const LoadedEffect> effect = loadEffect();
    if (!effect || width == 0 || height == 0 || width > largestLayerSide || height > largestLayerSide) {
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
    for (int row = 0; row < controlCount; ++row) {
      const ControlRow& control = controlTable[row];
      const double value = pluginDefault(row);
      instance->units.push_back(control.kind == ControlKind::slider ? unitFromSlider(control, value) : value);
      instance->choices.push_back(control.kind == ControlKind::choice
                                      ? choiceTexts(control).at(static_cast<size_t>(value) - 1)
                                      : std::string());
    }
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
  // MLT sets every parameter before every frame: only a real change costs anything.
  auto setText = [&](std::string& target) {
    const char* text = *static_cast<f0r_param_string*>(param);
    std::string value = text ? text : "";
    if (value != target) {
      target = std::move(value);
      instance.changed = true;
    }
  };
  auto setNumber = [&](double& target) {
    const double value = *static_cast<f0r_param_double*>(param);
    if (value != target) {
      target = value;
      instance.changed = true;
    }
  };
  switch (index) {
    case fpsParam:
      return setText(instance.fps);
    case millisecondsParam:
      return setNumber(instance.milliseconds);
    case settingsParam:
      return setText(instance.settingsPath);
    default:
      break;
  }
  if (isFilter && index == blendParam) {
    return setText(instance.blend);
  }
  if (index == firstTrailingParam + alphaParam) {
    return setText(instance.alpha);
  }
  if (index == firstTrailingParam + aspectParam) {
    return setText(instance.aspect);
  }
  const int row = index - firstControlParam;
  if (controlTable[row].kind == ControlKind::choice) {
    setText(instance.choices[row]);
  } else {
    setNumber(instance.units[row]);
  }
}

void f0r_get_param_value(f0r_instance_t handle, f0r_param_t param, int index) {
  if (!handle || !param || index < 0 || index >= paramCount) {
    return;
  }
  Instance& instance = *static_cast<Instance*>(handle);
  std::lock_guard<std::mutex> guard(instance.lock);
  auto getText = [&](const std::string& source) { *static_cast<f0r_param_string*>(param) = const_cast<char*>(source.c_str()); };
  switch (index) {
    case fpsParam:
      return getText(instance.fps);
    case millisecondsParam:
      *static_cast<f0r_param_double*>(param) = instance.milliseconds;
      return;
    case settingsParam:
      return getText(instance.settingsPath);
    default:
      break;
  }
  if (isFilter && index == blendParam) {
    return getText(instance.blend);
  }
  if (index == firstTrailingParam + alphaParam) {
    return getText(instance.alpha);
  }
  if (index == firstTrailingParam + aspectParam) {
    return getText(instance.aspect);
  }
  const int row = index - firstControlParam;
  if (controlTable[row].kind == ControlKind::choice) {
    getText(instance.choices[row]);
  } else {
    *static_cast<f0r_param_double*>(param) = instance.units[row];
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
  try {
    if (instance.changed) {
      instance.changed = false;
      instance.cached = false;
      applyHostValues(instance);
    }
    if (!instance.usable) {
      return leaveFrame(instance, input, outframe);
    }
    renderInto(instance, time, reinterpret_cast<const uint8_t*>(input), reinterpret_cast<uint8_t*>(outframe));
  } catch (const std::exception& error) {
    report(error.what());
    leaveFrame(instance, input, outframe);
  } catch (const Cancelled&) {
    leaveFrame(instance, input, outframe);
  }
}

}  // extern "C"
