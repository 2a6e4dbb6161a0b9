#include "frei0r/control_table.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "finishing/finishing_controls.h"
#include "session/number_text.h"
#include "session/parameter_settings.h"
#include "session/program_errors.h"

namespace {

PF_ParamType paramTypeOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::slider:
      return PF_Param_FLOAT_SLIDER;
    case ControlKind::choice:
      return PF_Param_POPUP;
    case ControlKind::checkbox:
      return PF_Param_CHECKBOX;
  }
  return PF_Param_NO_DATA;
}

// Four significant digits are enough to find a default on a host's slider.
std::string unitText(double unit) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", unit);
  return text;
}

// GStreamer's frei0r elements make property names lower case, with "-" for anything but letters
// and digits.
std::string gstreamerName(const std::string& name) {
  std::string property;
  for (char c : name) {
    property += std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '-';
  }
  return property;
}

// What the effect declared differs from the row, or empty when they agree.
std::string differenceFrom(const ControlRow& row, const DeclaredParam& declared) {
  const PF_ParamDef& def = declared.def;
  switch (row.kind) {
    case ControlKind::slider:
      if (static_cast<float>(def.u.fs_d.slider_min) != static_cast<float>(row.sliderMin) ||
          static_cast<float>(def.u.fs_d.slider_max) != static_cast<float>(row.sliderMax)) {
        return "slider range " + numberText(def.u.fs_d.slider_min) + " .. " + numberText(def.u.fs_d.slider_max);
      }
      if (static_cast<float>(def.u.fs_d.dephault) != static_cast<float>(row.defaultValue)) {
        return "default " + numberText(def.u.fs_d.dephault);
      }
      return "";
    case ControlKind::choice:
      if (declared.choices != row.choices) {
        return "choices " + declared.choices;
      }
      return def.u.pd.dephault == row.defaultValue ? "" : "default " + std::to_string(def.u.pd.dephault);
    case ControlKind::checkbox:
      return def.u.bd.dephault == row.defaultValue ? "" : "default " + std::to_string(def.u.bd.dephault);
  }
  return "";
}

}  // namespace

const std::vector<ControlRow>& finishingRows() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> qualified;
    for (int id = 0; id < finishingControlCount; ++id) {
      qualified.push_back(finishingControlName(id));
    }
    return qualified;
  }();
  static const std::vector<ControlRow> rows = [] {
    std::vector<ControlRow> made;
    for (int id = 0; id < finishingControlCount; ++id) {
      const FinishingControl& control = finishingControls[id];
      const bool choice = control.kind == FinishingKind::choice;
      made.push_back(ControlRow{names[id].c_str(), choice ? ControlKind::choice : ControlKind::slider,
                                control.sliderMin, control.sliderMax, control.defaultValue, control.choices});
    }
    return made;
  }();
  return rows;
}

double unitOrigin(const ControlRow& row) { return row.sliderMin > 0 ? 0 : row.sliderMin; }

double unitFromSlider(const ControlRow& row, double value) {
  return (value - unitOrigin(row)) / (row.sliderMax - unitOrigin(row));
}

double sliderFromUnit(const ControlRow& row, double unit) {
  return unitOrigin(row) + unit * (row.sliderMax - unitOrigin(row));
}

std::vector<std::string> choiceTexts(const ControlRow& row) { return splitChoices(row.choices); }

int choiceNumber(const ControlRow& row, const std::string& text) {
  std::vector<std::string> choices = choiceTexts(row);
  for (size_t i = 0; i < choices.size(); ++i) {
    if (strcasecmp(choices[i].c_str(), text.c_str()) == 0 || text == std::to_string(i + 1)) {
      return static_cast<int>(i + 1);
    }
  }
  return 0;
}

std::vector<int> findControls(const HostSession& session) {
  std::vector<int> positions;
  for (const ControlRow& row : controlTable) {
    int found = -1;
    for (int position = 1; position < static_cast<int>(session.params.size()) && found < 0; ++position) {
      if (session.params[position].def.param_type == paramTypeOf(row.kind) &&
          qualifiedName(session.params, position) == row.name) {
        found = position;
      }
    }
    if (found < 0) {
      throw RunError(std::string("the effect has no control \"") + row.name + "\" of the plug-in's kind");
    }
    std::string difference = differenceFrom(row, session.params[found]);
    if (!difference.empty()) {
      throw RunError(std::string("the effect's control \"") + row.name + "\" has " + difference +
                     ", not what the plug-in's table says");
    }
    positions.push_back(found);
  }
  return positions;
}

std::string markdownTable() {
  std::string text =
      "| Parameter (FFmpeg, MLT) | GStreamer property | Type | Values (sliders: what 0 .. 1 maps onto) | Default |\n"
      "|---|---|---|---|---|\n";
  std::vector<ControlRow> rows(std::begin(controlTable), std::end(controlTable));
  rows.insert(rows.end(), finishingRows().begin(), finishingRows().end());
  for (const ControlRow& row : rows) {
    text += std::string("| ") + row.name + " | " + gstreamerName(row.name) + " | ";
    switch (row.kind) {
      case ControlKind::slider:
        text += "double | " + numberText(unitOrigin(row)) + " .. " + numberText(row.sliderMax) +
                (unitOrigin(row) != row.sliderMin ? " (slider from " + numberText(row.sliderMin) + ")" : "") + " | " +
                numberText(row.defaultValue) + " (" + unitText(unitFromSlider(row, row.defaultValue)) + ")";
        break;
      case ControlKind::choice: {
        std::vector<std::string> choices = choiceTexts(row);
        std::string listed;
        for (size_t i = 0; i < choices.size(); ++i) {
          listed += (i ? ", " : "") + std::to_string(i + 1) + " " + choices[i];
        }
        text += "string | " + listed + " | " + choices.at(static_cast<size_t>(row.defaultValue) - 1);
        break;
      }
      case ControlKind::checkbox:
        text += std::string("bool | off, on | ") + (row.defaultValue != 0 ? "on" : "off");
        break;
    }
    text += " |\n";
  }
  return text;
}
