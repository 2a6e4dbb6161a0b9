#include "finishing/finishing_controls.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "session/number_text.h"
#include "session/program_errors.h"

namespace {

// The controls as declared parameters, so that names and values are read exactly as the effect's
// own controls are (nearest names, choices by name, prefix or number). Position 0 stands for the
// input layer, which parseAssignment skips.
const std::vector<DeclaredParam>& finishingParams() {
  static const std::vector<DeclaredParam> params = [] {
    std::vector<DeclaredParam> declared(1);
    for (const FinishingControl& control : finishingControls) {
      DeclaredParam param;
      std::strncpy(param.def.name, control.name, sizeof param.def.name - 1);
      param.group = control.group;
      if (control.kind == FinishingKind::choice) {
        param.def.param_type = PF_Param_POPUP;
        param.choices = control.choices;
        param.def.u.pd.num_choices = static_cast<A_short>(splitChoices(control.choices).size());
        param.def.u.pd.dephault = static_cast<A_short>(control.defaultValue);
      } else {
        param.def.param_type = PF_Param_FLOAT_SLIDER;
        param.def.u.fs_d.valid_min = static_cast<float>(control.validMin);
        param.def.u.fs_d.valid_max = static_cast<float>(control.validMax);
        param.def.u.fs_d.slider_min = static_cast<float>(control.sliderMin);
        param.def.u.fs_d.slider_max = static_cast<float>(control.sliderMax);
        param.def.u.fs_d.dephault = static_cast<float>(control.defaultValue);
      }
      declared.push_back(param);
    }
    return declared;
  }();
  return params;
}

}  // namespace

std::string finishingControlName(int id) {
  return std::string(finishingControls[id].group) + "/" + finishingControls[id].name;
}

double clampedFinishingValue(int id, double value) {
  const FinishingControl& control = finishingControls[id];
  if (std::isnan(value)) {
    return control.defaultValue;
  }
  if (control.kind == FinishingKind::choice) {
    const double last = static_cast<double>(splitChoices(control.choices).size());
    return std::clamp(std::round(value), 1.0, last);
  }
  return std::clamp(value, control.validMin, control.validMax);
}

void setFinishingValue(FinishingValues& finishing, int id, double value) {
  finishing.values[id] = clampedFinishingValue(id, value);
}

bool glows(const FinishingValues& finishing) { return finishing[glowAmount] > 0.0 && finishing[glowRadius] > 0.0; }

bool flickers(const FinishingValues& finishing) { return finishing[flickerAmount] > 0.0; }

bool keysEmitter(const FinishingValues& finishing) { return static_cast<int>(finishing[emitterKeyMode]) != emitterKeyOff; }

bool namesFinishingControl(const std::string& name) {
  const size_t slash = name.find('/');
  if (slash == std::string::npos) {
    return false;
  }
  std::string group = name.substr(0, slash);
  group.erase(0, group.find_first_not_of(" \t"));
  group.erase(group.find_last_not_of(" \t") + 1);
  return std::any_of(std::begin(finishingControls), std::end(finishingControls), [&](const FinishingControl& control) {
    return lowercase(control.group) == lowercase(group);
  });
}

FinishingAssignment parseFinishingAssignment(const WrittenAssignment& written) {
  const ParamAssignment assignment = parseAssignment(finishingParams(), written);
  const int id = assignment.position - 1;
  if (assignment.track.animated) {
    throw UsageError(quoted(finishingControlName(id)) + " takes one value, not keyframes");
  }
  return FinishingAssignment{id, clampedFinishingValue(id, assignment.track.keys.front().value)};
}

std::string finishingValueText(int id, double value) {
  const FinishingControl& control = finishingControls[id];
  if (control.kind == FinishingKind::choice) {
    const std::vector<std::string> choices = splitChoices(control.choices);
    const long choice = std::lround(value);
    if (choice >= 1 && choice <= static_cast<long>(choices.size())) {
      return choices[choice - 1];
    }
  }
  return numberText(value);
}
