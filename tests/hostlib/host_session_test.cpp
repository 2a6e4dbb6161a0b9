// The host's records of the real module: what it registered and declared, and the values the
// host hands back at each time.
#include <gtest/gtest.h>

#include <cmath>

#include "hostlib/host_session.h"

namespace {

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

TEST(HostSession, HueAnglesFollowTheirKeyframedSliders) {
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  session->clock = FrameClock{24, 1};
  setParamTrack(*session, parseAssignment(session->params, "Inner Color/Hue=100@0,800@24,-400@48"));
  int slider = positionOf(*session, "Inner Color/Hue");
  ASSERT_GT(slider, 0);
  int angle = slider + 1;
  ASSERT_EQ(hueSliderEditedBy(session->params, angle), slider);

  struct Case {
    A_long frame;
    double sliderValue;
    PF_Fixed angleValue;  // clamped to the slider's -360 .. 720
  };
  const Case cases[] = {{0, 100.0, 100 * 65536},    {12, 450.0, 450 * 65536},    {24, 800.0, 720 * 65536},
                        {48, -400.0, -360 * 65536}, {200, -400.0, -360 * 65536}};
  for (const Case& test : cases) {
    EXPECT_EQ(definitionAt(*session, slider, test.frame, 24).u.fs_d.value, test.sliderValue) << test.frame;
    EXPECT_EQ(definitionAt(*session, angle, test.frame, 24).u.ad.value, test.angleValue) << test.frame;
  }
  // The other colours keep their declared hues.
  int mainSlider = positionOf(*session, "Main Color/Hue");
  EXPECT_EQ(definitionAt(*session, mainSlider + 1, 24, 24).u.ad.value, 35 * 65536);
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

}  // namespace
