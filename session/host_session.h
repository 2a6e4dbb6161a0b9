// The host's side of one instance of the effect: the services the effect calls back (parameter
// checkout, abort, layer and output checkout, suites), the declared parameters with the values
// set for them, and the commands that set the effect up, render a frame and shut it down.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sdk/custom_ui_sdk.h"
#include "session/effect_module.h"
#include "session/host_pixels.h"
#include "session/parameter_settings.h"
#include "session/progress_display.h"

// Host time: a frame lasts timeStep ticks of 1/timeScale second, so frame n starts at
// n * timeStep / timeScale seconds.
struct FrameClock {
  A_u_long timeScale = 24;
  A_long timeStep = 1;
};

// What a smart render has checked out, valid during its two commands.
struct SmartRenderCheckouts {
  std::map<A_long, int> layerOfCheckout;  // checkout id -> layer parameter position
  std::set<A_long> pixelsCheckedOut;
  HostWorld* output = nullptr;
};

// A copy is an independent instance of the same loaded effect, with the same values: a preview
// renders from a copy while the user goes on changing the original.
struct HostSession {
  EffectModule module;
  // What global set-up reported.
  A_u_long effectVersion = 0;
  PF_OutFlags outFlags = 0;
  PF_OutFlags2 outFlags2 = 0;
  // The declared controls by position; position 0 is the host's own input layer.
  std::vector<DeclaredParam> params;
  A_long numParams = 0;
  std::string optionsButtonName;
  std::optional<PF_CustomUIInfo> customUi;
  // Values set by the user, by position, key times in ticks of the clock.
  std::vector<ParamTrack> tracks;

  FrameClock clock;
  A_long totalTime = 0;
  A_long layerWidth = 1920;  // at full resolution
  A_long layerHeight = 1080;
  int downsample = 1;
  PF_RationalScale pixelAspect{1, 1};
  int bitDepth = 8;
  // Layer pixels at the render's resolution and depth; layers[0] is this layer's own.
  std::vector<std::shared_ptr<const HostWorld>> layers;
  // Layer parameter position -> index into layers given by the user; others take their default.
  std::map<int, int> layerAssignments;

  ProgressDisplay* progress = nullptr;
  // Set by another thread to stop the render at the effect's next abort check.
  const std::atomic<bool>* stopRequested = nullptr;
  // A guest host's own question, asked at each of the effect's abort checks: an OpenFX host answers
  // through its abort function, which it wants asked on the render's own thread, as the checks are.
  bool (*hostWantsStop)(void* context) = nullptr;
  void* hostWantsStopContext = nullptr;
  SmartRenderCheckouts* checkouts = nullptr;
};

enum class RenderPath { smart, plain };

// The window that get_platform_data hands out as the host's main window (a QWidget* in the
// studio); none for a command-line host, which then also reports itself as a render engine.
void setHostMainWindow(void* window);

// Loads the module, registers it and sends global set-up and parameter set-up.
// Throws RunError or EffectFailure.
std::unique_ptr<HostSession> startSession(const std::string& modulePath);

// Global set-down; the module is unloaded when the session is destroyed.
void endSession(HostSession& session);

// Sets a control's value over time; key times are frame numbers under session.clock.
void setParamTrack(HostSession& session, const ParamAssignment& assignment);

// Sets a control's value at a frame: a key at that frame on an animated track, else the
// control's constant value.
void setParamValue(HostSession& session, int position, long frame, double value);

// Sets a key at the frame holding the control's value there, or removes the key the frame has.
// The first key animates the control; when the last key goes, its value stays as a constant.
void toggleKeyframe(HostSession& session, int position, long frame);

// PF_Cmd_UPDATE_PARAMS_UI with the values at the frame: the effect redraws its controls through
// the Param Utils suite (hue dials follow their sliders, unused controls are greyed out).
// Throws EffectFailure or RunError.
void updateParamsUi(HostSession& session, long frame);

// PF_Cmd_USER_CHANGED_PARAM for a supervised control the user changed at the frame; values the
// effect changes in return are set at that frame. Throws EffectFailure or RunError.
void userChangedParam(HostSession& session, int position, long frame);

bool isSupervised(const HostSession& session, int position);

// Whether the effect declared that it renders this depth (8, 16 or 32 bits per channel).
bool effectRendersDepth(const HostSession& session, int bitDepth);

// The sequence the effect is told about: frames 0 ... lastFrame under session.clock.
void setLastFrame(HostSession& session, long lastFrame);

// The last frame a sequence may reach under the clock: the host's times are 32-bit ticks, and the
// sequence's length, one frame past its last, must fit too.
long lastFrameInTimeRange(const FrameClock& clock);

// Whether the user stopped the program (a signal) or the session's owner asked it to stop.
bool stopWanted(const HostSession& session);

// Whether the effect last drew the control greyed out.
bool isGreyedOut(const HostSession& session, int position);

// A value control's value as the tracks keep it: slider value, popup choice, checkbox 0 or 1,
// angle in degrees; none for the other types.
std::optional<double> paramValue(const PF_ParamDef& def);

// The declared layer parameter with this name, or -1.
int layerParamNamed(const HostSession& session, const std::string& name);

// The declared popup with this name (such as "Source"), or -1.
int popupParamNamed(const HostSession& session, const std::string& name);

// The definition the host hands out for a position at time / timeScale seconds: declared, with
// the value at that time. Popup and checkbox texts point into the session.
PF_ParamDef definitionAt(const HostSession& session, int position, A_long time, A_u_long timeScale);

// The frame's pixels at the session's depth, at 1/downsample of the layer's size.
// Throws EffectFailure or RunError when the effect fails, Cancelled when it stopped on request
// (signal 0 when stopRequested asked for it).
HostWorld renderFrame(HostSession& session, long frame, RenderPath path);

// Part of the frame (smart render): the pixels of region, a rectangle of the frame at the session's
// resolution, top row first, in a world of the region's size. Throws as renderFrame does.
HostWorld renderRegion(HostSession& session, long frame, const PF_LRect& region);

// The frame size at the session's resolution.
A_long scaledWidth(const HostSession& session);
A_long scaledHeight(const HostSession& session);

// The effect's About information (PF_Cmd_ABOUT), as it hands it to a host without a main window;
// empty when it showed its own dialog over the main window.
std::string aboutText(HostSession& session);

// The effect's options button was pressed (PF_Cmd_DO_DIALOG); returns what aboutText does.
std::string optionsDialogText(HostSession& session);

// The position of the control the effect draws itself (PF_PUI_CONTROL), or -1.
int customControlPosition(const HostSession& session);

// Where the session finds "PF Effect Custom UI Suite" 2 and the DRAWBOT suites: the table for a
// name and version, or null. A host that draws (over QPainter, drawing_suites.h) sets it before it
// sends a draw event; until then the effect's requests for those suites answer "suite not found",
// as a host without them would. Process-wide, like the suite broker itself.
using DrawingSuiteLookup = const void* (*)(const char* name, A_long version);
void setDrawingSuites(DrawingSuiteLookup lookup);

// Sends the effect the draw event of its custom control at a frame's time, the control's rectangle
// being controlFrame; context is what the drawing suites turn into a drawing reference. Returns the
// event's out flags. Throws EffectFailure or RunError.
PF_EventOutFlags sendCustomControlDraw(HostSession& session, PF_ContextH context, const PF_Rect& controlFrame,
                                       long frame);

// Global set-down when the scope ends, unless end() already sent it: a failure on its way out
// still shuts the effect down.
struct SessionScope {
  HostSession& session;
  bool ended = false;
  void end() {
    ended = true;
    endSession(session);
  }
  ~SessionScope() {
    if (!ended) {
      try {
        endSession(session);
      } catch (...) {
        // A failure is already on its way out; set-down's own failure adds nothing.
      }
    }
  }
};
