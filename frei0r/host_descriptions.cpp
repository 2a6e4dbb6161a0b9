#include "frei0r/host_descriptions.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "frei0r/control_table.h"
#include "frei0r/plugin_params.h"
#include "session/parameter_settings.h"
#include "session/program_errors.h"

namespace {

enum class Plugin { filter, source };

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

// "Emitter/Rise Height" reads "Emitter: Rise Height".
std::string readableName(const std::string& name) {
  const size_t slash = name.find('/');
  return slash == std::string::npos ? name : name.substr(0, slash) + ": " + name.substr(slash + 1);
}

std::string groupOf(const std::string& name) {
  const size_t slash = name.find('/');
  return slash == std::string::npos ? "" : name.substr(0, slash);
}

std::string shortName(const std::string& name) {
  const size_t slash = name.find('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// The rows an editor shows: the effect's controls, then the finishing controls.
const std::vector<ControlRow>& editorRows() {
  static const std::vector<ControlRow> rows = [] {
    std::vector<ControlRow> all(std::begin(controlTable), std::end(controlTable));
    all.insert(all.end(), finishingRows().begin(), finishingRows().end());
    return all;
  }();
  return rows;
}

// Where this plug-in starts a control elsewhere than the effect or the finishing table.
struct OwnDefault {
  double value;
  const char* why;
};

std::optional<OwnDefault> ownDefault(const ControlRow& row, Plugin plugin) {
  for (const PluginControlDefault& own : pluginControlDefaults) {
    if (std::string(own.control) == row.name && (plugin == Plugin::filter || !own.filterOnly)) {
      return OwnDefault{own.value, own.why};
    }
  }
  for (const PluginFinishingDefault& own : pluginFinishingDefaults) {
    if (finishingControlName(own.control) == row.name && (plugin == Plugin::filter || !own.filterOnly)) {
      return OwnDefault{own.value, own.why};
    }
  }
  return std::nullopt;
}

double pluginDefault(const ControlRow& row, Plugin plugin) {
  const std::optional<OwnDefault> own = ownDefault(row, plugin);
  return own ? own->value : row.defaultValue;
}

// Decimals that show a slider's steps without noise: fine ranges need more.
int decimalsOf(const ControlRow& row) {
  const double span = row.sliderMax - row.sliderMin;
  return span <= 3 ? 3 : span <= 20 ? 2 : 1;
}

// The plug-in parameters an editor shows. fps and milliseconds stay unset: MLT passes seconds and
// the plug-in finds the frame from the time at the usual rates. own_values belongs to the
// description: Kdenlive's fixes it on, Shotcut's panel converts to [0, 1] itself.
bool editorShows(const PluginParam& param, Plugin plugin) {
  const std::string name = param.name;
  return (plugin == Plugin::filter || !param.filterOnly) && name != "fps" && name != "milliseconds" &&
         name != "own_values";
}

std::vector<const PluginParam*> editorParams(Plugin plugin) {
  std::vector<const PluginParam*> params;
  for (const PluginParam& param : leadingPluginParams) {
    if (editorShows(param, plugin)) {
      params.push_back(&param);
    }
  }
  for (const PluginParam& param : trailingPluginParams) {
    if (editorShows(param, plugin)) {
      params.push_back(&param);
    }
  }
  return params;
}

std::string xmlEscaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : std::string(1, c);
  }
  return escaped;
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) {
    text += (i ? separator : "") + parts[i];
  }
  return text;
}

// ---- Kdenlive ----

// Kdenlive's list sends one of paramlist, which may hold no spaces: the choices go by number.
std::string kdenliveList(const std::string& name, const std::string& title, const std::vector<std::string>& values,
                         const std::vector<std::string>& shown, const std::string& dephault,
                         const std::string& comment) {
  return "    <parameter type=\"list\" name=\"" + xmlEscaped(name) + "\" default=\"" + xmlEscaped(dephault) +
         "\" paramlist=\"" + xmlEscaped(joined(values, ";")) + "\">\n      <paramlistdisplay>" +
         xmlEscaped(joined(shown, ",")) + "</paramlistdisplay>\n      <name>" + xmlEscaped(title) + "</name>\n" +
         (comment.empty() ? "" : "      <comment>" + xmlEscaped(comment) + "</comment>\n") + "    </parameter>\n";
}

std::string kdenlivePluginParam(const PluginParam& param) {
  const std::string name = param.name;
  if (name == "settings") {
    return "    <parameter type=\"url\" name=\"settings\" filter=\"*.json\">\n      <name>Settings file from "
           "vortelline-studio</name>\n      <comment>" +
           xmlEscaped(param.explanation) + "</comment>\n    </parameter>\n";
  }
  std::vector<std::string> choices = splitChoices(param.choices);
  if (std::string(param.choices).empty()) {
    // Free text, such as the pixel aspect ratio: Kdenlive has no text field for an effect, so it
    // offers the usual ratios (square, PAL and NTSC 16:9 and 4:3, anamorphic 4:3 and 2:1).
    choices = {"1", "64/45", "16/15", "8/9", "32/27", "4/3", "2"};
  }
  std::string title = name;
  title[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(title[0])));
  return kdenliveList(name, name == "aspect" ? "Pixel aspect" : title, choices, choices, param.defaultText,
                      param.explanation);
}

// Kdenlive shows a frei0r value times its factor and has no offset, and MLT passes any number on as
// it is: with own_values fixed on in the description, every slider shows and sets the control's own
// value. (A fixed text would not do: Kdenlive reads a fixed value as a number, "own" as 0.)
std::string kdenliveControl(const ControlRow& row, Plugin plugin, bool animated) {
  const std::string name = row.name;
  const double dephault = pluginDefault(row, plugin);
  switch (row.kind) {
    case ControlKind::choice: {
      std::vector<std::string> numbers;
      for (size_t i = 1; i <= choiceTexts(row).size(); ++i) {
        numbers.push_back(std::to_string(i));
      }
      return kdenliveList(name, readableName(name), numbers, choiceTexts(row), number(dephault),
                          ownDefault(row, plugin) ? ownDefault(row, plugin)->why : "");
    }
    case ControlKind::checkbox:
      return "    <parameter type=\"bool\" name=\"" + xmlEscaped(name) + "\" default=\"" + number(dephault) +
             "\">\n      <name>" + xmlEscaped(readableName(name)) + "</name>\n    </parameter>\n";
    case ControlKind::slider:
      break;
  }
  return "    <parameter type=\"" + std::string(animated ? "animated" : "constant") + "\" name=\"" + xmlEscaped(name) +
         "\" default=\"" + number(dephault) + "\" min=\"" + number(row.sliderMin) + "\" max=\"" + number(row.sliderMax) +
         "\" decimals=\"" + std::to_string(decimalsOf(row)) + "\">\n      <name>" + xmlEscaped(readableName(name)) +
         "</name>\n    </parameter>\n";
}

// The generator's dialog has no scroll bar and must fit a 1080-line screen (it fills 1000 lines): it
// keeps what shapes the flames, and a source without a layer has only its own volume to burn. The
// finishing controls stay at their defaults there (a settings file sets them); the effect shows them.
bool generatorDialogShows(const ControlRow& row) {
  const std::string name = row.name;
  return name != "Processing" && name != "Emitter/Source" && name != "Smooth Sampling" && name != "Step Size" &&
         name != "Animation Offset" && groupOf(name) != "View" && !namesFinishingControl(name);
}

std::string kdenliveDescription(Plugin plugin) {
  const bool filter = plugin == Plugin::filter;
  const std::string service = filter ? "frei0r.vortelline" : "frei0r.vortelline_src";
  const std::string element = filter ? "effect" : "generator";
  std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE kpartgui>\n<!-- Made by vortelline_frei0r_table from the "
                     "plug-ins' tables. -->\n<" +
                     element + " LC_NUMERIC=\"C\" tag=\"" + service + "\" id=\"" + service + "\">\n";
  text += std::string("    <name>") + (filter ? "Vortelline Flames" : "Vortelline Flames Generator") + "</name>\n";
  text += std::string("    <description>") +
          (filter ? "Volumetric flames rising from the clip's luma or alpha, added to the clip"
                  : "Volumetric flames on a transparent frame") +
          "</description>\n    <author>Vortelline</author>\n";
  text += "    <parameter type=\"fixed\" name=\"own_values\" default=\"1\"/>\n";
  for (const PluginParam* param : editorParams(plugin)) {
    text += kdenlivePluginParam(*param);
  }
  for (const ControlRow& row : editorRows()) {
    if (filter || generatorDialogShows(row)) {
      text += kdenliveControl(row, plugin, filter);
    } else {
      // Hidden, at the plug-in's default: a settings file sets it, or the clip's MLT file.
      text += "    <parameter type=\"fixed\" name=\"" + xmlEscaped(row.name) + "\" default=\"" +
              number(pluginDefault(row, plugin)) + "\"/>\n";
    }
  }
  return text + "</" + element + ">\n";
}

// ---- Shotcut ----

std::string qmlString(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c == '\'' ? "\\'" : c == '\\' ? "\\\\" : std::string(1, c);
  }
  return quoted + "'";
}

// Shotcut's filter list takes filters only: the flames alone are the filter plug-in burning its own
// volume (Emitter/Source "Original Volume"), added to the clip or alone on a transparent clip.
struct ShotcutEntry {
  const char* folder;
  const char* title;
  const char* keywords;
  int sourceChoice;  // 0: the plug-in's default
};
constexpr ShotcutEntry shotcutEntries[] = {
    {"vortelline", "Vortelline Flames", "fire flames burn volumetric vortelline", 0},
    {"vortelline_generator", "Vortelline Flames Generator", "fire flames generator volumetric vortelline", 1},
};

double shotcutDefault(const ControlRow& row, const ShotcutEntry& entry) {
  return entry.sourceChoice != 0 && std::string(row.name) == "Emitter/Source" ? entry.sourceChoice
                                                                               : pluginDefault(row, Plugin::filter);
}

std::string shotcutMeta(const ShotcutEntry& entry) {
  std::string text =
      "// Made by vortelline_frei0r_table from the plug-ins' tables.\nimport QtQuick 2.0\nimport org.shotcut.qml 1.0\n\n"
      "Metadata {\n    type: Metadata.Filter\n    name: qsTr(" +
      qmlString(entry.title) + ")\n    keywords: " + qmlString(entry.keywords) +
      "\n    mlt_service: 'frei0r.vortelline'\n    objectName: " + qmlString(entry.folder) +
      "\n    qml: 'ui.qml'\n\n    keyframes {\n        allowAnimateIn: true\n        allowAnimateOut: true\n"
      "        simpleProperties: [";
  std::string parameters;
  bool first = true;
  for (const ControlRow& row : editorRows()) {
    if (row.kind != ControlKind::slider) {
      continue;
    }
    text += std::string(first ? "" : ", ") + qmlString(row.name);
    parameters += std::string(first ? "" : ",\n") + "            Parameter {\n                name: qsTr(" +
                  qmlString(readableName(row.name)) + ")\n                property: " + qmlString(row.name) +
                  "\n                isCurve: true\n                minimum: 0\n                maximum: 1\n            }";
    first = false;
  }
  return text + "]\n        parameters: [\n" + parameters + "\n        ]\n    }\n}\n";
}

std::string shotcutSliderRow(int index, const ControlRow& row, const ShotcutEntry& entry) {
  const std::string id = "slider" + std::to_string(index);
  const std::string keys = "keyframes" + std::to_string(index);
  const std::string unit = "unitAt(" + std::to_string(index) + ", " + id + ".value)";
  const double step = std::pow(10.0, -decimalsOf(row));
  return "        Label {\n            text: qsTr(" + qmlString(shortName(row.name)) +
         ")\n            Layout.alignment: Qt.AlignRight\n        }\n        Shotcut.SliderSpinner {\n            id: " + id +
         "\n            minimumValue: " + number(row.sliderMin) + "\n            maximumValue: " + number(row.sliderMax) +
         "\n            decimals: " + std::to_string(decimalsOf(row)) + "\n            stepSize: " + number(step) +
         "\n            onValueChanged: updateFilter(" + qmlString(row.name) + ", " + unit + ", " + keys +
         ", getPosition())\n        }\n        Shotcut.UndoButton {\n            onClicked: " + id +
         ".value = " + number(shotcutDefault(row, entry)) + "\n        }\n        Shotcut.KeyframesButton {\n            id: " +
         keys + "\n            onToggled: {\n                enableControls(true);\n                toggleKeyframes(checked, " +
         qmlString(row.name) + ", " + unit + ");\n            }\n        }\n";
}

std::string shotcutChoiceRow(int index, const std::string& property, const std::string& label,
                             const std::vector<std::string>& choices, const std::string& dephault,
                             const std::string& tip) {
  std::string model;
  for (const std::string& choice : choices) {
    model += (model.empty() ? "" : ", ") + qmlString(choice);
  }
  const std::string id = "choice" + std::to_string(index);
  return "        Label {\n            text: qsTr(" + qmlString(label) + ")\n            Layout.alignment: Qt.AlignRight\n" +
         (tip.empty() ? "" : "            Shotcut.HoverTip {\n                text: " + qmlString(tip) + "\n            }\n") +
         "        }\n        Shotcut.ComboBox {\n            id: " + id +
         "\n            Layout.columnSpan: 2\n            Layout.fillWidth: true\n            model: [" + model +
         "]\n            onActivated: filter.set(" + qmlString(property) +
         ", model[index])\n        }\n        Shotcut.UndoButton {\n            onClicked: { " + id +
         ".currentIndex = " + id + ".find(" + qmlString(dephault) + "); filter.set(" + qmlString(property) + ", " +
         qmlString(dephault) + ") }\n        }\n";
}

std::string shotcutUi(const ShotcutEntry& entry) {
  std::vector<const ControlRow*> sliders;
  for (const ControlRow& row : editorRows()) {
    if (row.kind == ControlKind::slider) {
      sliders.push_back(&row);
    }
  }
  std::string origins;
  std::string ends;
  std::string decimals;
  std::string properties;
  std::string units;
  for (const ControlRow* row : sliders) {
    const std::string separator = origins.empty() ? "" : ", ";
    origins += separator + number(unitOrigin(*row));
    ends += separator + number(row->sliderMax);
    decimals += separator + std::to_string(decimalsOf(*row));
    properties += separator + qmlString(row->name);
    units += separator + number(unitFromSlider(*row, shotcutDefault(*row, entry)));
  }

  // Every parameter the panel sets, for the presets and for a new filter's defaults.
  std::string defaults;
  std::string presetParameters;
  std::string setControls;
  std::string body;
  int rows = 1;
  int choiceIndex = 0;
  auto addDefault = [&](const std::string& property, const std::string& value) {
    defaults += "            filter.set(" + qmlString(property) + ", " + value + ");\n";
    presetParameters += (presetParameters.empty() ? "" : ", ") + qmlString(property);
  };
  auto addChoice = [&](const std::string& property, const std::string& label, const std::vector<std::string>& choices,
                       const std::string& dephault, const std::string& tip) {
    body += shotcutChoiceRow(choiceIndex, property, label, choices, dephault, tip);
    addDefault(property, qmlString(dephault));
    setControls += "        choice" + std::to_string(choiceIndex) + ".currentIndex = choiceIndexOf(choice" +
                   std::to_string(choiceIndex) + ", filter.get(" + qmlString(property) + "));\n";
    ++choiceIndex;
    ++rows;
  };
  for (const PluginParam* param : editorParams(Plugin::filter)) {
    const std::string name = param->name;
    if (!std::string(param->choices).empty()) {
      std::string label = name;
      label[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(label[0])));
      addChoice(name, label, splitChoices(param->choices), param->defaultText, param->explanation);
      continue;
    }
    const std::string id = "text" + name;
    const bool file = name == "settings";
    // The settings file's field shares its cell with the button that opens a file dialog.
    body += "        Label {\n            text: qsTr(" + qmlString(file ? "Settings file" : "Pixel aspect") +
            ")\n            Layout.alignment: Qt.AlignRight\n        }\n        RowLayout {\n            Layout.columnSpan: 2\n"
            "            Layout.fillWidth: true\n            TextField {\n                id: " + id +
            "\n                Layout.fillWidth: true\n                placeholderText: qsTr(" +
            qmlString(file ? "a look saved by vortelline-studio" : "1, or 64/45 for PAL 16:9") +
            ")\n                onEditingFinished: filter.set(" + qmlString(name) + ", text)\n"
            "                Shotcut.HoverTip {\n                    text: " + qmlString(param->explanation) +
            "\n                }\n            }\n" +
            (file ? "            Shotcut.Button {\n                text: qsTr('Open...')\n                onClicked: settingsDialog.open()\n            }\n"
                  : "") +
            "        }\n        Shotcut.UndoButton {\n            onClicked: { " + id + ".text = " +
            qmlString(param->defaultText) + "; filter.set(" + qmlString(name) + ", " + qmlString(param->defaultText) +
            ") }\n        }\n";
    addDefault(name, qmlString(param->defaultText));
    setControls += "        " + id + ".text = filter.get(" + qmlString(name) + ");\n";
    ++rows;
  }

  std::string group = "-";
  int sliderIndex = 0;
  for (const ControlRow& row : editorRows()) {
    if (groupOf(row.name) != group) {
      group = groupOf(row.name);
      if (!group.empty()) {
        body += "        Label {\n            text: qsTr(" + qmlString(group) +
                ")\n            font.bold: true\n            Layout.columnSpan: 4\n        }\n";
        ++rows;
      }
    }
    ++rows;
    switch (row.kind) {
      case ControlKind::slider: {
        const std::string index = std::to_string(sliderIndex);
        body += shotcutSliderRow(sliderIndex, row, entry);
        addDefault(row.name, number(unitFromSlider(row, shotcutDefault(row, entry))));
        setControls += "        slider" + index + ".value = sliderValueOf(" + index + ", filter.getDouble(" +
                       qmlString(row.name) + ", position));\n        keyframes" + index +
                       ".checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount(" +
                       qmlString(row.name) + ") > 0;\n";
        ++sliderIndex;
        break;
      }
      case ControlKind::choice: {
        --rows;
        const int dephault = static_cast<int>(shotcutDefault(row, entry));
        // The generator entry's source is its own choice, not the filter's.
        const bool ownSource = entry.sourceChoice != 0 && std::string(row.name) == "Emitter/Source";
        const std::optional<OwnDefault> own = ownSource ? std::nullopt : ownDefault(row, Plugin::filter);
        addChoice(row.name, shortName(row.name), choiceTexts(row), choiceTexts(row).at(static_cast<size_t>(dephault) - 1),
                  own ? own->why : "");
        break;
      }
      case ControlKind::checkbox: {
        const std::string on = shotcutDefault(row, entry) != 0 ? "true" : "false";
        const std::string id = "check" + std::to_string(&row - editorRows().data());
        body += "        Label {\n            text: qsTr(" + qmlString(shortName(row.name)) +
                ")\n            Layout.alignment: Qt.AlignRight\n        }\n        CheckBox {\n            id: " + id + "\n            Layout.columnSpan: 2\n            onClicked: filter.set(" +
                qmlString(row.name) + ", checked ? 1 : 0)\n        }\n        Shotcut.UndoButton {\n            onClicked: { " + id + ".checked = " + on + "; filter.set(" + qmlString(row.name) + ", " +
                (on == "true" ? "1" : "0") + ") }\n        }\n";
        addDefault(row.name, on == "true" ? "1" : "0");
        setControls += "        " + id + ".checked = filter.getDouble(" +
                       qmlString(row.name) + ") >= 0.5;\n";
        break;
      }
    }
  }

  std::string enable;
  for (size_t i = 0; i < sliders.size(); ++i) {
    enable += "slider" + std::to_string(i) + ".enabled = ";
  }
  std::string updates;
  for (size_t i = 0; i < sliders.size(); ++i) {
    const std::string index = std::to_string(i);
    updates += "        updateFilter(" + qmlString(sliders[i]->name) + ", unitAt(" + index + ", slider" + index +
               ".value), keyframes" + index + ", null);\n";
  }

  return "// Made by vortelline_frei0r_table from the plug-ins' tables: each slider shows the control's own\n"
         "// value and sets the plug-in's [0, 1] value that stands for it.\n"
         "import QtQuick 2.12\nimport QtQuick.Controls 2.12\nimport QtQuick.Dialogs 1.3\nimport QtQuick.Layouts 1.12\n"
         "import Shotcut.Controls 1.0 as Shotcut\n\nShotcut.KeyframableFilter {\n"
         "    // Per slider: its property, and the values that the plug-in's 0 and 1 stand for.\n"
         "    property var sliderProperties: [" + properties + "]\n    property var unitOrigins: [" + origins +
         "]\n    property var unitEnds: [" + ends + "]\n    property var sliderDecimals: [" + decimals + "]\n\n"
         "    function unitAt(index, value) {\n        return (value - unitOrigins[index]) / (unitEnds[index] - unitOrigins[index]);\n    }\n"
         "    // Rounded to the slider's decimals: the spinner cuts off, and 35 would read 34.9.\n"
         "    function sliderValueOf(index, unit) {\n        var scale = Math.pow(10, sliderDecimals[index]);\n"
         "        return Math.round((unitOrigins[index] + unit * (unitEnds[index] - unitOrigins[index])) * scale) / scale;\n    }\n"
         "    // A choice as the plug-in takes it: its text or its number from 1.\n"
         "    function choiceIndexOf(box, value) {\n        var found = box.find(value);\n"
         "        return found >= 0 ? found : Math.max(0, parseInt(value) - 1);\n    }\n"
         "    function enableControls(enabled) {\n        " + enable + "enabled;\n    }\n"
         "    function setControls() {\n        var position = getPosition();\n        blockUpdate = true;\n" + setControls +
         "        blockUpdate = false;\n        enableControls(isSimpleKeyframesActive());\n    }\n"
         "    function updateSimpleKeyframes() {\n        setControls();\n" + updates + "    }\n\n"
         "    keyframableParameters: sliderProperties\n    startValues: [" + units + "]\n    middleValues: [" + units +
         "]\n    endValues: [" + units + "]\n    width: 400\n    height: " + std::to_string(rows * 34 + 16) +
         "\n    Component.onCompleted: {\n        if (filter.isNew) {\n" + defaults +
         "            filter.savePreset(preset.parameters);\n        }\n        setControls();\n    }\n\n"
         "    FileDialog {\n        id: settingsDialog\n        title: qsTr('Open a settings file from vortelline-studio')\n"
         "        modality: application.dialogModality\n        selectExisting: true\n"
         "        nameFilters: ['vortelline-studio settings (*.json)', 'All Files (*)']\n"
         "        onAccepted: {\n            var path = decodeURIComponent(fileUrl.toString().replace(/^file:\\/\\//, ''));\n"
         "            textsettings.text = path;\n            filter.set('settings', path);\n        }\n    }\n\n"
         "    GridLayout {\n        anchors.fill: parent\n        anchors.margins: 8\n        columns: 4\n\n"
         "        Label {\n            text: qsTr('Preset')\n            Layout.alignment: Qt.AlignRight\n        }\n"
         "        Shotcut.Preset {\n            id: preset\n            parameters: [" + presetParameters +
         "]\n            Layout.columnSpan: 3\n            onBeforePresetLoaded: resetSimpleKeyframes()\n"
         "            onPresetSelected: {\n                setControls();\n                initializeSimpleKeyframes();\n"
         "            }\n        }\n" + body +
         "        Item {\n            Layout.fillHeight: true\n        }\n    }\n\n"
         "    Connections {\n        target: filter\n        function onChanged() { setControls(); }\n"
         "        function onInChanged() { updateSimpleKeyframes(); }\n        function onOutChanged() { updateSimpleKeyframes(); }\n"
         "        function onAnimateInChanged() { updateSimpleKeyframes(); }\n"
         "        function onAnimateOutChanged() { updateSimpleKeyframes(); }\n"
         "        function onPropertyChanged(name) { setControls(); }\n    }\n"
         "    Connections {\n        target: producer\n        function onPositionChanged() { setControls(); }\n    }\n}\n";
}

}  // namespace

std::vector<HostFile> hostFiles() {
  std::vector<HostFile> files = {
      {"kdenlive/effects/frei0r_vortelline.xml", kdenliveDescription(Plugin::filter)},
      {"kdenlive/generators/frei0r_vortelline_src.xml", kdenliveDescription(Plugin::source)},
  };
  for (const ShotcutEntry& entry : shotcutEntries) {
    const std::string folder = std::string("shotcut/qml/filters/") + entry.folder;
    files.push_back({folder + "/meta.qml", shotcutMeta(entry)});
    files.push_back({folder + "/ui.qml", shotcutUi(entry)});
  }
  return files;
}

void writeHostFiles(const std::string& folder) {
  for (const HostFile& file : hostFiles()) {
    const std::filesystem::path path = std::filesystem::path(folder) / file.path;
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary);
    out << file.text;
    out.close();
    if (error || !out) {
      throw RunError("cannot write " + path.string() + (error ? ": " + error.message() : ""));
    }
  }
}
