// Settings files: the scene (layer size, frame rate, frame, the timeline's last frame, the loop,
// emitter) and every control's value and keyframes by control name, as JSON. The studio saves what it shows; `vortelline render
// --settings` renders the same frames from it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "authoring/emitter_placement.h"
#include "authoring/emitter_text_style.h"
#include "finishing/finishing_controls.h"
#include "session/host_session.h"
#include "session/parameter_settings.h"

struct SettingsScene {
  // Large enough to judge the look, small enough to follow every change at once on the CPU.
  int width = 960;
  int height = 540;
  FrameClock clock;
  long frame = 0;                   // the frame on show
  std::optional<long> lastFrame;    // the timeline's; none in files saved before it was kept
  long loopLength = 0;              // frames of a seamless loop from frame 0; 0: none
  std::string emitterPath;          // absolute, or empty for the layer itself
  std::string emitterText;          // the text the emitter image was drawn from, if it was
  EmitterTextStyle emitterTextStyle;  // how it was drawn
  EmitterPlacement emitterPlacement;
  // The host's finishing of the frames and the emitter ("Glow/Amount", ...): kept in "controls"
  // beside the effect's own, those that differ from their defaults only, so that files without
  // finishing stay readable by programs that have none.
  FinishingValues finishing;
};

struct SettingsFile {
  SettingsScene scene;
  // Each control's value or keys, in the file's order.
  std::vector<WrittenAssignment> assignments;
  std::string description;  // a preset's one line; empty where there is none
};

// Throws RunError when the file cannot be written.
void writeSettingsFile(const std::string& path, const HostSession& session, const SettingsScene& scene);

// Reads the file as image inputs are read (a FIFO works; anything that does not start as JSON, or
// is larger than 16 MB, is refused early). Every scene number is checked as a whole number in its
// range. Throws RunError when the file cannot be read or its content is not settings (naming the
// file, and the field where there is one), Cancelled on a stop signal. Names and values are
// checked when the assignments are applied.
SettingsFile readSettingsFile(const std::string& path);

// Takes the assignments of finishing controls ("Glow/Amount=50") out of --set's texts into
// finishing, and returns the others. Throws UsageError naming where for a bad one.
std::vector<std::string> takeFinishingAssignments(const std::vector<std::string>& assignments,
                                                  FinishingValues& finishing, const std::string& where);

// Sets every assignment read from a file on the session (later ones win); returns their positions.
// Throws RunError naming where (the file) and the control.
std::vector<int> applyAssignments(HostSession& session, const std::vector<WrittenAssignment>& assignments,
                                  const std::string& where);

// The same for "Name=VALUE" texts, as --set gives them; a bad one is a UsageError.
std::vector<int> applyAssignmentTexts(HostSession& session, const std::vector<std::string>& assignments,
                                      const std::string& where);

// The frame rate as the settings file and the studio write it: "24", or "30000/1001".
std::string frameRateText(const FrameClock& clock);
