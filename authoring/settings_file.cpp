#include "authoring/settings_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "authoring/render_options.h"
#include "media/input_files.h"
#include "session/host_pixels.h"
#include "session/program_errors.h"

namespace {

// Ordered, so that a file lists the controls as the panel shows them.
using json = nlohmann::ordered_json;

constexpr int formatVersion = 1;

// Shortest text that reads back as the same double, so a file keeps values to the bit.
std::string exactNumberText(double value) {
  char text[32];
  auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

json valueJson(const DeclaredParam& param, double value) {
  switch (param.def.param_type) {
    case PF_Param_POPUP: {
      std::vector<std::string> choices = splitChoices(param.choices);
      long choice = static_cast<long>(value);
      if (choice >= 1 && choice <= static_cast<long>(choices.size())) {
        return choices[choice - 1];
      }
      return choice;
    }
    case PF_Param_CHECKBOX:
      return value != 0.0;
    default:
      return value;
  }
}

bool isSavedControl(const HostSession& session, int position) {
  switch (session.params[position].def.param_type) {
    case PF_Param_FLOAT_SLIDER:
    case PF_Param_POPUP:
    case PF_Param_CHECKBOX:
      return true;
    case PF_Param_ANGLE:
      // A dial that edits a hidden slider is redrawn from it; the slider is saved.
      return hueSliderEditedBy(session.params, position) < 0;
    default:
      return false;
  }
}

// A 200,000-key animation takes 10.5 MB as the studio writes it. A settings file is parsed whole
// in memory (a few bytes of memory per byte of text), so an endless or huge stream stops here.
constexpr size_t largestSettingsFile = size_t{16} << 20;

// An object, after an optional UTF-8 byte order mark and white space: what every JSON settings
// file starts with, and what /dev/zero or an image never does.
FileStart judgeSettingsStart(const unsigned char* bytes, size_t length) {
  static const unsigned char byteOrderMark[3] = {0xEF, 0xBB, 0xBF};
  size_t at = 0;
  while (at < length && at < 3 && bytes[at] == byteOrderMark[at]) {
    ++at;
  }
  if (at > 0 && at < 3) {
    return at == length ? FileStart::tooShortToTell : FileStart::unexpected;
  }
  while (at < length && std::strchr(" \t\r\n", bytes[at]) != nullptr && bytes[at] != '\0') {
    ++at;
  }
  if (at == length) {
    return FileStart::tooShortToTell;
  }
  return bytes[at] == '{' ? FileStart::expected : FileStart::unexpected;
}

std::string jsonText(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// A whole number from lowest to highest; a fraction, a text or a number out of range is refused
// as itself, never truncated or wrapped.
long wholeNumber(const json& value, long lowest, long highest, const std::string& field) {
  bool inRange = false;
  if (value.is_number_unsigned()) {
    const uint64_t number = value.get<uint64_t>();
    inRange = number <= static_cast<uint64_t>(highest) && (lowest <= 0 || number >= static_cast<uint64_t>(lowest));
  } else if (value.is_number_integer()) {
    const int64_t number = value.get<int64_t>();
    inRange = number >= lowest && number <= highest;
  }
  if (!inRange) {
    throw UsageError(field + " must be a whole number from " + std::to_string(lowest) + " to " +
                     std::to_string(highest) + ", got " + jsonText(value));
  }
  return static_cast<long>(value.get<int64_t>());
}

const std::string& text(const json& value, const std::string& field) {
  if (!value.is_string()) {
    throw UsageError(field + " must be a text, got " + jsonText(value));
  }
  return value.get_ref<const std::string&>();
}

// A value as its control reads it from text: a number to the bit, a checkbox's on or off, or a
// text (a choice's name, or "nan") that stays one value.
std::string valueText(const json& value, const std::string& field) {
  if (value.is_boolean()) {
    return value.get<bool>() ? "on" : "off";
  }
  if (value.is_number()) {
    return exactNumberText(value.get<double>());
  }
  if (value.is_string()) {
    return value.get<std::string>();
  }
  throw UsageError(field + ": a value must be a number, a choice's name or true/false, got " + jsonText(value));
}

WrittenAssignment writtenAssignment(const std::string& name, const json& entry, const std::string& where) {
  const std::string field = where + ": \"" + name + "\"";
  if (!entry.is_object()) {
    return WrittenAssignment{name, {WrittenKey{std::nullopt, valueText(entry, field)}}};
  }
  const json& keys = entry.contains("keys") ? entry.at("keys") : json();
  if (!keys.is_array() || keys.empty()) {
    throw UsageError(field + " needs \"keys\": [[FRAME, VALUE], ...]");
  }
  WrittenAssignment written{name, {}};
  written.keys.reserve(keys.size());
  for (const json& key : keys) {
    if (!key.is_array() || key.size() != 2) {
      throw UsageError(field + " has a key that is not [FRAME, VALUE]: " + jsonText(key));
    }
    written.keys.push_back(WrittenKey{wholeNumber(key[0], -largestKeyFrame, largestKeyFrame, field + ": key frame"),
                                      valueText(key[1], field)});
  }
  return written;
}

// A number as a double, or a refusal naming the field.
double number(const json& value, const std::string& field) {
  if (!value.is_number()) {
    throw UsageError(field + " must be a number, got " + jsonText(value));
  }
  return value.get<double>();
}

// {"fit": "fit", "scale": 0.8, "offset": [0, -40]}; each entry may be left out.
EmitterPlacement readEmitterPlacement(const json& entry, const std::string& path) {
  const std::string field = path + ": emitter_placement";
  if (!entry.is_object()) {
    throw UsageError(field + " must be {\"fit\": ..., \"scale\": ..., \"offset\": [X, Y]}, got " + jsonText(entry));
  }
  EmitterPlacement placement;
  if (entry.contains("fit")) {
    try {
      placement.fit = parseEmitterFit(text(entry.at("fit"), field + "'s fit"));
    } catch (const UsageError&) {
      throw UsageError(field + "'s fit is none, fit, fill or centre");
    }
  }
  if (entry.contains("scale")) {
    placement.scale = number(entry.at("scale"), field + "'s scale");
  }
  if (entry.contains("offset")) {
    const json& offset = entry.at("offset");
    if (!offset.is_array() || offset.size() != 2) {
      throw UsageError(field + "'s offset is [X, Y] in layer pixels");
    }
    placement.offsetX = number(offset[0], field + "'s offset");
    placement.offsetY = number(offset[1], field + "'s offset");
  }
  if (!(placement.scale >= 0.01 && placement.scale <= 100.0) || !std::isfinite(placement.offsetX) ||
      !std::isfinite(placement.offsetY)) {
    throw UsageError(field + " needs a scale from 0.01 to 100 and a finite offset");
  }
  return placement;
}

constexpr const char* alignmentNames[] = {"left", "centre", "right"};

json textStyleJson(const EmitterTextStyle& style) {
  return json{{"font", style.family},
              {"bold", style.bold},
              {"size", style.pixelSize},
              {"anchor", {style.anchorX, style.anchorY}},
              {"alignment", alignmentNames[static_cast<int>(style.alignment)]}};
}

// {"font": "DejaVu Sans", "bold": true, "size": 0, "anchor": [0.5, 0.5], "alignment": "centre"};
// each entry may be left out.
EmitterTextStyle readTextStyle(const json& entry, const std::string& path) {
  const std::string field = path + ": emitter_text_style";
  if (!entry.is_object()) {
    throw UsageError(field + " must be {\"font\": ..., \"bold\": ..., \"size\": ..., \"anchor\": [X, Y], "
                     "\"alignment\": ...}, got " + jsonText(entry));
  }
  EmitterTextStyle style;
  if (entry.contains("font")) {
    style.family = text(entry.at("font"), field + "'s font");
  }
  if (entry.contains("bold")) {
    if (!entry.at("bold").is_boolean()) {
      throw UsageError(field + "'s bold must be true or false, got " + jsonText(entry.at("bold")));
    }
    style.bold = entry.at("bold").get<bool>();
  }
  if (entry.contains("size")) {
    style.pixelSize = static_cast<int>(wholeNumber(entry.at("size"), 0, largestLayerSide, field + "'s size"));
  }
  if (entry.contains("anchor")) {
    const json& anchor = entry.at("anchor");
    if (!anchor.is_array() || anchor.size() != 2) {
      throw UsageError(field + "'s anchor is [X, Y], fractions of the layer's width and height");
    }
    style.anchorX = number(anchor[0], field + "'s anchor");
    style.anchorY = number(anchor[1], field + "'s anchor");
    // The studio places the anchor from -100 % to 200 % of the layer.
    if (!(style.anchorX >= -1.0 && style.anchorX <= 2.0 && style.anchorY >= -1.0 && style.anchorY <= 2.0)) {
      throw UsageError(field + "'s anchor must be from -1 to 2, got " + jsonText(anchor));
    }
  }
  if (entry.contains("alignment")) {
    const std::string& name = text(entry.at("alignment"), field + "'s alignment");
    const auto* found = std::find(std::begin(alignmentNames), std::end(alignmentNames), name);
    if (found == std::end(alignmentNames)) {
      throw UsageError(field + "'s alignment is left, centre or right, got " + jsonText(entry.at("alignment")));
    }
    style.alignment = static_cast<TextAlignment>(found - std::begin(alignmentNames));
  }
  return style;
}

SettingsScene readScene(const json& file, const std::string& path) {
  SettingsScene scene;
  if (file.contains("layer")) {
    const json& layer = file.at("layer");
    if (!layer.is_object()) {
      throw UsageError(path + ": layer must be {\"width\": PIXELS, \"height\": PIXELS}, got " + jsonText(layer));
    }
    const json none;
    scene.width = static_cast<int>(
        wholeNumber(layer.contains("width") ? layer.at("width") : none, 1, largestLayerSide, path + ": layer width"));
    scene.height = static_cast<int>(
        wholeNumber(layer.contains("height") ? layer.at("height") : none, 1, largestLayerSide, path + ": layer height"));
  }
  if (file.contains("fps")) {
    PF_RationalScale rate = parseRate(text(file.at("fps"), path + ": fps"), path + ": fps", "\"24\" or \"30000/1001\"");
    scene.clock = FrameClock{static_cast<A_u_long>(rate.num), static_cast<A_long>(rate.den)};
  }
  if (file.contains("frame")) {
    scene.frame = wholeNumber(file.at("frame"), 0, largestKeyFrame, path + ": frame");
    if (scene.frame > lastFrameInTimeRange(scene.clock)) {
      throw UsageError(path + ": frame " + std::to_string(scene.frame) + " is beyond the host's time range at " +
                       frameRateText(scene.clock) + " fps");
    }
  }
  if (file.contains("last_frame")) {
    scene.lastFrame = wholeNumber(file.at("last_frame"), scene.frame, lastFrameInTimeRange(scene.clock),
                                  path + ": last_frame (from the frame on show to the host's time range)");
  }
  if (file.contains("loop")) {
    scene.loopLength = wholeNumber(file.at("loop"), 0, lastFrameInTimeRange(scene.clock) + 1, path + ": loop");
    if (scene.loopLength == 1) {
      throw UsageError(path + ": loop is 0 (none) or at least 2 frames");
    }
  }
  if (file.contains("emitter")) {
    // A relative emitter path is relative to the settings file, wherever the render runs.
    std::filesystem::path emitter = text(file.at("emitter"), path + ": emitter");
    scene.emitterPath = emitter.is_absolute() ? emitter.string()
                                              : (std::filesystem::path(path).parent_path() / emitter).string();
  }
  if (file.contains("emitter_text")) {
    scene.emitterText = text(file.at("emitter_text"), path + ": emitter_text");
  }
  if (file.contains("emitter_text_style")) {
    scene.emitterTextStyle = readTextStyle(file.at("emitter_text_style"), path);
  }
  if (file.contains("emitter_placement")) {
    scene.emitterPlacement = readEmitterPlacement(file.at("emitter_placement"), path);
  }
  return scene;
}

}  // namespace

void writeSettingsFile(const std::string& path, const HostSession& session, const SettingsScene& scene) {
  json controls = json::object();
  for (int position = 1; position < static_cast<int>(session.params.size()); ++position) {
    if (!isSavedControl(session, position)) {
      continue;
    }
    const DeclaredParam& param = session.params[position];
    const ParamTrack& track = session.tracks[position];
    const std::string name = qualifiedName(session.params, position);
    if (!track.animated) {
      controls[name] = valueJson(param, track.keys.empty() ? *paramValue(param.def) : track.keys.front().value);
      continue;
    }
    json keys = json::array();
    for (const Keyframe& key : track.keys) {
      keys.push_back(json::array({static_cast<long long>(key.time / session.clock.timeStep), valueJson(param, key.value)}));
    }
    controls[name] = json{{"keys", keys}};
  }
  json file{{"vortelline_settings", formatVersion},
            {"layer", {{"width", scene.width}, {"height", scene.height}}},
            {"fps", frameRateText(scene.clock)},
            {"frame", scene.frame}};
  if (scene.lastFrame) {
    file["last_frame"] = *scene.lastFrame;
  }
  if (scene.loopLength > 0) {
    file["loop"] = scene.loopLength;
  }
  for (int id = 0; id < finishingControlCount; ++id) {
    const double value = scene.finishing[id];
    if (value != finishingControls[id].defaultValue) {
      controls[finishingControlName(id)] = finishingControls[id].kind == FinishingKind::choice
                                               ? json(finishingValueText(id, value))
                                               : json(value);
    }
  }
  file["controls"] = controls;
  if (!scene.emitterPath.empty()) {
    file["emitter"] = scene.emitterPath;
  }
  if (!scene.emitterText.empty()) {
    file["emitter_text"] = scene.emitterText;
    file["emitter_text_style"] = textStyleJson(scene.emitterTextStyle);
  }
  if (!leavesImageAsItIs(scene.emitterPlacement)) {
    const EmitterPlacement& placement = scene.emitterPlacement;
    file["emitter_placement"] = {{"fit", emitterFitName(placement.fit)},
                                 {"scale", placement.scale},
                                 {"offset", {placement.offsetX, placement.offsetY}}};
  }

  // Written whole or not at all: an interrupted save keeps the previous file.
  const std::string partial = path + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << file.dump(2) << '\n';
    out.close();
    if (!out) {
      std::remove(partial.c_str());
      throw RunError("cannot write " + path);
    }
  }
  std::error_code error;
  std::filesystem::rename(partial, path, error);
  if (error) {
    std::remove(partial.c_str());
    throw RunError("cannot write " + path + ": " + error.message());
  }
}

namespace {

SettingsFile readSettingsContent(const std::string& path) {
  const InputRules rules{"the settings file", largestSettingsFile, judgeSettingsStart};
  std::vector<unsigned char> bytes;
  const InputRead read = readInputFile(path, rules, bytes);
  if (read == InputRead::tooLarge) {
    throw UsageError(path + " is larger than a settings file can be (" + std::to_string(largestSettingsFile >> 20) +
                     " MB)");
  }
  const std::string notSettings = path + " is not a settings file saved by vortelline-studio";
  // JSON holds no NUL byte; the parser would take one for the end and pass over what follows.
  if (const auto nul = std::find(bytes.begin(), bytes.end(), 0); nul != bytes.end() && read == InputRead::complete) {
    throw UsageError(notSettings + ": byte " + std::to_string(nul - bytes.begin()) +
                     " is a NUL, which a JSON file does not hold");
  }
  // The last name read, so that a value the parser cannot hold is named by its field.
  std::string field;
  const json::parser_callback_t trackField = [&field](int, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::key) {
      field = parsed.get<std::string>();
    }
    return true;
  };
  json file;
  try {
    if (read == InputRead::complete) {
      file = json::parse(bytes.begin(), bytes.end(), trackField);
    }
  } catch (const json::out_of_range&) {
    throw UsageError(path + ": " + (field.empty() ? std::string("a number") : ::quoted(field)) +
                     " has a number too large for any value (beyond 1.8e308)");
  } catch (const json::exception&) {
    throw UsageError(notSettings);
  }
  if (!file.is_object() || !file.contains("vortelline_settings")) {
    throw UsageError(notSettings);
  }
  if (file.at("vortelline_settings") != formatVersion) {
    throw UsageError(path + " is a settings file of another version");
  }

  SettingsFile settings;
  settings.scene = readScene(file, path);
  const auto description = file.find("description");
  if (description != file.end()) {
    settings.description = text(*description, path + ": description");
  }
  if (file.contains("controls")) {
    const json& controls = file.at("controls");
    if (!controls.is_object()) {
      throw UsageError(path + ": controls must be {\"Name\": VALUE, ...}, got " + jsonText(controls));
    }
    settings.assignments.reserve(controls.size());
    for (const auto& [name, entry] : controls.items()) {
      WrittenAssignment written = writtenAssignment(name, entry, path);
      if (!namesFinishingControl(name)) {
        settings.assignments.push_back(std::move(written));
        continue;
      }
      try {
        const FinishingAssignment finishing = parseFinishingAssignment(written);
        setFinishingValue(settings.scene.finishing, finishing.id, finishing.value);
      } catch (const UsageError& error) {
        throw UsageError(path + ": " + error.what());
      }
    }
  }
  return settings;
}

std::vector<int> applyWrittenAssignments(HostSession& session, const std::vector<WrittenAssignment>& assignments,
                                         const std::string& where) {
  std::vector<int> positions;
  for (const WrittenAssignment& written : assignments) {
    ParamAssignment assignment;
    try {
      assignment = parseAssignment(session.params, written);
    } catch (const UsageError& error) {
      throw UsageError(where + ": " + error.what());
    }
    setParamTrack(session, assignment);
    positions.push_back(assignment.position);
  }
  return positions;
}

}  // namespace

// What a file holds is the file's fault, not the command line's: a file that is no settings file,
// or that names a control or value the effect does not have, fails as an image that is no image
// does.
SettingsFile readSettingsFile(const std::string& path) {
  try {
    return readSettingsContent(path);
  } catch (const UsageError& error) {
    throw RunError(error.what());
  }
}

std::vector<int> applyAssignments(HostSession& session, const std::vector<WrittenAssignment>& assignments,
                                  const std::string& where) {
  try {
    return applyWrittenAssignments(session, assignments, where);
  } catch (const UsageError& error) {
    throw RunError(error.what());
  }
}

std::vector<int> applyAssignmentTexts(HostSession& session, const std::vector<std::string>& assignments,
                                      const std::string& where) {
  std::vector<WrittenAssignment> written;
  for (const std::string& text : assignments) {
    try {
      written.push_back(splitAssignment(text));
    } catch (const UsageError& error) {
      throw UsageError(where + ": " + error.what());
    }
  }
  return applyWrittenAssignments(session, written, where);
}

std::vector<std::string> takeFinishingAssignments(const std::vector<std::string>& assignments,
                                                  FinishingValues& finishing, const std::string& where) {
  std::vector<std::string> others;
  for (const std::string& text : assignments) {
    try {
      const WrittenAssignment written = splitAssignment(text);
      if (!namesFinishingControl(written.name)) {
        others.push_back(text);
        continue;
      }
      const FinishingAssignment assignment = parseFinishingAssignment(written);
      setFinishingValue(finishing, assignment.id, assignment.value);
    } catch (const UsageError& error) {
      throw UsageError(where + ": " + error.what());
    }
  }
  return others;
}

std::string frameRateText(const FrameClock& clock) {
  return clock.timeStep == 1 ? std::to_string(clock.timeScale)
                             : std::to_string(clock.timeScale) + "/" + std::to_string(clock.timeStep);
}
