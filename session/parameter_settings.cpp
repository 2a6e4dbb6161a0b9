#include "session/parameter_settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "session/program_errors.h"

namespace {

std::string trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) {
    return {};
  }
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// "inner color / hue" and "Inner Color/Hue" name the same control.
std::string normalizedName(const std::string& text) {
  size_t slash = text.find('/');
  if (slash == std::string::npos) {
    return lowercase(trim(text));
  }
  return lowercase(trim(text.substr(0, slash))) + "/" + lowercase(trim(text.substr(slash + 1)));
}

std::string joinQuoted(const std::vector<std::string>& texts) {
  std::string joined;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) {
      joined += (i + 1 == texts.size()) ? " or " : ", ";
    }
    joined += quoted(texts[i]);
  }
  return joined;
}

bool isValueControl(const DeclaredParam& param) {
  switch (param.def.param_type) {
    case PF_Param_FLOAT_SLIDER:
    case PF_Param_POPUP:
    case PF_Param_CHECKBOX:
    case PF_Param_ANGLE:
      return true;
    default:
      return false;
  }
}

bool isNamedControl(const DeclaredParam& param) {
  return param.def.param_type != PF_Param_GROUP_END && param.def.param_type != PF_Param_GROUP_START &&
         param.def.name[0] != '\0';
}

// The names a user can type: every value control except the angles that only edit a hidden
// slider, qualified by group where the bare name repeats.
std::vector<std::string> settableNames(const std::vector<DeclaredParam>& params) {
  std::vector<std::string> names;
  for (int position = 1; position < static_cast<int>(params.size()); ++position) {
    if (isValueControl(params[position]) && hueSliderEditedBy(params, position) < 0) {
      names.push_back(qualifiedName(params, position));
    }
  }
  return names;
}

size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> previous(b.size() + 1);
  std::vector<size_t> current(b.size() + 1);
  std::iota(previous.begin(), previous.end(), size_t{0});
  for (size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t substitution = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitution});
    }
    std::swap(previous, current);
  }
  return previous[b.size()];
}

// The whole text must be a number; "nan" and "inf" are numbers too, so that a host can hand the
// effect whatever an expression could produce.
bool parseNumber(const std::string& text, double& number) {
  std::string trimmed = trim(text);
  if (trimmed.empty()) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  number = std::strtod(trimmed.c_str(), &end);
  return end == trimmed.c_str() + trimmed.size() && errno != ERANGE;
}

bool parseWholeNumber(const std::string& text, long& number) {
  std::string trimmed = trim(text);
  if (trimmed.empty()) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  number = std::strtol(trimmed.c_str(), &end, 10);
  return end == trimmed.c_str() + trimmed.size() && errno != ERANGE;
}

double parsePopupValue(const DeclaredParam& param, const std::string& controlName, const std::string& text) {
  std::vector<std::string> choices = splitChoices(param.choices);
  long number = 0;
  if (parseWholeNumber(text, number)) {
    if (number >= 1 && number <= static_cast<long>(choices.size())) {
      return static_cast<double>(number);
    }
  } else {
    std::string wanted = lowercase(trim(text));
    int prefixMatch = -1;
    int prefixMatches = 0;
    for (size_t i = 0; i < choices.size(); ++i) {
      std::string choice = lowercase(choices[i]);
      if (choice == wanted) {
        return static_cast<double>(i + 1);
      }
      if (!wanted.empty() && choice.compare(0, wanted.size(), wanted) == 0) {
        prefixMatch = static_cast<int>(i);
        ++prefixMatches;
      }
    }
    if (prefixMatches == 1) {
      return static_cast<double>(prefixMatch + 1);
    }
  }
  std::vector<std::string> ordered = nearestNames(trim(text), choices, choices.size());
  for (const std::string& choice : choices) {
    if (std::find(ordered.begin(), ordered.end(), choice) == ordered.end()) {
      ordered.push_back(choice);
    }
  }
  throw UsageError(quoted(trim(text)) + " is not a choice of " + controlName + "; choose " + joinQuoted(ordered) +
                   ", or a number from 1 to " + std::to_string(choices.size()));
}

double parseCheckboxValue(const std::string& controlName, const std::string& text) {
  std::string wanted = lowercase(trim(text));
  for (const char* on : {"on", "true", "yes", "1"}) {
    if (wanted == on) {
      return 1.0;
    }
  }
  for (const char* off : {"off", "false", "no", "0"}) {
    if (wanted == off) {
      return 0.0;
    }
  }
  throw UsageError(quoted(trim(text)) + " is not a value of the checkbox " + controlName + "; use on or off");
}

double parseValue(const DeclaredParam& param, const std::string& controlName, const std::string& text) {
  double number = 0.0;
  switch (param.def.param_type) {
    case PF_Param_FLOAT_SLIDER:
      if (!parseNumber(text, number)) {
        throw UsageError(quoted(trim(text)) + " is not a number (" + controlName + ")");
      }
      return number;
    case PF_Param_ANGLE:
      if (!parseNumber(text, number) || !std::isfinite(number) || std::fabs(number) > 32767.0) {
        throw UsageError(quoted(trim(text)) + " is not an angle in degrees (" + controlName + ")");
      }
      return number;
    case PF_Param_POPUP:
      return parsePopupValue(param, controlName, text);
    default:
      return parseCheckboxValue(controlName, text);
  }
}

ParamTrack parseTrack(const DeclaredParam& param, const std::string& controlName, const std::vector<WrittenKey>& keys) {
  if (keys.empty()) {
    throw UsageError(controlName + " needs a value");
  }
  ParamTrack track;
  track.animated = keys.front().frame.has_value();
  track.keys.reserve(keys.size());
  for (const WrittenKey& written : keys) {
    if (written.frame.has_value() != track.animated || (!track.animated && keys.size() > 1)) {
      throw UsageError("keyframes of " + controlName + " need a frame each, as VALUE@FRAME: " +
                       quoted(trim(written.value)));
    }
    track.keys.push_back(Keyframe{static_cast<double>(written.frame.value_or(0)),
                                  parseValue(param, controlName, written.value)});
  }
  // Stable, so that of two keys at one frame the first written is named first.
  std::stable_sort(track.keys.begin(), track.keys.end(),
                   [](const Keyframe& a, const Keyframe& b) { return a.time < b.time; });
  auto repeated = std::adjacent_find(track.keys.begin(), track.keys.end(),
                                     [](const Keyframe& a, const Keyframe& b) { return a.time == b.time; });
  if (repeated != track.keys.end()) {
    throw UsageError(controlName + " has two keyframes at frame " + std::to_string(static_cast<long>(repeated->time)));
  }
  return track;
}

}  // namespace

std::string lowercase(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

std::string quoted(const std::string& text) {
  // A value pasted or generated by mistake can be any length; its start says enough.
  constexpr size_t longest = 60;
  if (text.size() <= longest) {
    return "\"" + text + "\"";
  }
  size_t kept = longest;
  while (kept > 0 && (static_cast<unsigned char>(text[kept]) & 0xC0) == 0x80) {
    --kept;
  }
  return "\"" + text.substr(0, kept) + "...\" (" + std::to_string(text.size()) + " bytes)";
}

std::string qualifiedName(const std::vector<DeclaredParam>& params, int position) {
  const DeclaredParam& param = params[position];
  std::string name(param.def.name);
  return param.group.empty() ? name : param.group + "/" + name;
}

int hueSliderEditedBy(const std::vector<DeclaredParam>& params, int anglePosition) {
  const DeclaredParam& angle = params[anglePosition];
  if (angle.def.param_type != PF_Param_ANGLE) {
    return -1;
  }
  for (int position = 1; position < static_cast<int>(params.size()); ++position) {
    const DeclaredParam& slider = params[position];
    if (slider.def.param_type == PF_Param_FLOAT_SLIDER && (slider.def.ui_flags & PF_PUI_NO_ECW_UI) &&
        slider.group == angle.group && std::string(slider.def.name) == angle.def.name) {
      return position;
    }
  }
  return -1;
}

WrittenAssignment splitAssignment(const std::string& text) {
  size_t equals = text.find('=');
  if (equals == std::string::npos) {
    throw UsageError("--set needs Name=VALUE, got " + quoted(text));
  }
  WrittenAssignment written{trim(text.substr(0, equals)), {}};
  size_t start = equals + 1;
  while (true) {
    size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t at = item.find('@');
    WrittenKey key{std::nullopt, item.substr(0, at)};
    if (at != std::string::npos) {
      long frame = 0;
      if (!parseWholeNumber(item.substr(at + 1), frame) || frame < -largestKeyFrame || frame > largestKeyFrame) {
        throw UsageError(quoted(trim(item.substr(at + 1))) + " is not a frame number from " +
                         std::to_string(-largestKeyFrame) + " to " + std::to_string(largestKeyFrame) + " (" +
                         written.name + ")");
      }
      key.frame = frame;
    }
    written.keys.push_back(std::move(key));
    if (comma == std::string::npos) {
      return written;
    }
    start = comma + 1;
  }
}

ParamAssignment parseAssignment(const std::vector<DeclaredParam>& params, const std::string& text) {
  return parseAssignment(params, splitAssignment(text));
}

ParamAssignment parseAssignment(const std::vector<DeclaredParam>& params, const WrittenAssignment& written) {
  const std::string& wanted = written.name;
  std::string wantedKey = normalizedName(wanted);
  bool qualified = wantedKey.find('/') != std::string::npos;

  std::vector<int> matches;
  for (int position = 1; position < static_cast<int>(params.size()); ++position) {
    if (!isNamedControl(params[position])) {
      continue;
    }
    std::string name = qualified ? qualifiedName(params, position) : std::string(params[position].def.name);
    if (normalizedName(name) == wantedKey) {
      matches.push_back(position);
    }
  }
  // A colour's "Hue" names both the keyframable slider and the angle that edits it; the slider is
  // the value of record, and the host keeps the angle in step.
  std::erase_if(matches, [&](int position) {
    int slider = hueSliderEditedBy(params, position);
    return slider >= 0 && std::find(matches.begin(), matches.end(), slider) != matches.end();
  });

  if (matches.empty()) {
    throw UsageError("unknown control " + quoted(wanted) +
                     didYouMean(wanted, settableNames(params), "; `vortelline params` lists them"));
  }
  if (matches.size() > 1) {
    std::vector<std::string> names;
    for (int position : matches) {
      names.push_back(qualifiedName(params, position));
    }
    throw UsageError(quoted(wanted) + " names " + std::to_string(matches.size()) + " controls; use " +
                     joinQuoted(names));
  }

  int position = matches.front();
  const DeclaredParam& param = params[position];
  std::string controlName = qualifiedName(params, position);
  if (param.def.param_type == PF_Param_LAYER) {
    throw UsageError(quoted(controlName) + " is a layer; give its image with --emitter FILE");
  }
  if (!isValueControl(param) || hueSliderEditedBy(params, position) >= 0) {
    throw UsageError(quoted(controlName) + " has no value to set");
  }
  return ParamAssignment{position, parseTrack(param, controlName, written.keys)};
}

double trackValueAt(const ParamTrack& track, double time, bool interpolate) {
  const std::vector<Keyframe>& keys = track.keys;
  if (time <= keys.front().time) {
    return keys.front().value;
  }
  if (time >= keys.back().time) {
    return keys.back().value;
  }
  // The first key at or after time; a long track is searched, not walked, on every frame.
  auto next = std::lower_bound(keys.begin(), keys.end(), time,
                               [](const Keyframe& key, double at) { return key.time < at; });
  const Keyframe& before = *(next - 1);
  const Keyframe& after = *next;
  if (time == after.time) {
    return after.value;
  }
  if (!interpolate) {
    return before.value;
  }
  double fraction = (time - before.time) / (after.time - before.time);
  return before.value + (after.value - before.value) * fraction;
}

std::vector<std::string> nearestNames(const std::string& wanted, const std::vector<std::string>& candidates,
                                      size_t count) {
  std::string wantedKey = lowercase(trim(wanted));
  size_t tolerance = std::max<size_t>(2, wantedKey.size() / 3);
  std::vector<std::pair<size_t, std::string>> ranked;
  for (const std::string& candidate : candidates) {
    std::string key = lowercase(candidate);
    // A misspelt beginning of a long name ("Orignal" for "Original (256)") is close too.
    size_t distance = std::min(editDistance(wantedKey, key), editDistance(wantedKey, key.substr(0, wantedKey.size())));
    // So is a control's own name without its group ("Rise Hieght" for "Emitter/Rise Height").
    const size_t slash = key.rfind('/');
    if (slash != std::string::npos && wantedKey.find('/') == std::string::npos) {
      distance = std::min(distance, editDistance(wantedKey, key.substr(slash + 1)));
    }
    // So is a fragment from its middle ("frequency").
    bool fragment = wantedKey.size() >= 3 && key.find(wantedKey) != std::string::npos;
    if (distance <= tolerance || fragment) {
      ranked.emplace_back(fragment ? std::min(distance, tolerance) : distance, candidate);
    }
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> names;
  for (size_t i = 0; i < ranked.size() && i < count; ++i) {
    names.push_back(ranked[i].second);
  }
  return names;
}

std::string didYouMean(const std::string& wanted, const std::vector<std::string>& candidates,
                       const std::string& otherwise) {
  std::vector<std::string> close = nearestNames(wanted, candidates, 3);
  return close.empty() ? otherwise : "; did you mean " + joinQuoted(close) + "?";
}

std::vector<std::string> splitChoices(const std::string& choices) {
  std::vector<std::string> names;
  size_t start = 0;
  while (true) {
    size_t bar = choices.find('|', start);
    names.push_back(choices.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) {
      return names;
    }
    start = bar + 1;
  }
}

PF_Fixed degreesToFixed(double degrees) { return static_cast<PF_Fixed>(std::lround(degrees * 65536.0)); }
