// The host's records of the real module: what it registered and declared, and the values the
// host hands back at each time.
#include <gtest/gtest.h>

#include <cmath>

#include <type_traits>

#include "host/effect_main.h"
#include "session/effect_module.h"
#include "session/host_session.h"
#include "session/program_errors.h"

namespace {

// The host calls the entry points through pointers of these types; a call through a pointer of
// another type is undefined, however alike the two look to the processor.
static_assert(std::is_same_v<PluginDataEntryFunction, decltype(&PluginDataEntryFunction2)>);
static_assert(std::is_same_v<EffectMainFunction, decltype(&EffectMain)>);

int positionOf(const HostSession& session, const std::string& qualified) {
  for (int position = 1; position < static_cast<int>(session.params.size()); ++position) {
    if (qualifiedName(session.params, position) == qualified &&
        session.params[position].def.param_type != PF_Param_ANGLE) {
      return position;
    }
  }
  return -1;
}

TEST(HostSession, RecordsWhatTheModuleRegisteredAndDeclared) {
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  const EffectRegistration& registration = session->module.registration;
  EXPECT_EQ(registration.name, "Vortelline");
  EXPECT_EQ(registration.matchName, "Emberlyth GPU");
  EXPECT_EQ(registration.category, "Ternwick");
  EXPECT_EQ(registration.entryPointName, "EffectMain");
  EXPECT_EQ(registration.kind, PF_Kind_EFFECT);
  EXPECT_EQ(session->numParams, 58);
  EXPECT_EQ(session->params.size(), 58u);
  EXPECT_EQ(session->optionsButtonName, "About...");
  ASSERT_TRUE(session->customUi.has_value());
  EXPECT_EQ(session->customUi->events, PF_CustomEFlag_EFFECT);
  // Popup choices are the host's own copies, handed out with each definition.
  PF_ParamDef quality = definitionAt(*session, positionOf(*session, "Quality"), 0, 24);
  EXPECT_STREQ(quality.u.pd.u.namesptr, "Draft (64)|Balanced (128)|Original (256)");
  endSession(*session);
}

TEST(HostSession, TheEffectRedrawsHueDialsFromTheirKeyframedSliders) {
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  session->clock = FrameClock{24, 1};
  setParamTrack(*session, parseAssignment(session->params, "Inner Color/Hue=100@0,800@24,-400@48"));
  int slider = positionOf(*session, "Inner Color/Hue");
  ASSERT_GT(slider, 0);
  int angle = slider + 1;
  ASSERT_EQ(hueSliderEditedBy(session->params, angle), slider);
  // Until the effect redraws it, the dial shows its declared value: the host does not mirror.
  EXPECT_EQ(definitionAt(*session, angle, 24, 24).u.ad.value, 38 * 65536);

  struct Case {
    A_long frame;
    double sliderValue;
    PF_Fixed angleValue;  // clamped to the slider's -360 .. 720
  };
  const Case cases[] = {{0, 100.0, 100 * 65536},    {12, 450.0, 450 * 65536},    {24, 800.0, 720 * 65536},
                        {48, -400.0, -360 * 65536}, {200, -400.0, -360 * 65536}};
  for (const Case& test : cases) {
    updateParamsUi(*session, test.frame);
    EXPECT_EQ(definitionAt(*session, slider, test.frame, 24).u.fs_d.value, test.sliderValue) << test.frame;
    // The dial cannot vary in time: it shows the last redraw at every time.
    EXPECT_EQ(definitionAt(*session, angle, 0, 24).u.ad.value, test.angleValue) << test.frame;
    EXPECT_EQ(definitionAt(*session, slider + 7, 0, 24).u.ad.value, 35 * 65536) << "main colour's dial";
  }
  endSession(*session);
}

TEST(HostSession, SupervisedChangesReachTheEffect) {
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  const int source = positionOf(*session, "Emitter/Source");
  const int layerOnly[] = {positionOf(*session, "Emitter/Emitter Layer"), positionOf(*session, "Emitter/Rise Height")};
  const int volumeOnly[] = {positionOf(*session, "Step Size"), positionOf(*session, "View/Camera Distance")};
  ASSERT_TRUE(isSupervised(*session, source));
  ASSERT_FALSE(isSupervised(*session, volumeOnly[0]));
  struct Case {
    const char* setting;
    bool layerSource;
  };
  const Case cases[] = {{"Source=Original Volume", false}, {"Source=Layer Alpha", true},
                        {"Source=Layer Luma", true}, {"Source=Original Volume", false}};
  // Parameter set-up already drew the panel for the default volume source.
  for (int position : layerOnly) {
    EXPECT_TRUE(isGreyedOut(*session, position)) << position;
  }
  for (const Case& test : cases) {
    setParamTrack(*session, parseAssignment(session->params, test.setting));
    userChangedParam(*session, source, 0);
    for (int position : layerOnly) {
      EXPECT_EQ(isGreyedOut(*session, position), !test.layerSource) << test.setting << " " << position;
    }
    for (int position : volumeOnly) {
      EXPECT_EQ(isGreyedOut(*session, position), test.layerSource) << test.setting << " " << position;
    }
  }

  // A turned dial is written into its keyframed slider at the frame the user is on.
  session->clock = FrameClock{24, 1};
  int slider = positionOf(*session, "Main Color/Hue");
  setParamTrack(*session, parseAssignment(session->params, "Main Color/Hue=10@0,20@10"));
  setParamValue(*session, slider + 1, 0, 90.0);
  userChangedParam(*session, slider + 1, 5);
  EXPECT_EQ(definitionAt(*session, slider, 5, 24).u.fs_d.value, 90.0);
  EXPECT_EQ(definitionAt(*session, slider, 0, 24).u.fs_d.value, 10.0);
  EXPECT_EQ(definitionAt(*session, slider, 10, 24).u.fs_d.value, 20.0);
  EXPECT_EQ(session->tracks[slider].keys.size(), 3u);
  endSession(*session);
}

TEST(HostSession, KeyTimesFollowTheFrameRate) {
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  session->clock = FrameClock{30000, 1001};  // 29.97 frames per second
  setParamTrack(*session, parseAssignment(session->params, "Density=0@0,1@30,2@60"));
  int density = positionOf(*session, "Density");
  for (A_long frame : {0, 15, 30, 45, 60}) {
    EXPECT_EQ(definitionAt(*session, density, frame * 1001, 30000).u.fs_d.value, frame / 30.0) << frame;
  }
  // A checkout in another time scale reads the same moment.
  EXPECT_EQ(definitionAt(*session, density, 45 * 1001 * 2, 60000).u.fs_d.value, 1.5);
  endSession(*session);
}

// An effect that fails every command without a message of its own: the host says what failed.
PF_Err failingEffectMain(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
  return PF_Err_INTERNAL_STRUCT_DAMAGED;
}

TEST(HostSession, AFailedDialogIsReportedAsTheDialogThatFailed) {
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  const EffectMainFunction effectMain = session->module.effectMain;
  session->module.effectMain = failingEffectMain;
  struct Case {
    std::string (*show)(HostSession&);
    const char* message;
  };
  const Case cases[] = {{aboutText, "the effect failed to show its About information (error 512)"},
                        {optionsDialogText, "the effect failed to show its options dialog (error 512)"}};
  for (const Case& test : cases) {
    try {
      test.show(*session);
      ADD_FAILURE() << "no failure reported: " << test.message;
    } catch (const RunError& error) {
      EXPECT_EQ(std::string(error.what()), test.message);
    }
  }
  session->module.effectMain = effectMain;
  endSession(*session);
}

}  // namespace
