// The effect's per-frame controls as the frei0r plug-ins show them: one table for the plug-ins and
// the README and the editors' descriptions (frei0r_table prints them and checks the README's copy).
// frei0r hosts expect doubles in [0, 1] (GStreamer refuses anything else), so each slider maps
// [0, 1] linearly onto its unit range (unitOrigin .. sliderMax); hosts that pass any number (MLT)
// may turn the plug-ins' own_values on and give the control's own value instead.
#pragma once

#include <string>
#include <vector>

#include "session/host_session.h"

enum class ControlKind { slider, choice, checkbox };

struct ControlRow {
  const char* name;  // as `vortelline params` shows it: qualified by its group
  ControlKind kind;
  double sliderMin;  // slider: its range as the studio shows it
  double sliderMax;
  double defaultValue;  // slider value, choice number from 1, checkbox 0 or 1
  const char* choices;  // choice: "A|B|C"
};

inline constexpr ControlRow controlTable[] = {
    {"Quality", ControlKind::choice, 0, 0, 3, "Draft (64)|Balanced (128)|Original (256)"},
    {"Processing", ControlKind::choice, 0, 0, 1, "Auto (GPU preferred)|GPU required|CPU"},
    {"Smooth Sampling", ControlKind::checkbox, 0, 1, 1, ""},
    {"Emitter/Source", ControlKind::choice, 0, 0, 1, "Original Volume|Layer Alpha|Layer Luma"},
    {"Emitter/Rise Height", ControlKind::slider, 1, 60, 35, ""},
    {"Emitter/Rise Speed", ControlKind::slider, -3, 3, 1.5, ""},
    {"Density", ControlKind::slider, 0, 2, 1, ""},
    {"Step Size", ControlKind::slider, 0.1, 1, 0.5, ""},
    {"Sphere Radius", ControlKind::slider, 1, 12, 7, ""},
    {"Noise Amplitude", ControlKind::slider, 0, 15, 9, ""},
    {"Noise Frequency", ControlKind::slider, 0.1, 5, 1.5, ""},
    {"Animation Speed", ControlKind::slider, -3, 3, 1, ""},
    {"Animation Offset", ControlKind::slider, -10, 10, 0, ""},
    {"Noise Flow/X", ControlKind::slider, -2, 2, 0, ""},
    {"Noise Flow/Y", ControlKind::slider, -2, 2, 0.3, ""},
    {"Noise Flow/Z", ControlKind::slider, -2, 2, 1, ""},
    {"Color Adjustment/Brightness", ControlKind::slider, 0, 2, 0.3, ""},
    {"Color Adjustment/Contrast", ControlKind::slider, 0, 3, 1.3, ""},
    {"Color Adjustment/Saturation", ControlKind::slider, 0, 3, 0.1, ""},
    {"Tint/Amount", ControlKind::slider, 0, 1, 0.23, ""},
    {"Tint/Red", ControlKind::slider, -2, 5, 3.8, ""},
    {"Tint/Green", ControlKind::slider, -2, 5, 0.8, ""},
    {"Tint/Blue", ControlKind::slider, -2, 5, -1.4, ""},
    {"Inner Color/Hue", ControlKind::slider, 0, 360, 38, ""},
    {"Inner Color/Gain", ControlKind::slider, 0, 500, 148, ""},
    {"Inner Color/Opacity", ControlKind::slider, 0, 100, 40, ""},
    {"Main Color/Hue", ControlKind::slider, 0, 360, 35, ""},
    {"Main Color/Gain", ControlKind::slider, 0, 500, 382, ""},
    {"Main Color/Opacity", ControlKind::slider, 0, 100, 50, ""},
    {"Outer Color/Hue", ControlKind::slider, 0, 360, 61, ""},
    {"Outer Color/Gain", ControlKind::slider, 0, 500, 100, ""},
    {"Outer Color/Opacity", ControlKind::slider, 0, 100, 10, ""},
    {"View/Zoom", ControlKind::slider, 0.25, 3, 1, ""},
    {"View/Center X", ControlKind::slider, -5, 5, 0, ""},
    {"View/Center Y", ControlKind::slider, -5, 5, 0, ""},
    {"View/Camera Distance", ControlKind::slider, 4, 16, 8, ""},
};
inline constexpr int controlCount = sizeof controlTable / sizeof controlTable[0];

// The finishing controls (finishing/finishing_controls.h) as rows of the same kinds, in the table's
// order: the plug-ins append them after their own trailing parameters.
const std::vector<ControlRow>& finishingRows();

// The slider value that frei0r's 0 stands for: 0 when the slider's range is positive, so that the
// frei0r value is a plain fraction of the maximum (0.5 is half the greatest Rise Height); else the
// slider's minimum. frei0r's 1 is sliderMax.
double unitOrigin(const ControlRow& row);

// The frei0r value of a slider value, and back; values outside [0, 1] extend the line, and the
// effect clamps what lies beyond its valid range.
double unitFromSlider(const ControlRow& row, double value);
double sliderFromUnit(const ControlRow& row, double unit);

// A choice by its text (any case) or its number from 1; 0 when it is neither.
int choiceNumber(const ControlRow& row, const std::string& text);
std::vector<std::string> choiceTexts(const ControlRow& row);

// The position of each row's control in the session's declared parameters (a colour's "Hue" is
// its keyframable slider, not the angle dial that edits it). Throws RunError naming the first
// control whose name, type, slider range, default or choices differ from the table's.
std::vector<int> findControls(const HostSession& session);

// The table in Markdown, as the README shows it, the finishing rows after the effect's.
std::string markdownTable();
