// The finishing controls: what the hosts do to the effect's frames and to its emitter layer, beside
// the effect's own controls. One table that every host iterates (the command line's --set, settings
// files and presets, the studio's panel, the frei0r parameters), so that they name, range and
// default the controls alike. Every default leaves the frames exactly as the effect renders them.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "session/parameter_settings.h"

enum class FinishingKind { slider, choice };

struct FinishingControl {
  const char* group;  // "Glow"; the control is named "Glow/Amount" wherever a host names it
  const char* name;   // "Amount"
  FinishingKind kind;
  double defaultValue;  // slider value, or choice number from 1
  double sliderMin;     // what a slider shows
  double sliderMax;
  double validMin;  // what a value is clamped to
  double validMax;
  const char* choices;  // choice: "A|B|C"
  const char* unit;     // shown after a slider's value: "%", "Hz"; empty for none
  const char* description;
};

// Positions in finishingControls.
enum FinishingControlId : int {
  glowAmount,
  glowRadius,
  glowThreshold,
  flickerAmount,
  flickerSpeed,
  flickerTips,
  emitterKeyMode,
  emitterKeyBlackPoint,
  emitterKeyWhitePoint,
  emitterKeyThreshold,
  emitterKeySoftness,
  finishingControlCount
};

// Emitter Key/Key's choices.
enum EmitterKeyMode : int { emitterKeyOff = 1, emitterKeyLevels = 2, emitterKeyThresholdMode = 3 };

inline constexpr FinishingControl finishingControls[finishingControlCount] = {
    {"Glow", "Amount", FinishingKind::slider, 0, 0, 200, 0, 1000, "", "%",
     "Light spilling around the flames: how much of their light spreads out (0: none). Added in linear light, so "
     "it lights what lies around the flames as real light would."},
    {"Glow", "Radius", FinishingKind::slider, 10, 0, 50, 0, 200, "", "%",
     "How far the glow reaches, in percent of the layer's height, so that a look glows alike at any size. A wide "
     "and a narrow spread are added together: bright near the flames, a soft halo further out."},
    {"Glow", "Threshold", FinishingKind::slider, 0, 0, 100, 0, 100, "", "%",
     "What glows: only light brighter than this, in percent of full intensity (0: all of it)."},
    {"Flicker", "Amount", FinishingKind::slider, 0, 0, 50, 0, 100, "", "%",
     "How much the flames' light rises and falls over time, in percent of the light (0: none; 10-25% reads as "
     "fire)."},
    {"Flicker", "Speed", FinishingKind::slider, 2, 0.5, 10, 0, 30, "", "Hz",
     "How often the light puffs, per second: about 1.5 / sqrt(D) for a fire D metres across (2-3 for a campfire, "
     "5-8 for a candle)."},
    {"Flicker", "Tips", FinishingKind::slider, 0, 0, 100, 0, 100, "", "%",
     "How much more the faint tips flicker than the bright core (0: all alike; 100: the tips twice as much)."},
    {"Emitter Key", "Key", FinishingKind::choice, emitterKeyOff, 0, 0, 0, 0, "Off|Levels|Threshold", "",
     "Levels on the emitter layer's alpha (Layer Alpha) or luma (Layer Luma) before the effect reads them. Off: "
     "as the layer is. Levels: Black Point to White Point becomes 0 to full. Threshold: what lies above Threshold "
     "burns, softened over Softness."},
    {"Emitter Key", "Black Point", FinishingKind::slider, 0, 0, 100, 0, 100, "", "%",
     "Levels: emitter values at or below this do not burn."},
    {"Emitter Key", "White Point", FinishingKind::slider, 100, 0, 100, 0, 100, "", "%",
     "Levels: emitter values at or above this burn at full strength."},
    {"Emitter Key", "Threshold", FinishingKind::slider, 90, 0, 100, 0, 100, "", "%",
     "Threshold: emitter values above this burn, below it they do not."},
    {"Emitter Key", "Softness", FinishingKind::slider, 10, 0, 100, 0, 100, "", "%",
     "Threshold: the width of the soft step from nothing to full, centred on Threshold."},
};

// "Glow/Amount".
std::string finishingControlName(int id);

// Every control's value; a default-made record leaves the frames as the effect renders them.
struct FinishingValues {
  std::array<double, finishingControlCount> values = [] {
    std::array<double, finishingControlCount> defaults{};
    for (int id = 0; id < finishingControlCount; ++id) {
      defaults[id] = finishingControls[id].defaultValue;
    }
    return defaults;
  }();

  double operator[](int id) const { return values[id]; }
  bool operator==(const FinishingValues&) const = default;
};

// The value clamped to the control's valid range; NaN becomes the default.
double clampedFinishingValue(int id, double value);
// Sets a control, clamped.
void setFinishingValue(FinishingValues& finishing, int id, double value);

// What the values do; each is off at its defaults.
bool glows(const FinishingValues& finishing);
bool flickers(const FinishingValues& finishing);
bool keysEmitter(const FinishingValues& finishing);

// Whether a written name is a finishing control's: "Group/Name" with a finishing group.
bool namesFinishingControl(const std::string& name);

// The control a written assignment names, with its value: one value (no keyframes), a slider's
// number or a choice's name or number. Throws UsageError naming the nearest valid names or choices.
struct FinishingAssignment {
  int id = 0;
  double value = 0.0;
};
FinishingAssignment parseFinishingAssignment(const WrittenAssignment& written);

// The value as settings files write it: a choice's name, else the number.
std::string finishingValueText(int id, double value);
