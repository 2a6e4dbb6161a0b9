// The frei0r plug-ins' own parameters, beside the effect's controls (control_table.h): the plug-ins
// and the hosts' descriptions read them from here. FFmpeg sets parameters by position, so the
// leading ones keep their places (the frame rate and time unit first, as every FFmpeg command needs
// them) and later additions go after the effect's controls, where no existing command reaches.
#pragma once

#include "finishing/finishing_controls.h"

// frei0r types: text is F0R_PARAM_STRING, toggle is F0R_PARAM_BOOL (a double, 0 or 1).
enum class PluginParamKind { text, toggle };

struct PluginParam {
  const char* name;
  PluginParamKind kind;
  const char* defaultText;  // text: the value; toggle: "0" or "1"
  const char* choices;      // text with fixed values: "a|b|c"; empty for free text
  const char* explanation;
  bool filterOnly;  // the source plug-in does not have it
};

inline constexpr PluginParam leadingPluginParams[] = {
    {"fps", PluginParamKind::text, "", "",
     "The host's frame rate, such as 24 or 30000/1001: time t renders frame round(t * fps) as vortelline render "
     "--fps does. Empty: the settings file's rate, else the frame is found from the time (exact at 23.976, 24, 25, "
     "29.97, 30, 50, 59.94 and 60 fps)",
     false},
    {"milliseconds", PluginParamKind::toggle, "0", "",
     "The host passes the time in milliseconds, not seconds. FFmpeg is recognised and always does; set it only for "
     "other hosts that do",
     false},
    {"settings", PluginParamKind::text, "", "",
     "A settings file saved by vortelline-studio; controls set here to other than their defaults override it", false},
    {"blend", PluginParamKind::text, "add", "add|over|replace",
     "How the flames meet the input: add (default: their light on the input), over, or replace (the flames alone)",
     true},
};

inline constexpr PluginParam trailingPluginParams[] = {
    {"alpha", PluginParamKind::text, "auto", "auto|light|effect",
     "The output's alpha: light (alpha from the light: flames on black become flames that composite over anything), "
     "effect (the effect's own output), auto (default: light where the effect's frame is opaque, else the effect's "
     "own; as vortelline render --alpha)",
     false},
    {"aspect", PluginParamKind::text, "1", "",
     "The project's pixel aspect ratio (width / height of a pixel), such as 64/45 for PAL 16:9 or 16/15 for PAL 4:3, "
     "so that flames stay round on non-square pixels; the host does not tell the plug-in",
     false},
    {"own_values", PluginParamKind::toggle, "0", "",
     "Each slider takes the control's own value, such as -3 .. 3 for Emitter/Rise Speed, for hosts that pass any "
     "number (MLT). Off (default): 0 .. 1 spans each slider, as GStreamer, which refuses other values, needs",
     false},
};

// Where the plug-ins' defaults differ from the effect's: for editing, not for exact final frames.
struct PluginControlDefault {
  const char* control;  // its name in controlTable
  double value;         // choice number from 1, slider value, or checkbox 0 or 1
  bool filterOnly;
  const char* why;
};

inline constexpr PluginControlDefault pluginControlDefaults[] = {
    {"Emitter/Source", 3, true,
     "Layer Luma: flames rise from the bright parts of an ordinary opaque clip (Layer Alpha would set all of it "
     "ablaze); choose Layer Alpha for clips with transparency"},
    {"Quality", 1, false,
     "Draft (64): previews keep up while editing; choose Original (256) for the final render, which then equals "
     "vortelline render's frame"},
};

// Where the plug-ins' finishing defaults differ from the table's (finishing/finishing_controls.h).
struct PluginFinishingDefault {
  FinishingControlId control;
  double value;
  bool filterOnly;
  const char* why;
};

// The filter burns the clip's own luma. Without a key an ordinary daylight clip burns nearly whole
// (on the sunlit photographs of Debian's mate-backgrounds, 99-100% of the pixels reach the 25% that
// burns fully); keyed at Threshold 90%, Softness 10%, at most 14% do (mostly 0-2%), while a dark
// clip's lights still burn. Projects saved before the key existed take it too: they burnt daylight
// footage whole, which nobody asked for, and a dark clip's bright parts still burn.
inline constexpr PluginFinishingDefault pluginFinishingDefaults[] = {
    {emitterKeyMode, emitterKeyThresholdMode, true,
     "Threshold: only the clip's highlights burn (luma from 85%, fully from 88%), not the whole of a daylight "
     "clip; Off burns every pixel from 25% luma up, as before"},
};
