// Prints the frei0r plug-ins' parameter table as the README shows it; with --check README.md,
// fails when the README's copy differs. Also prints the plug-ins' Kdenlive descriptions.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "frei0r/control_table.h"

namespace {

constexpr const char* beginMarker = "<!-- frei0r parameter table: printed by vortelline_frei0r_table -->\n";
constexpr const char* endMarker = "<!-- end of frei0r parameter table -->";

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

std::string listParameter(const std::string& name, const std::string& title, const std::vector<std::string>& values,
                          const std::string& dephault) {
  std::string list;
  for (const std::string& value : values) {
    list += (list.empty() ? "" : ";") + value;
  }
  std::string display;
  for (const std::string& value : values) {
    display += (display.empty() ? "" : ",") + value;
  }
  return "    <parameter type=\"list\" name=\"" + name + "\" default=\"" + dephault + "\" paramlist=\"" + list +
         "\">\n      <paramlistdisplay>" + display + "</paramlistdisplay>\n      <name>" + title +
         "</name>\n    </parameter>\n";
}

// Kdenlive lists a frei0r effect only through a description like its own under
// /usr/share/kdenlive/effects (filters) and .../generators (sources). Kdenlive shows a slider's
// value times its factor and has no offset: sliders from 0 show the control's own value, the
// others per mille of their range.
std::string kdenliveDescription(bool filter) {
  const std::string service = filter ? "frei0r.vortelline" : "frei0r.vortelline_src";
  const std::string element = filter ? "effect" : "generator";
  std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE kpartgui>\n<" + element + " LC_NUMERIC=\"C\" tag=\"" + service +
                     "\" id=\"" + service + "\">\n";
  text += std::string("    <name>") + (filter ? "Vortelline Flames" : "Vortelline Flames Generator") + "</name>\n";
  text += std::string("    <description>") +
          (filter ? "Volumetric flames rising from the clip's alpha or luma, over the clip"
                  : "Volumetric flames on a transparent frame") +
          "</description>\n    <author>Vortelline</author>\n";
  text += "    <parameter type=\"url\" name=\"settings\" filter=\"*.json\">\n      <name>Settings file from vortelline-studio</name>\n    </parameter>\n";
  if (filter) {
    text += listParameter("blend", "Blend", {"add", "over", "replace"}, "add");
  }
  for (const ControlRow& row : controlTable) {
    const std::string name = row.name;
    switch (row.kind) {
      case ControlKind::choice: {
        const bool layerAlpha = filter && name == "Emitter/Source";
        text += listParameter(name, name, choiceTexts(row),
                              choiceTexts(row).at(static_cast<size_t>(layerAlpha ? 2 : row.defaultValue) - 1));
        break;
      }
      case ControlKind::checkbox:
        text += "    <parameter type=\"bool\" name=\"" + name + "\" default=\"" + number(row.defaultValue) +
                "\">\n      <name>" + name + "</name>\n    </parameter>\n";
        break;
      case ControlKind::slider: {
        const bool fromZero = row.sliderMin == 0;
        const double factor = fromZero ? row.sliderMax : 1000;
        text += "    <parameter type=\"animated\" name=\"" + name + "\" default=\"" +
                number(unitFromSlider(row, row.defaultValue)) + "\" min=\"0\" max=\"" + number(factor) +
                "\" factor=\"" + number(factor) + "\" decimals=\"" + (factor <= 10 ? "3" : "1") + "\">\n      <name>" +
                name + (fromZero ? "" : " (per mille of " + number(row.sliderMin) + " .. " + number(row.sliderMax) + ")") +
                "</name>\n    </parameter>\n";
        break;
      }
    }
  }
  return text + "</" + element + ">\n";
}

}  // namespace

int main(int argc, char** argv) {
  const std::string table = markdownTable();
  if (argc == 1) {
    std::cout << table;
    return 0;
  }
  const std::string option = argv[1];
  if (argc == 2 && (option == "--kdenlive-effect" || option == "--kdenlive-generator")) {
    std::cout << kdenliveDescription(option == "--kdenlive-effect");
    return 0;
  }
  if (argc != 3 || option != "--check") {
    std::cerr << "usage: vortelline_frei0r_table [--check README.md | --kdenlive-effect | --kdenlive-generator]\n";
    return 2;
  }
  std::ifstream file(argv[2]);
  std::stringstream readme;
  readme << file.rdbuf();
  const std::string text = readme.str();
  const size_t begin = text.find(beginMarker);
  const size_t end = text.find(endMarker);
  if (!file || begin == std::string::npos || end == std::string::npos || end < begin) {
    std::cerr << argv[2] << " has no frei0r parameter table between \"" << beginMarker << "\" and \"" << endMarker
              << "\"\n";
    return 1;
  }
  const size_t start = begin + std::string(beginMarker).size();
  if (text.substr(start, end - start) != table) {
    std::cerr << "the frei0r parameter table in " << argv[2] << " differs from the plug-ins'; it should read:\n"
              << table;
    return 1;
  }
  return 0;
}
