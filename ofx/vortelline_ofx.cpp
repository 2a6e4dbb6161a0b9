// The effect as an OpenFX image effect for compositing applications: a host of the effect module
// like `vortelline`, loading it through its two entry points with the shared host core. Each
// OpenFX parameter stands for one of the effect's controls (read from what the effect declared, so
// nothing here repeats its table); a render copies the loaded session, sets every control to the
// host's value at the frame and renders the host's window of the frame through the smart render.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "authoring/emitter_key_layers.h"
#include "authoring/settings_file.h"
#include "finishing/finishing.h"
#include "ofx/ofx_api.h"
#include "ofx/ofx_pixels.h"
#include "session/host_session.h"
#include "session/program_errors.h"

using namespace ofx;

namespace {

constexpr char pluginIdentifier[] = "com.ternwick.Vortelline";
constexpr unsigned pluginVersionMajor = 1;
constexpr unsigned pluginVersionMinor = 0;

// The plug-in's own parameters beside the effect's controls.
constexpr char outputAlphaParam[] = "output_alpha";
constexpr char settingsFileParam[] = "settings_file";
constexpr char loadSettingsParam[] = "load_settings_file";
constexpr char aboutParam[] = "about";
constexpr char pageParam[] = "controls";
constexpr const char* outputAlphaChoices[] = {"Auto (from the light for opaque looks)", "From the light",
                                              "The effect's own"};

OfxHost* host = nullptr;
const OfxPropertySuiteV1* properties = nullptr;
const OfxImageEffectSuiteV1* effects = nullptr;
const OfxParameterSuiteV1* parameters = nullptr;
const OfxMessageSuiteV2* messages = nullptr;

// ---- Properties ----

int intProperty(OfxPropertySetHandle set, const char* name, int index = 0, int fallback = 0) {
  int value = fallback;
  return properties->propGetInt(set, name, index, &value) == kOfxStatOK ? value : fallback;
}

double doubleProperty(OfxPropertySetHandle set, const char* name, int index = 0, double fallback = 0) {
  double value = fallback;
  return properties->propGetDouble(set, name, index, &value) == kOfxStatOK ? value : fallback;
}

std::string stringProperty(OfxPropertySetHandle set, const char* name, int index = 0) {
  char* value = nullptr;
  return properties->propGetString(set, name, index, &value) == kOfxStatOK && value ? value : "";
}

void setStrings(OfxPropertySetHandle set, const char* name, const std::vector<std::string>& values) {
  for (size_t i = 0; i < values.size(); ++i) {
    properties->propSetString(set, name, static_cast<int>(i), values[i].c_str());
  }
}

void setRect(OfxPropertySetHandle set, const char* name, const OfxRectD& rect) {
  const double v[4] = {rect.x1, rect.y1, rect.x2, rect.y2};
  properties->propSetDoubleN(set, name, 4, v);
}

// ---- The loaded effect and its controls as OpenFX parameters ----

enum class ControlType { slider, angle, choice, checkbox, group, button };

struct Control {
  std::string name;  // the OpenFX parameter's
  ControlType type = ControlType::slider;
  int position = 0;   // the effect's control
  int twin = -1;      // a hue's angle dial, which shows the same value as its keyframable slider
  int shownBy = 0;    // the control whose greyed and hidden state the parameter takes
  std::string parent; // the enclosing group's parameter; empty at the top
};

// The loaded module with its declared controls, shared by every instance in the process. Renders
// use copies of the session; the effect renders concurrently in several copies.
struct LoadedEffect {
  std::unique_ptr<HostSession> session;
  std::vector<Control> controls;
  int sourcePosition = -1;  // the "Source" popup: its first choice draws from the effect's own volume
  ~LoadedEffect() {
    if (session) {
      try {
        endSession(*session);
      } catch (const std::exception&) {
        // Set-down at unload has nobody left to tell.
      }
    }
  }
};

std::mutex effectLock;
std::shared_ptr<const LoadedEffect> sharedEffect;
std::string loadFailure;

// Parameter names stay as projects store them: the control's name with its group, in lower case,
// words joined by "_" ("emitter_rise_height").
std::string parameterName(const std::string& qualified) {
  std::string name;
  for (char c : qualified) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  return name;
}

// The finishing controls' parameters, named as the effect's are ("glow_amount"), in groups of their
// own ("glow_group").
std::string finishingParamName(int id) { return parameterName(finishingControlName(id)); }
std::string finishingGroupName(int id) { return parameterName(finishingControls[id].group) + "_group"; }

std::vector<Control> controlsOf(const HostSession& session) {
  std::vector<Control> controls;
  std::vector<std::pair<std::string, std::string>> groupNames;  // effect's group name -> parameter
  auto parentOf = [&](const DeclaredParam& declared) {
    for (const auto& [group, name] : groupNames) {
      if (group == declared.group) {
        return name;
      }
    }
    return std::string();
  };
  for (int position = 1; position < static_cast<int>(session.params.size()); ++position) {
    const DeclaredParam& declared = session.params[position];
    const PF_ParamDef& def = declared.def;
    Control control;
    control.position = position;
    control.shownBy = position;
    control.parent = parentOf(declared);
    control.name = parameterName(qualifiedName(session.params, position));
    switch (def.param_type) {
      case PF_Param_GROUP_START:
        control.type = ControlType::group;
        control.name += "_group";
        groupNames.emplace_back(def.name, control.name);
        break;
      case PF_Param_FLOAT_SLIDER:
        control.type = ControlType::slider;
        if (def.ui_flags & PF_PUI_NO_ECW_UI) {
          // A hidden, keyframable slider shows as the angle dial that edits it.
          for (int angle = 1; angle < static_cast<int>(session.params.size()); ++angle) {
            if (session.params[angle].def.param_type == PF_Param_ANGLE &&
                hueSliderEditedBy(session.params, angle) == position) {
              control.type = ControlType::angle;
              control.twin = angle;
              control.shownBy = angle;
            }
          }
          if (control.twin < 0) {
            continue;
          }
        }
        break;
      case PF_Param_ANGLE:
        if (hueSliderEditedBy(session.params, position) >= 0) {
          continue;
        }
        control.type = ControlType::angle;
        break;
      case PF_Param_POPUP:
        control.type = ControlType::choice;
        break;
      case PF_Param_CHECKBOX:
        control.type = ControlType::checkbox;
        break;
      case PF_Param_NO_DATA:
        // The effect's own drawn control (its banner) opens its About information.
        control.type = ControlType::button;
        control.name = aboutParam;
        break;
      default:
        // Layers: the emitter is the source clip itself, as the effect's default.
        continue;
    }
    controls.push_back(control);
  }
  return controls;
}

OfxStatus loadEffect() {
  std::lock_guard<std::mutex> guard(effectLock);
  if (sharedEffect) {
    return kOfxStatOK;
  }
  const std::string path =
      pluginModulePath(reinterpret_cast<const void*>(&loadEffect), VORTELLINE_OFX_TO_MODULE_DIR,
                       VORTELLINE_BUILT_MODULE_PATH);
  try {
    auto effect = std::make_shared<LoadedEffect>();
    effect->session = startSession(path);
    effect->controls = controlsOf(*effect->session);
    effect->sourcePosition = popupParamNamed(*effect->session, "Source");
    sharedEffect = effect;
    loadFailure.clear();
    return kOfxStatOK;
  } catch (const std::exception& error) {
    loadFailure = "cannot use the effect module " + path + ": " + error.what();
  }
  if (messages) {
    messages->message(nullptr, kOfxMessageError, "", "Vortelline: %s", loadFailure.c_str());
  }
  return kOfxStatFailed;
}

std::shared_ptr<const LoadedEffect> loadedEffect() {
  std::lock_guard<std::mutex> guard(effectLock);
  return sharedEffect;
}

// ---- Instances ----

struct Instance {
  OfxImageEffectHandle handle = nullptr;
  std::shared_ptr<const LoadedEffect> effect;
  OfxParamSetHandle paramSet = nullptr;
  std::vector<OfxParamHandle> controlParams;  // by control
  std::vector<OfxParamHandle> finishingParams;  // by finishing control
  OfxParamHandle outputAlpha = nullptr;
  OfxParamHandle settingsFile = nullptr;
  OfxImageClipHandle source = nullptr;  // none in the generator context
  OfxImageClipHandle output = nullptr;
  std::mutex messageLock;
  bool showsError = false;
};

Instance* instanceOf(const void* handle) {
  OfxPropertySetHandle props = nullptr;
  void* data = nullptr;
  if (effects->getPropertySet(static_cast<OfxImageEffectHandle>(const_cast<void*>(handle)), &props) != kOfxStatOK ||
      properties->propGetPointer(props, kOfxPropInstanceData, 0, &data) != kOfxStatOK) {
    return nullptr;
  }
  return static_cast<Instance*>(data);
}

OfxParamHandle paramHandle(OfxParamSetHandle set, const char* name) {
  OfxParamHandle param = nullptr;
  parameters->paramGetHandle(set, name, &param, nullptr);
  return param;
}

OfxPropertySetHandle paramProperties(OfxParamHandle param) {
  OfxPropertySetHandle props = nullptr;
  parameters->paramGetPropertySet(param, &props);
  return props;
}

// An error the host shows on the instance until a frame renders, or a change is taken, again.
void showError(Instance& instance, const std::string& message) {
  std::lock_guard<std::mutex> guard(instance.messageLock);
  instance.showsError = true;
  if (messages) {
    messages->setPersistentMessage(instance.handle, kOfxMessageError, "", "%s", message.c_str());
  }
}

void clearError(Instance& instance) {
  std::lock_guard<std::mutex> guard(instance.messageLock);
  if (instance.showsError && messages) {
    messages->clearPersistentMessage(instance.handle);
  }
  instance.showsError = false;
}

// The host's frame rate as the effect's clock: the frame number is OpenFX's time, and the effect's
// seconds are frame / rate. NTSC rates (24000/1001, 30000/1001, ...) arrive as their decimal.
FrameClock clockForRate(double fps) {
  if (!(fps > 0) || !std::isfinite(fps) || fps > 100000) {
    return FrameClock{};
  }
  const double whole = std::round(fps);
  if (whole >= 1 && std::fabs(fps - whole) < 1e-6 * fps) {
    return FrameClock{static_cast<A_u_long>(whole), 1};
  }
  const double ntsc = std::round(fps * 1.001);
  if (ntsc >= 1 && std::fabs(fps - ntsc / 1.001) < 1e-6 * fps) {
    return FrameClock{static_cast<A_u_long>(ntsc * 1000), 1001};
  }
  return FrameClock{static_cast<A_u_long>(std::max(1.0, std::round(fps * 1000))), 1000};
}

// A pixel aspect ratio as the nearest fraction with a denominator up to 10000 (64/45, 10/11, ...);
// the effect refuses ratios beyond 100 with its own message.
PF_RationalScale rationalAspect(double aspect) {
  if (!(aspect > 0) || !std::isfinite(aspect)) {
    return PF_RationalScale{1, 1};
  }
  aspect = std::clamp(aspect, 1e-4, 1e4);
  PF_RationalScale best{static_cast<A_long>(std::lround(aspect)), 1};
  double bestError = std::fabs(aspect - best.num);
  for (A_u_long den = 2; den <= 10000 && bestError > 1e-9; ++den) {
    const double num = std::round(aspect * den);
    const double error = std::fabs(aspect - num / den);
    if (num >= 1 && error < bestError - 1e-12) {
      best = PF_RationalScale{static_cast<A_long>(num), den};
      bestError = error;
    }
  }
  return best.num >= 1 ? best : PF_RationalScale{1, 1};
}

long frameAt(OfxTime time, const FrameClock& clock) {
  // Fields and sub-frame times render the nearest whole frame.
  const double last = static_cast<double>(lastFrameInTimeRange(clock));
  return std::isfinite(time) ? static_cast<long>(std::clamp(std::round(time), -last, last)) : 0;
}

double valueAt(const Control& control, OfxParamHandle param, OfxTime time) {
  switch (control.type) {
    case ControlType::slider:
    case ControlType::angle: {
      double value = 0;
      parameters->paramGetValueAtTime(param, time, &value);
      return value;
    }
    case ControlType::choice: {
      int index = 0;
      parameters->paramGetValueAtTime(param, time, &index);
      return index + 1;  // the effect counts its choices from 1
    }
    case ControlType::checkbox: {
      int on = 0;
      parameters->paramGetValueAtTime(param, time, &on);
      return on != 0 ? 1 : 0;
    }
    default:
      return 0;
  }
}

void setConstant(HostSession& session, int position, double value) {
  setParamTrack(session, ParamAssignment{position, ParamTrack{{Keyframe{0.0, value}}, false}});
}

bool holdsValue(ControlType type) {
  return type == ControlType::slider || type == ControlType::angle || type == ControlType::choice ||
         type == ControlType::checkbox;
}

// The loaded session with every control at the host's value at the time, under the host's clock.
HostSession sessionAt(const Instance& instance, OfxTime time) {
  HostSession session = *instance.effect->session;
  OfxPropertySetHandle props = nullptr;
  effects->getPropertySet(instance.handle, &props);
  session.clock = clockForRate(doubleProperty(props, kOfxImageEffectPropFrameRate, 0, 24));
  const std::vector<Control>& controls = instance.effect->controls;
  for (size_t i = 0; i < controls.size(); ++i) {
    if (!holdsValue(controls[i].type) || !instance.controlParams[i]) {
      continue;
    }
    const double value = valueAt(controls[i], instance.controlParams[i], time);
    setConstant(session, controls[i].position, value);
    if (controls[i].twin >= 0) {
      setConstant(session, controls[i].twin, value);
    }
  }
  return session;
}

// Greys out the parameters as the effect draws its controls at the time.
void showControlStates(const Instance& instance, OfxTime time) {
  HostSession session = sessionAt(instance, time);
  if (session.outFlags & PF_OutFlag_SEND_UPDATE_PARAMS_UI) {
    updateParamsUi(session, frameAt(time, session.clock));
  }
  const std::vector<Control>& controls = instance.effect->controls;
  for (size_t i = 0; i < controls.size(); ++i) {
    if (!instance.controlParams[i]) {
      continue;
    }
    const PF_ParamUIFlags flags = session.params[controls[i].shownBy].def.ui_flags;
    OfxPropertySetHandle props = paramProperties(instance.controlParams[i]);
    if (intProperty(props, kOfxParamPropEnabled, 0, 1) != ((flags & PF_PUI_DISABLED) ? 0 : 1)) {
      properties->propSetInt(props, kOfxParamPropEnabled, 0, (flags & PF_PUI_DISABLED) ? 0 : 1);
    }
  }
}

// Writes a control's value into its parameter, as a key at the time or as its constant value.
// OpenFX takes doubles for sliders and hues, ints for choices (from 0) and checkboxes.
void setParameter(const Control& control, OfxParamHandle param, OfxTime time, double value, bool asKey) {
  if (control.type == ControlType::slider || control.type == ControlType::angle) {
    asKey ? parameters->paramSetValueAtTime(param, time, value) : parameters->paramSetValue(param, value);
  } else if (control.type == ControlType::choice || control.type == ControlType::checkbox) {
    const int number = control.type == ControlType::choice ? static_cast<int>(value) - 1 : value != 0;
    asKey ? parameters->paramSetValueAtTime(param, time, number) : parameters->paramSetValue(param, number);
  }
}

// A key at the time when the parameter is animated, else its constant value.
void setParameterAt(const Control& control, OfxParamHandle param, OfxTime time, double value) {
  unsigned keys = 0;
  parameters->paramGetNumKeys(param, &keys);
  setParameter(control, param, time, value, keys > 0);
}

// The effect hears of a change to a control it supervises; what it changes in return goes into
// the parameters, inside the user's change (one undo step in the host).
void takeUserChange(Instance& instance, size_t changed, OfxTime time) {
  const std::vector<Control>& controls = instance.effect->controls;
  HostSession session = sessionAt(instance, time);
  if (!isSupervised(session, controls[changed].position)) {
    return;
  }
  const HostSession before = session;
  const long frame = frameAt(time, session.clock);
  userChangedParam(session, controls[changed].position, frame);
  const A_long ticks = static_cast<A_long>(frame * session.clock.timeStep);
  for (size_t i = 0; i < controls.size(); ++i) {
    if (i == changed || !holdsValue(controls[i].type) || !instance.controlParams[i]) {
      continue;
    }
    const int position = controls[i].position;
    const std::optional<double> was = paramValue(definitionAt(before, position, ticks, session.clock.timeScale));
    const std::optional<double> now = paramValue(definitionAt(session, position, ticks, session.clock.timeScale));
    if (now && was != now) {
      setParameterAt(controls[i], instance.controlParams[i], time, *now);
    }
  }
}

// A settings file (saved by vortelline-studio, or a look from the library) sets every control: the
// file's values and keyframes at its own frame rate become the parameters' values and keys.
void applySettingsFile(Instance& instance, const std::string& path) {
  HostSession session = *instance.effect->session;
  const SettingsFile settings = readSettingsFile(path);
  applyAssignments(session, settings.assignments, path);
  const std::vector<Control>& controls = instance.effect->controls;
  parameters->paramEditBegin(instance.paramSet, "Vortelline settings file");
  for (size_t i = 0; i < controls.size(); ++i) {
    OfxParamHandle param = instance.controlParams[i];
    if (!holdsValue(controls[i].type) || !param) {
      continue;
    }
    parameters->paramDeleteAllKeys(param);
    const ParamTrack& track = session.tracks[controls[i].position];
    PF_ParamDef declared = session.params[controls[i].position].def;
    const double dephault = paramValue(declared).value_or(0);
    if (track.keys.empty()) {
      setParameter(controls[i], param, 0, dephault, false);
    } else if (!track.animated) {
      setParameter(controls[i], param, 0, track.keys.front().value, false);
    } else {
      // Keys are frames of the file's clock, the same frame numbers as the host's time.
      for (const Keyframe& key : track.keys) {
        setParameter(controls[i], param, key.time, key.value, true);
      }
    }
  }
  for (int id = 0; id < finishingControlCount; ++id) {
    if (OfxParamHandle param = instance.finishingParams[id]) {
      parameters->paramDeleteAllKeys(param);
      const double value = settings.scene.finishing[id];
      finishingControls[id].kind == FinishingKind::choice
          ? parameters->paramSetValue(param, static_cast<int>(value) - 1)
          : parameters->paramSetValue(param, value);
    }
  }
  parameters->paramEditEnd(instance.paramSet);
}

OfxStatus createInstance(OfxImageEffectHandle handle) {
  const std::shared_ptr<const LoadedEffect> effect = loadedEffect();
  if (!effect) {
    return kOfxStatFailed;
  }
  auto instance = std::make_unique<Instance>();
  instance->handle = handle;
  instance->effect = effect;
  OfxPropertySetHandle props = nullptr;
  effects->getPropertySet(handle, &props);
  const std::string context = stringProperty(props, kOfxImageEffectPropContext);
  effects->getParamSet(handle, &instance->paramSet);
  for (const Control& control : effect->controls) {
    instance->controlParams.push_back(paramHandle(instance->paramSet, control.name.c_str()));
  }
  for (int id = 0; id < finishingControlCount; ++id) {
    instance->finishingParams.push_back(paramHandle(instance->paramSet, finishingParamName(id).c_str()));
  }
  instance->outputAlpha = paramHandle(instance->paramSet, outputAlphaParam);
  instance->settingsFile = paramHandle(instance->paramSet, settingsFileParam);
  if (context != kOfxImageEffectContextGenerator) {
    effects->clipGetHandle(handle, kOfxImageEffectSimpleSourceClipName, &instance->source, nullptr);
  }
  effects->clipGetHandle(handle, kOfxImageEffectOutputClipName, &instance->output, nullptr);
  properties->propSetPointer(props, kOfxPropInstanceData, 0, instance.get());
  Instance& created = *instance.release();
  try {
    showControlStates(created, 0);
  } catch (const std::exception& error) {
    showError(created, error.what());
  }
  return kOfxStatOK;
}

OfxStatus destroyInstance(OfxImageEffectHandle handle) {
  delete instanceOf(handle);
  return kOfxStatOK;
}

OfxStatus instanceChanged(Instance& instance, OfxPropertySetHandle inArgs) {
  const std::string name = stringProperty(inArgs, kOfxPropName);
  const bool byUser = stringProperty(inArgs, kOfxPropChangeReason) == kOfxChangeUserEdited;
  const OfxTime time = doubleProperty(inArgs, kOfxPropTime);
  try {
    if (name == aboutParam) {
      if (messages) {
        HostSession session = *instance.effect->session;
        messages->message(instance.handle, kOfxMessageMessage, "", "%s", aboutText(session).c_str());
      }
      return kOfxStatOK;
    }
    // Loading is a button, not a change of the path: a host that restores a project or undoes a step
    // sets the path again, which must not replace the controls that the project holds.
    if (name == loadSettingsParam) {
      char* path = nullptr;
      parameters->paramGetValue(instance.settingsFile, &path);
      if (path && *path) {
        // Opening a FIFO waits for a writer, which would hang the host.
        std::error_code unknown;
        if (std::filesystem::is_other(std::filesystem::status(path, unknown))) {
          throw RunError(std::string(path) + " is a FIFO, socket or device, not a settings file");
        }
        applySettingsFile(instance, path);
      }
    }
    const std::vector<Control>& controls = instance.effect->controls;
    for (size_t i = 0; i < controls.size() && byUser; ++i) {
      if (controls[i].name == name && holdsValue(controls[i].type)) {
        takeUserChange(instance, i, time);
      }
    }
    showControlStates(instance, time);
    clearError(instance);
  } catch (const std::exception& error) {
    showError(instance, error.what());
    return kOfxStatFailed;
  }
  return kOfxStatOK;
}

// ---- Regions and rendering ----

bool sourceConnected(const Instance& instance) {
  if (!instance.source) {
    return false;
  }
  OfxPropertySetHandle props = nullptr;
  effects->clipGetPropertySet(instance.source, &props);
  return intProperty(props, kOfxImageClipPropConnected, 0, 0) != 0;
}

// The effect's layer in canonical coordinates: the source's region of definition, or without a
// source the project's extent.
OfxRectD layerRegion(const Instance& instance, OfxTime time) {
  if (sourceConnected(instance)) {
    OfxRectD region{};
    if (effects->clipGetRegionOfDefinition(instance.source, time, &region) == kOfxStatOK) {
      return region;
    }
  }
  OfxPropertySetHandle props = nullptr;
  effects->getPropertySet(instance.handle, &props);
  return OfxRectD{0, 0, doubleProperty(props, kOfxImageEffectPropProjectExtent, 0),
                  doubleProperty(props, kOfxImageEffectPropProjectExtent, 1)};
}

double projectAspect(const Instance& instance) {
  OfxPropertySetHandle props = nullptr;
  effects->getPropertySet(instance.handle, &props);
  return doubleProperty(props, kOfxImageEffectPropProjectPixelAspectRatio, 0, 1);
}

OfxStatus regionOfDefinition(Instance& instance, OfxPropertySetHandle inArgs, OfxPropertySetHandle outArgs) {
  setRect(outArgs, kOfxImageEffectPropRegionOfDefinition, layerRegion(instance, doubleProperty(inArgs, kOfxPropTime)));
  return kOfxStatOK;
}

// Flames rise from anywhere in the source, so every tile needs all of it.
OfxStatus regionsOfInterest(Instance& instance, OfxPropertySetHandle inArgs, OfxPropertySetHandle outArgs) {
  if (!sourceConnected(instance)) {
    return kOfxStatReplyDefault;
  }
  const std::string name = std::string(clipRegionOfInterestPrefix) + kOfxImageEffectSimpleSourceClipName;
  setRect(outArgs, name.c_str(), layerRegion(instance, doubleProperty(inArgs, kOfxPropTime)));
  return kOfxStatOK;
}

OfxStatus clipPreferences(OfxPropertySetHandle outArgs) {
  properties->propSetString(outArgs, kOfxImageEffectPropPreMultiplication, 0, kOfxImagePreMultiplied);
  properties->propSetInt(outArgs, kOfxImageEffectFrameVarying, 0, 1);
  return kOfxStatOK;
}

// An image the host lends for the length of an action.
struct ClipImage {
  OfxPropertySetHandle handle = nullptr;
  ClipImage() = default;
  ClipImage(const ClipImage&) = delete;
  ClipImage& operator=(const ClipImage&) = delete;
  ~ClipImage() {
    if (handle) {
      effects->clipReleaseImage(handle);
    }
  }
  ImageView view() const {
    ImageView image;
    void* data = nullptr;
    properties->propGetPointer(handle, kOfxImagePropData, 0, &data);
    image.data = static_cast<std::byte*>(data);
    int bounds[4] = {0, 0, 0, 0};
    properties->propGetIntN(handle, kOfxImagePropBounds, 4, bounds);
    image.bounds = PixelRect{bounds[0], bounds[1], bounds[2], bounds[3]};
    image.rowBytes = intProperty(handle, kOfxImagePropRowBytes);
    image.bitDepth = bitDepthOfName(stringProperty(handle, kOfxImageEffectPropPixelDepth));
    image.rgba = stringProperty(handle, kOfxImageEffectPropComponents) == kOfxImageComponentRGBA;
    return image;
  }
};

FinishingValues finishingAt(const Instance& instance, OfxTime time) {
  FinishingValues finishing;
  for (int id = 0; id < finishingControlCount; ++id) {
    if (!instance.finishingParams[id]) {
      continue;
    }
    double value = 0;
    if (finishingControls[id].kind == FinishingKind::choice) {
      int index = 0;
      parameters->paramGetValueAtTime(instance.finishingParams[id], time, &index);
      value = index + 1;
    } else {
      parameters->paramGetValueAtTime(instance.finishingParams[id], time, &value);
    }
    setFinishingValue(finishing, id, value);
  }
  return finishing;
}

OutputAlpha outputAlphaAt(const Instance& instance, OfxTime time) {
  int choice = 0;
  if (instance.outputAlpha) {
    parameters->paramGetValueAtTime(instance.outputAlpha, time, &choice);
  }
  return choice == 1 ? OutputAlpha::light : choice == 2 ? OutputAlpha::effect : OutputAlpha::automatic;
}

// The "Source" popup's choice at the time; 1 (the effect's own volume) when the effect has none.
double sourceChoiceAt(const Instance& instance, OfxTime time) {
  const std::vector<Control>& controls = instance.effect->controls;
  for (size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].position == instance.effect->sourcePosition && instance.controlParams[i]) {
      return valueAt(controls[i], instance.controlParams[i], time);
    }
  }
  return 1;
}

struct StopQuestion {
  OfxImageEffectHandle handle;
};

bool hostAborts(void* context) { return effects->abort(static_cast<StopQuestion*>(context)->handle) != 0; }

OfxStatus render(Instance& instance, OfxPropertySetHandle inArgs) {
  const OfxTime time = doubleProperty(inArgs, kOfxPropTime);
  int window[4] = {0, 0, 0, 0};
  properties->propGetIntN(inArgs, kOfxImageEffectPropRenderWindow, 4, window);
  const double scale = doubleProperty(inArgs, kOfxImageEffectPropRenderScale, 0, 1);
  const PixelRect renderWindow{window[0], window[1], window[2], window[3]};

  ClipImage output;
  if (effects->clipGetImage(instance.output, time, nullptr, &output.handle) != kOfxStatOK || !output.handle) {
    return kOfxStatFailed;
  }
  const ImageView outputImage = output.view();
  if (!outputImage.data || !outputImage.rgba || outputImage.bitDepth == 0) {
    showError(instance, "the host gave an output image that is not RGBA of 8, 16 or 32-bit float channels");
    return kOfxStatFailed;
  }
  try {
    HostSession session = sessionAt(instance, time);
    const long frame = frameAt(time, session.clock);
    const double aspect = projectAspect(instance);
    const OfxRectD layer = layerRegion(instance, time);
    // A render scale of 1/N is the effect's downsample N: a half-resolution viewer gets the
    // effect's own half-resolution frame.
    session.downsample = std::clamp(static_cast<int>(std::lround(1.0 / std::max(scale, 1.0 / 64))), 1, 64);
    // A source may have an infinite or empty region (a host's endless generator upstream).
    const double width = std::round((layer.x2 - layer.x1) / aspect);
    const double height = std::round(layer.y2 - layer.y1);
    if (!(width >= 1 && height >= 1 && width <= largestLayerSide && height <= largestLayerSide &&
          std::fabs(layer.x1) < 1e9 && std::fabs(layer.y1) < 1e9)) {
      throw RunError("the effect renders layers from 1 to " + std::to_string(largestLayerSide) +
                     " pixels on a side, not " + std::to_string(width) + " x " + std::to_string(height));
    }
    session.layerWidth = static_cast<A_long>(width);
    session.layerHeight = static_cast<A_long>(height);
    session.pixelAspect = rationalAspect(aspect);
    session.bitDepth = outputImage.bitDepth;
    // The frame at the render scale, in the host's pixel coordinates (y up).
    const int frameX = static_cast<int>(std::floor(layer.x1 * scale / aspect));
    const int frameY = static_cast<int>(std::floor(layer.y1 * scale));
    const PixelRect frameAtScale{frameX, frameY, frameX + scaledWidth(session), frameY + scaledHeight(session)};

    session.layers.clear();
    if (sourceConnected(instance)) {
      ClipImage source;
      if (effects->clipGetImage(instance.source, time, nullptr, &source.handle) == kOfxStatOK && source.handle) {
        const ImageView sourceImage = source.view();
        if (sourceImage.bitDepth != session.bitDepth || !sourceImage.rgba) {
          throw RunError("the source image's pixels are not RGBA of the output's depth");
        }
        session.layers.push_back(std::make_shared<const HostWorld>(worldFromImage(sourceImage, frameAtScale)));
      }
    }
    if (session.layers.empty()) {
      session.layers.push_back(
          std::make_shared<const HostWorld>(makeHostWorld(scaledWidth(session), scaledHeight(session), session.bitDepth)));
    }

    const FinishingValues finishing = finishingAt(instance, time);
    keyEmitterLayers(session, finishing);

    const std::optional<PF_LRect> window = frameRegionOf(renderWindow, frameAtScale);
    clearWindow(outputImage, renderWindow);
    if (window) {
      StopQuestion question{instance.handle};
      session.hostWantsStop = hostAborts;
      session.hostWantsStopContext = &question;
      // The glow spreads light from anywhere in the frame: a tile of a glowing frame is cut from the
      // whole frame.
      const PF_LRect region =
          glows(finishing) ? PF_LRect{0, 0, scaledWidth(session), scaledHeight(session)} : *window;
      HostWorld flames = renderRegion(session, frame, region);
      // Auto: alpha from the light where the look draws from the effect's own volume, whose frame
      // is opaque black; decided by the look rather than by the pixels, so every tile agrees.
      OutputAlpha alpha = outputAlphaAt(instance, time);
      if (alpha == OutputAlpha::automatic) {
        alpha = sourceChoiceAt(instance, time) == 1 ? OutputAlpha::light : OutputAlpha::effect;
      }
      finishFrame(flames, finishing, finishingFrameAt(session.clock, frame, 0, finishingLayerHeight(session)), alpha);
      writeWorldIntoImage(flames.world, region, frameAtScale, outputImage, renderWindow);
    }
  } catch (const Cancelled&) {
    clearWindow(outputImage, renderWindow);
    return kOfxStatFailed;
  } catch (const std::exception& error) {
    // A failed frame is transparent, never the last good one.
    clearWindow(outputImage, renderWindow);
    showError(instance, std::string("Vortelline: ") + error.what());
    return kOfxStatFailed;
  }
  clearError(instance);
  return kOfxStatOK;
}

// ---- Description ----

OfxPropertySetHandle defineParam(OfxParamSetHandle set, const char* type, const std::string& name,
                                 const std::string& label, const std::string& parent) {
  OfxPropertySetHandle props = nullptr;
  if (parameters->paramDefine(set, type, name.c_str(), &props) != kOfxStatOK || !props) {
    throw RunError("the host refused the parameter " + name);
  }
  properties->propSetString(props, kOfxPropLabel, 0, label.c_str());
  if (!parent.empty()) {
    properties->propSetString(props, kOfxParamPropParent, 0, parent.c_str());
  }
  return props;
}

void describeControl(OfxParamSetHandle set, const HostSession& session, const Control& control) {
  const DeclaredParam& declared = session.params[control.position];
  const PF_ParamDef& def = declared.def;
  const bool animates = !(def.flags & PF_ParamFlag_CANNOT_TIME_VARY);
  switch (control.type) {
    case ControlType::group:
      defineParam(set, kOfxParamTypeGroup, control.name, def.name, control.parent);
      break;
    case ControlType::slider:
    case ControlType::angle: {
      OfxPropertySetHandle props = defineParam(set, kOfxParamTypeDouble, control.name, def.name, control.parent);
      if (def.param_type == PF_Param_ANGLE) {
        properties->propSetDouble(props, kOfxParamPropDefault, 0, def.u.ad.dephault / 65536.0);
      } else {
        const PF_FloatSliderDef& slider = def.u.fs_d;
        properties->propSetDouble(props, kOfxParamPropDefault, 0, slider.dephault);
        properties->propSetDouble(props, kOfxParamPropMin, 0, slider.valid_min);
        properties->propSetDouble(props, kOfxParamPropMax, 0, slider.valid_max);
        properties->propSetDouble(props, kOfxParamPropDisplayMin, 0, slider.slider_min);
        properties->propSetDouble(props, kOfxParamPropDisplayMax, 0, slider.slider_max);
        properties->propSetInt(props, kOfxParamPropDigits, 0, std::max<int>(slider.precision, 1));
        properties->propSetDouble(props, kOfxParamPropIncrement, 0, std::pow(10.0, -std::max<int>(slider.precision, 1)));
        // The hidden slider is the one that animates; its dial only shows it.
        properties->propSetInt(props, kOfxParamPropAnimates, 0, animates ? 1 : 0);
      }
      if (control.type == ControlType::angle) {
        properties->propSetString(props, kOfxParamPropDoubleType, 0, kOfxParamDoubleTypeAngle);
      }
      if (def.param_type == PF_Param_ANGLE) {
        properties->propSetInt(props, kOfxParamPropAnimates, 0, animates ? 1 : 0);
      }
      break;
    }
    case ControlType::choice: {
      OfxPropertySetHandle props = defineParam(set, kOfxParamTypeChoice, control.name, def.name, control.parent);
      setStrings(props, kOfxParamPropChoiceOption, splitChoices(declared.choices));
      properties->propSetInt(props, kOfxParamPropDefault, 0, def.u.pd.dephault - 1);
      properties->propSetInt(props, kOfxParamPropAnimates, 0, animates ? 1 : 0);
      break;
    }
    case ControlType::checkbox: {
      const std::string label = declared.choices.empty() ? std::string(def.name) : declared.choices;
      OfxPropertySetHandle props = defineParam(set, kOfxParamTypeBoolean, control.name, def.name, control.parent);
      properties->propSetInt(props, kOfxParamPropDefault, 0, def.u.bd.dephault ? 1 : 0);
      properties->propSetInt(props, kOfxParamPropAnimates, 0, animates ? 1 : 0);
      properties->propSetString(props, kOfxParamPropHint, 0, label.c_str());
      break;
    }
    case ControlType::button: {
      OfxPropertySetHandle props = defineParam(set, kOfxParamTypePushButton, control.name, "About", control.parent);
      properties->propSetString(props, kOfxParamPropHint, 0, "The effect's About information");
      break;
    }
  }
}

// The finishing controls (what every host does to the effect's frames and emitter) from their table,
// each group defined before its first control.
void describeFinishingControl(OfxParamSetHandle set, int id) {
  const FinishingControl& control = finishingControls[id];
  const std::string group = finishingGroupName(id);
  if (id == 0 || std::string(finishingControls[id - 1].group) != control.group) {
    defineParam(set, kOfxParamTypeGroup, group, control.group, "");
  }
  OfxPropertySetHandle props = nullptr;
  if (control.kind == FinishingKind::choice) {
    props = defineParam(set, kOfxParamTypeChoice, finishingParamName(id), control.name, group);
    setStrings(props, kOfxParamPropChoiceOption, splitChoices(control.choices));
    properties->propSetInt(props, kOfxParamPropDefault, 0, static_cast<int>(control.defaultValue) - 1);
  } else {
    props = defineParam(set, kOfxParamTypeDouble, finishingParamName(id), control.name, group);
    properties->propSetDouble(props, kOfxParamPropDefault, 0, control.defaultValue);
    properties->propSetDouble(props, kOfxParamPropMin, 0, control.validMin);
    properties->propSetDouble(props, kOfxParamPropMax, 0, control.validMax);
    properties->propSetDouble(props, kOfxParamPropDisplayMin, 0, control.sliderMin);
    properties->propSetDouble(props, kOfxParamPropDisplayMax, 0, control.sliderMax);
  }
  properties->propSetString(props, kOfxParamPropHint, 0, control.description);
}

OfxStatus describe(OfxImageEffectHandle descriptor) {
  if (loadEffect() != kOfxStatOK) {
    return kOfxStatFailed;
  }
  const std::shared_ptr<const LoadedEffect> effect = loadedEffect();
  if (!effect) {
    return kOfxStatFailed;
  }
  OfxPropertySetHandle props = nullptr;
  effects->getPropertySet(descriptor, &props);
  const EffectRegistration& registration = effect->session->module.registration;
  properties->propSetString(props, kOfxPropLabel, 0, registration.name.c_str());
  properties->propSetString(props, kOfxImageEffectPluginPropGrouping, 0, registration.category.c_str());
  properties->propSetString(props, kOfxPropPluginDescription, 0,
                            "Procedural volumetric flames: rising from the source's alpha or luma and composited with "
                            "it (filter), or a volume or layer look on its own (generator)");
  setStrings(props, kOfxImageEffectPropSupportedContexts,
             {kOfxImageEffectContextFilter, kOfxImageEffectContextGenerator, kOfxImageEffectContextGeneral});
  setStrings(props, kOfxImageEffectPropSupportedPixelDepths, {kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat});
  properties->propSetInt(props, kOfxImageEffectPropSupportsMultipleClipDepths, 0, 0);
  properties->propSetInt(props, kOfxImageEffectPropSupportsMultiResolution, 0, 1);
  properties->propSetInt(props, kOfxImageEffectPropSupportsTiles, 0, 1);
  properties->propSetInt(props, kOfxImageEffectPropTemporalClipAccess, 0, 0);
  properties->propSetInt(props, kOfxImageEffectPluginPropSingleInstance, 0, 0);
  // Every render works on its own copy of the session, and the effect renders several at once:
  // one instance may render frames on several threads.
  properties->propSetString(props, kOfxImageEffectPluginRenderThreadSafety, 0, kOfxImageEffectRenderFullySafe);
  // The effect spreads a frame over the cores itself.
  properties->propSetInt(props, kOfxImageEffectPluginPropHostFrameThreading, 0, 0);
  return kOfxStatOK;
}

OfxStatus describeInContext(OfxImageEffectHandle descriptor, OfxPropertySetHandle inArgs) {
  const std::shared_ptr<const LoadedEffect> effect = loadedEffect();
  if (!effect) {
    return kOfxStatFailed;
  }
  const std::string context = stringProperty(inArgs, kOfxImageEffectPropContext);
  OfxPropertySetHandle clip = nullptr;
  if (context != kOfxImageEffectContextGenerator) {
    effects->clipDefine(descriptor, kOfxImageEffectSimpleSourceClipName, &clip);
    properties->propSetString(clip, kOfxImageEffectPropSupportedComponents, 0, kOfxImageComponentRGBA);
    // The whole source is fetched for every tile.
    properties->propSetInt(clip, kOfxImageEffectPropSupportsTiles, 0, 0);
    properties->propSetInt(clip, kOfxImageClipPropOptional, 0, context == kOfxImageEffectContextGeneral ? 1 : 0);
  }
  effects->clipDefine(descriptor, kOfxImageEffectOutputClipName, &clip);
  properties->propSetString(clip, kOfxImageEffectPropSupportedComponents, 0, kOfxImageComponentRGBA);
  properties->propSetInt(clip, kOfxImageEffectPropSupportsTiles, 0, 1);

  OfxParamSetHandle set = nullptr;
  effects->getParamSet(descriptor, &set);
  try {
    std::vector<std::string> topLevel;
    for (const Control& control : effect->controls) {
      describeControl(set, *effect->session, control);
      if (control.parent.empty()) {
        topLevel.push_back(control.name);
      }
    }
    for (int id = 0; id < finishingControlCount; ++id) {
      describeFinishingControl(set, id);
      if (id == 0 || std::string(finishingControls[id - 1].group) != finishingControls[id].group) {
        topLevel.push_back(finishingGroupName(id));
      }
    }
    OfxPropertySetHandle props =
        defineParam(set, kOfxParamTypeChoice, outputAlphaParam, "Output Alpha", "");
    setStrings(props, kOfxParamPropChoiceOption,
               std::vector<std::string>(std::begin(outputAlphaChoices), std::end(outputAlphaChoices)));
    properties->propSetInt(props, kOfxParamPropDefault, 0, 0);
    properties->propSetInt(props, kOfxParamPropAnimates, 0, 0);
    properties->propSetString(props, kOfxParamPropHint, 0,
                              "Alpha from the light makes flames on black composite over anything; the effect's own "
                              "frame is opaque for looks drawn from its own volume");
    topLevel.push_back(outputAlphaParam);
    props = defineParam(set, kOfxParamTypeString, settingsFileParam, "Settings File", "");
    properties->propSetString(props, kOfxParamPropStringMode, 0, kOfxParamStringIsFilePath);
    properties->propSetInt(props, kOfxParamPropStringFilePathExists, 0, 1);
    properties->propSetInt(props, kOfxParamPropAnimates, 0, 0);
    properties->propSetInt(props, kOfxParamPropEvaluateOnChange, 0, 0);
    properties->propSetString(props, kOfxParamPropHint, 0,
                              "A settings file saved by vortelline-studio, or a look from /usr/share/vortelline/presets");
    topLevel.push_back(settingsFileParam);
    props = defineParam(set, kOfxParamTypePushButton, loadSettingsParam, "Load Settings File", "");
    properties->propSetString(props, kOfxParamPropHint, 0,
                              "Sets every control to the settings file's values and keyframes, as one step to undo");
    topLevel.push_back(loadSettingsParam);
    props = defineParam(set, kOfxParamTypePage, pageParam, "Controls", "");
    setStrings(props, kOfxParamPropPageChild, topLevel);
  } catch (const std::exception& error) {
    if (messages) {
      messages->message(nullptr, kOfxMessageError, "", "Vortelline: %s", error.what());
    }
    return kOfxStatFailed;
  }
  return kOfxStatOK;
}

// ---- The entry points ----

void setHost(OfxHost* newHost) { host = newHost; }

OfxStatus load() {
  if (!host) {
    return kOfxStatErrFatal;
  }
  properties = static_cast<const OfxPropertySuiteV1*>(host->fetchSuite(host->host, kOfxPropertySuite, 1));
  effects = static_cast<const OfxImageEffectSuiteV1*>(host->fetchSuite(host->host, kOfxImageEffectSuite, 1));
  parameters = static_cast<const OfxParameterSuiteV1*>(host->fetchSuite(host->host, kOfxParameterSuite, 1));
  messages = static_cast<const OfxMessageSuiteV2*>(host->fetchSuite(host->host, kOfxMessageSuite, 2));
  if (!properties || !effects || !parameters) {
    return kOfxStatErrMissingHostFeature;
  }
  return loadEffect();
}

OfxStatus unload() {
  std::lock_guard<std::mutex> guard(effectLock);
  // Instances still alive keep the module until they go.
  sharedEffect.reset();
  return kOfxStatOK;
}

OfxStatus mainEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                    OfxPropertySetHandle outArgs) {
  if (!action) {
    return kOfxStatErrUnknown;
  }
  const std::string name = action;
  try {
    if (name == kOfxActionLoad) {
      return load();
    }
    if (name == kOfxActionUnload) {
      return unload();
    }
    auto effect = static_cast<OfxImageEffectHandle>(const_cast<void*>(handle));
    if (name == kOfxActionDescribe) {
      return describe(effect);
    }
    if (name == kOfxImageEffectActionDescribeInContext) {
      return describeInContext(effect, inArgs);
    }
    if (name == kOfxActionCreateInstance) {
      return createInstance(effect);
    }
    if (name == kOfxActionDestroyInstance) {
      return destroyInstance(effect);
    }
    Instance* instance = instanceOf(handle);
    if (!instance) {
      return kOfxStatReplyDefault;
    }
    if (name == kOfxImageEffectActionRender) {
      return render(*instance, inArgs);
    }
    if (name == kOfxImageEffectActionGetRegionOfDefinition) {
      return regionOfDefinition(*instance, inArgs, outArgs);
    }
    if (name == kOfxImageEffectActionGetRegionsOfInterest) {
      return regionsOfInterest(*instance, inArgs, outArgs);
    }
    if (name == kOfxImageEffectActionGetClipPreferences) {
      return clipPreferences(outArgs);
    }
    if (name == kOfxActionInstanceChanged) {
      return instanceChanged(*instance, inArgs);
    }
  } catch (const std::bad_alloc&) {
    return kOfxStatErrMemory;
  } catch (const std::exception&) {
    return kOfxStatFailed;
  }
  return kOfxStatReplyDefault;
}

OfxPlugin plugin{kOfxImageEffectPluginApi, kOfxImageEffectPluginApiVersion, pluginIdentifier, pluginVersionMajor,
                 pluginVersionMinor, setHost, mainEntry};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int OfxGetNumberOfPlugins() { return 1; }

__attribute__((visibility("default"))) OfxPlugin* OfxGetPlugin(int nth) { return nth == 0 ? &plugin : nullptr; }

}  // extern "C"
