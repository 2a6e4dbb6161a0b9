#include "hostlib/settings_file.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "hostlib/program_errors.h"
#include "hostlib/render_options.h"

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

std::string valueText(const json& value, const std::string& where) {
  if (value.is_boolean()) {
    return value.get<bool>() ? "on" : "off";
  }
  if (value.is_number()) {
    return exactNumberText(value.get<double>());
  }
  if (value.is_string()) {
    return value.get<std::string>();
  }
  throw UsageError(where + ": a value must be a number, a choice's name or true/false");
}

std::string assignmentText(const std::string& name, const json& entry, const std::string& where) {
  const std::string entryWhere = where + ": \"" + name + "\"";
  if (!entry.is_object()) {
    return name + "=" + valueText(entry, entryWhere);
  }
  const json& keys = entry.contains("keys") ? entry.at("keys") : json();
  if (!keys.is_array() || keys.empty()) {
    throw UsageError(entryWhere + " needs \"keys\": [[FRAME, VALUE], ...]");
  }
  std::string text = name + "=";
  for (size_t i = 0; i < keys.size(); ++i) {
    const json& key = keys[i];
    if (!key.is_array() || key.size() != 2 || !key[0].is_number_integer()) {
      throw UsageError(entryWhere + " has a key that is not [FRAME, VALUE]");
    }
    text += (i ? "," : "") + valueText(key[1], entryWhere) + "@" + std::to_string(key[0].get<long long>());
  }
  return text;
}

// {"fit": "fit", "scale": 0.8, "offset": [0, -40]}; each entry may be left out.
EmitterPlacement readEmitterPlacement(const json& entry, const std::string& path) {
  EmitterPlacement placement;
  try {
    placement.fit = parseEmitterFit(entry.value("fit", "none"));
  } catch (const UsageError&) {
    throw UsageError(path + ": emitter_placement's fit is none, fit, fill or centre");
  }
  placement.scale = entry.value("scale", 1.0);
  const json offset = entry.value("offset", json::array({0.0, 0.0}));
  if (!offset.is_array() || offset.size() != 2) {
    throw UsageError(path + ": emitter_placement's offset is [X, Y] in layer pixels");
  }
  placement.offsetX = offset[0].get<double>();
  placement.offsetY = offset[1].get<double>();
  if (!(placement.scale >= 0.01 && placement.scale <= 100.0) || !std::isfinite(placement.offsetX) ||
      !std::isfinite(placement.offsetY)) {
    throw UsageError(path + ": emitter_placement needs a scale from 0.01 to 100 and a finite offset");
  }
  return placement;
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
            {"frame", scene.frame},
            {"controls", controls}};
  if (!scene.emitterPath.empty()) {
    file["emitter"] = scene.emitterPath;
  }
  if (!scene.emitterText.empty()) {
    file["emitter_text"] = scene.emitterText;
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

SettingsFile readSettingsFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw RunError("cannot read the settings file " + path);
  }
  std::stringstream text;
  text << in.rdbuf();
  json file = json::parse(text.str(), nullptr, false);
  if (file.is_discarded() || !file.is_object() || !file.contains("vortelline_settings")) {
    throw UsageError(path + " is not a settings file saved by vortelline-studio");
  }
  if (file.at("vortelline_settings") != formatVersion) {
    throw UsageError(path + " is a settings file of another version");
  }

  SettingsFile settings;
  SettingsScene& scene = settings.scene;
  try {
    if (file.contains("layer")) {
      FrameSize size = parseFrameSize(std::to_string(file.at("layer").at("width").get<long long>()) + "x" +
                                      std::to_string(file.at("layer").at("height").get<long long>()));
      scene.width = size.width;
      scene.height = size.height;
    }
    if (file.contains("fps")) {
      PF_RationalScale rate = parseRate(file.at("fps").get<std::string>(), path + ": fps", "\"24\" or \"30000/1001\"");
      scene.clock = FrameClock{static_cast<A_u_long>(rate.num), static_cast<A_long>(rate.den)};
    }
    if (file.contains("frame")) {
      scene.frame = file.at("frame").get<long>();
      if (scene.frame < 0) {
        throw UsageError(path + ": frame must not be negative");
      }
    }
    if (file.contains("emitter")) {
      // A relative emitter path is relative to the settings file, wherever the render runs.
      std::filesystem::path emitter = file.at("emitter").get<std::string>();
      scene.emitterPath = emitter.is_absolute() ? emitter.string()
                                                : (std::filesystem::path(path).parent_path() / emitter).string();
    }
    if (file.contains("emitter_text")) {
      scene.emitterText = file.at("emitter_text").get<std::string>();
    }
    if (file.contains("emitter_placement")) {
      scene.emitterPlacement = readEmitterPlacement(file.at("emitter_placement"), path);
    }
    if (file.contains("controls")) {
      for (const auto& [name, entry] : file.at("controls").items()) {
        settings.assignments.push_back(assignmentText(name, entry, path));
      }
    }
  } catch (const json::exception&) {
    throw UsageError(path + " has an entry of the wrong kind (layer width and height, fps, frame, emitter and "
                            "emitter placement are a number, a text, a number, a text and an object)");
  }
  return settings;
}

std::vector<int> applyAssignments(HostSession& session, const std::vector<std::string>& assignments,
                                  const std::string& where) {
  std::vector<int> positions;
  for (const std::string& text : assignments) {
    ParamAssignment assignment;
    try {
      assignment = parseAssignment(session.params, text);
    } catch (const UsageError& error) {
      throw UsageError(where + ": " + error.what());
    }
    setParamTrack(session, assignment);
    positions.push_back(assignment.position);
  }
  return positions;
}

std::string frameRateText(const FrameClock& clock) {
  return clock.timeStep == 1 ? std::to_string(clock.timeScale)
                             : std::to_string(clock.timeScale) + "/" + std::to_string(clock.timeStep);
}
