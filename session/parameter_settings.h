// The controls the effect declared, and the values the user sets for them on the command line:
// "Name=VALUE", or keyframes "Name=VALUE@FRAME,VALUE@FRAME,...".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sdk/effect_sdk.h"

// One control as the effect declared it at parameter set-up. Position 0 is the host's own
// input layer, which the effect does not declare.
struct DeclaredParam {
  PF_ParamDef def{};    // text pointers cleared: the host keeps its own copies
  std::string choices;  // popup choices separated by "|"
  std::string group;    // name of the enclosing group; empty at the top level
};

struct Keyframe {
  double time = 0.0;   // frame number as parsed; the host converts it to seconds
  double value = 0.0;  // slider value, popup choice number, checkbox 0 or 1, angle in degrees
};

// A control's value over time, keys sorted by time. No keys: the declared default. A track that
// is not animated holds at most one key, its constant value; a change to an animated track sets
// a key at the current time.
struct ParamTrack {
  std::vector<Keyframe> keys;
  bool animated = false;
};

struct ParamAssignment {
  int position = 0;
  ParamTrack track;
};

// Key frames, like --frames, have at most nine digits: far inside the host's time range, and a
// whole number of clock ticks at any frame rate.
constexpr long largestKeyFrame = 999999999;

// A value as written on the command line or in a settings file, not yet checked against its
// control; frame is empty for a constant value.
struct WrittenKey {
  std::optional<long> frame;
  std::string value;
};

// A control's name and its one constant value or its keys, as written.
struct WrittenAssignment {
  std::string name;
  std::vector<WrittenKey> keys;
};

// "Group/Name" inside a group, "Name" outside.
std::string qualifiedName(const std::vector<DeclaredParam>& params, int position);

// The hidden, keyframable slider that the visible angle at anglePosition edits (a colour
// group's two "Hue" controls), or -1 when the angle stands alone.
int hueSliderEditedBy(const std::vector<DeclaredParam>& params, int anglePosition);

// Splits "Name=VALUE" or "Name=VALUE@FRAME,VALUE@FRAME,..." into its name and keys. Throws
// UsageError.
WrittenAssignment splitAssignment(const std::string& text);

// Resolves a written assignment against the declared controls: one value, or keys each at its
// own frame. Throws UsageError naming the nearest valid names or choices.
ParamAssignment parseAssignment(const std::vector<DeclaredParam>& params, const WrittenAssignment& written);

// parseAssignment(params, splitAssignment(text)).
ParamAssignment parseAssignment(const std::vector<DeclaredParam>& params, const std::string& text);

// Linear between keys, or holding each key until the next one (popups, checkboxes); constant
// before the first key and after the last. A time equal to a key's gives that key exactly.
double trackValueAt(const ParamTrack& track, double time, bool interpolate);

// Up to count candidates closest to wanted by edit distance (case-insensitive), closest first,
// leaving out those too far away to be a plausible typo.
std::vector<std::string> nearestNames(const std::string& wanted, const std::vector<std::string>& candidates,
                                      size_t count);

// "; did you mean "A", "B" or "C"?" naming the candidates nearest to wanted; otherwise when none
// is near.
std::string didYouMean(const std::string& wanted, const std::vector<std::string>& candidates,
                       const std::string& otherwise);

// Names compared without regard to case, and names and values shown in messages: in quotes, a
// long one cut to its start with its length.
std::string lowercase(std::string text);
std::string quoted(const std::string& text);

// Splits popup choices "A|B|C".
std::vector<std::string> splitChoices(const std::string& choices);

// The angle control's 16.16 fixed-point value for a number of degrees, halves away from zero.
PF_Fixed degreesToFixed(double degrees);
