#include "host/param_ui_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "host/parameter_set.h"
#include "sdk/suites_sdk.h"
#include "tests/support/test_host.h"

namespace {

struct UiUpdate {
  PF_ParamIndex position;
  PF_ParamDef def;
};

// What the panel was told, in order; the nth update can be made to fail.
std::vector<UiUpdate> updates;
int failUpdate = 0;
PF_Err failCode = 0;
TestHost* panelHost = nullptr;

PF_Err recordUpdate(PF_ProgPtr, PF_ParamIndex position, const PF_ParamDef* def) {
  updates.push_back({position, *def});
  if (int(updates.size()) == failUpdate) return failCode;
  // Like the host, later commands see the flags the panel now shows.
  panelHost->values[position].ui_flags = def->ui_flags;
  return PF_Err_NONE;
}

class ParamUiState : public ::testing::Test {
 protected:
  void SetUp() override {
    updates.clear();
    failUpdate = 0;
    panelHost = &host;
    suite.PF_UpdateParamUI = recordUpdate;
    host.provideSuite(kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3, &suite);
    ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
  }

  PF_Err userChanged(PF_ParamIndex position) {
    PF_UserChangedParamExtra extra{position};
    return host.command(PF_Cmd_USER_CHANGED_PARAM, &extra);
  }
  std::vector<PF_ParamIndex> updatedPositions() const {
    std::vector<PF_ParamIndex> positions;
    for (const UiUpdate& update : updates) positions.push_back(update.position);
    return positions;
  }
  const UiUpdate* updateOf(PF_ParamIndex position) const {
    for (const UiUpdate& update : updates) {
      if (update.position == position) return &update;
    }
    return nullptr;
  }

  PF_ParamUtilsSuite3 suite{};
  TestHost host;
};

TEST_F(ParamUiState, TurningAHueDialWritesTheClampedSliderAndRedrawsTheDial) {
  const struct {
    double dialDegrees;
    double sliderDegrees;
  } turns[] = {{100, 100}, {800, 720}, {-400, -360}, {12.5, 12.5}};
  for (auto turn : turns) {
    updates.clear();
    host.values[kParamInnerHue].uu.change_flags = 0;
    host.setValue(kParamInnerHueAngle, turn.dialDegrees * 65536);
    ASSERT_EQ(userChanged(kParamInnerHueAngle), PF_Err_NONE);
    EXPECT_EQ(host.values[kParamInnerHue].u.fs_d.value, turn.sliderDegrees);
    EXPECT_EQ(host.values[kParamInnerHue].uu.change_flags, PF_ChangeFlag_CHANGED_VALUE);
    ASSERT_NE(updateOf(kParamInnerHueAngle), nullptr);
    EXPECT_EQ(updateOf(kParamInnerHueAngle)->def.u.ad.value, PF_Fixed(turn.sliderDegrees * 65536));
    EXPECT_EQ(updateOf(kParamInnerHueAngle)->def.uu.change_flags, 0);
  }
  // The other colours' sliders are not touched.
  EXPECT_EQ(host.values[kParamMainHue].u.fs_d.value, 35.0);
  EXPECT_EQ(host.values[kParamOuterHue].u.fs_d.value, 61.0);
}

TEST_F(ParamUiState, AnEqualDialLeavesTheSliderAloneButIsStillRedrawn) {
  host.values[kParamMainHue].uu.change_flags = 0;
  ASSERT_EQ(userChanged(kParamMainHueAngle), PF_Err_NONE);  // 35 degrees against 35.0
  EXPECT_EQ(host.values[kParamMainHue].uu.change_flags, 0);
  ASSERT_NE(updateOf(kParamMainHueAngle), nullptr);
  EXPECT_EQ(updateOf(kParamMainHueAngle)->def.u.ad.value, 35 * 65536);
}

TEST_F(ParamUiState, DialsAreRedrawnFromKeyframedSlidersWithHalvesAwayFromZero) {
  host.setValue(kParamInnerHue, 0.5 / 65536);
  host.setValue(kParamMainHue, -0.5 / 65536);
  host.setValueOverTime(kParamOuterHue, [](A_long t, A_long, A_u_long scale) { return 10.0 * t / scale; });
  host.in_data.current_time = 48;
  ASSERT_EQ(host.command(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
  EXPECT_EQ(updateOf(kParamInnerHueAngle)->def.u.ad.value, 1);
  EXPECT_EQ(updateOf(kParamMainHueAngle)->def.u.ad.value, -1);
  EXPECT_EQ(updateOf(kParamOuterHueAngle)->def.u.ad.value, 20 * 65536);
  EXPECT_TRUE(host.suitesBalanced());

  // A host whose slider range exceeds what the dial holds: the dial stops at its end.
  for (double degrees : {1e12, -1e12}) {
    updates.clear();
    host.values[kParamInnerHue].u.fs_d.valid_min = -3e38f;
    host.values[kParamInnerHue].u.fs_d.valid_max = 3e38f;
    host.setValue(kParamInnerHue, degrees);
    ASSERT_EQ(host.command(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
    EXPECT_EQ(updateOf(kParamInnerHueAngle)->def.u.ad.value,
              degrees > 0 ? std::numeric_limits<PF_Fixed>::max() : std::numeric_limits<PF_Fixed>::min());
  }
}

TEST_F(ParamUiState, EmitterSourceGreysOutTheControlsItDoesNotUse) {
  const std::vector<PF_ParamIndex> layerControls = {kParamEmitterLayer, kParamRiseHeight, kParamRiseSpeed};
  const std::vector<PF_ParamIndex> volumeControls = {kParamStepSize, kParamSphereRadius, kParamCameraDistance};
  const struct {
    double source;
    bool layerEnabled;
  // Values outside the popup count as the render counts them: below 1 is the volume.
  } cases[] = {{2, true}, {1, false}, {3, true}, {0, false}, {-2147483648.0, false}, {9, true}};
  for (auto c : cases) {
    host.setValue(kParamEmitterSource, c.source);
    ASSERT_EQ(userChanged(kParamEmitterSource), PF_Err_NONE);
    for (PF_ParamIndex position : layerControls) {
      EXPECT_EQ((host.values[position].ui_flags & PF_PUI_DISABLED) == 0, c.layerEnabled) << position;
    }
    for (PF_ParamIndex position : volumeControls) {
      EXPECT_EQ((host.values[position].ui_flags & PF_PUI_DISABLED) == 0, !c.layerEnabled) << position;
    }
  }
}

TEST_F(ParamUiState, OnlyChangedEnableStatesAreSentAndOtherFlagsSurvive) {
  host.values[kParamStepSize].ui_flags = PF_PUI_STD_CONTROL_ONLY;
  host.setValue(kParamEmitterSource, 2);
  ASSERT_EQ(host.command(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
  // The three dials always; of the enable rules only those whose bit changes.
  EXPECT_EQ(updatedPositions(), (std::vector<PF_ParamIndex>{36, 42, 48, 12, 13, 56}));
  EXPECT_EQ(updateOf(kParamStepSize)->def.ui_flags, PF_PUI_STD_CONTROL_ONLY | PF_PUI_DISABLED);
}

TEST_F(ParamUiState, FailuresStopWhereTheyHappen) {
  host.values[kParamMainHue].u.fs_d.value = std::numeric_limits<double>::infinity();
  ASSERT_EQ(host.command(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(updatedPositions(), (std::vector<PF_ParamIndex>{kParamInnerHueAngle}));
  EXPECT_EQ(host.out_data.return_msg[0], '\0');
  EXPECT_TRUE(host.suitesBalanced());

  host.values[kParamMainHue].u.fs_d.value = 35.0;
  updates.clear();
  failUpdate = 2;
  failCode = 77;
  EXPECT_EQ(host.command(PF_Cmd_UPDATE_PARAMS_UI), 77);
  EXPECT_EQ(updates.size(), 2u);
  EXPECT_TRUE(host.suitesBalanced());

  EXPECT_EQ(EffectMain(PF_Cmd_UPDATE_PARAMS_UI, &host.in_data, &host.out_data, nullptr, nullptr, nullptr),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host.command(PF_Cmd_USER_CHANGED_PARAM, nullptr), PF_Err_BAD_CALLBACK_PARAM);

  // An array with an empty entry is refused like a missing array, with nothing changed.
  for (PF_ParamIndex missing : {kParamInnerHue, kParamOuterHueAngle, kParamEmitterSource, kParamCameraDistance}) {
    updates.clear();
    host.setValue(kParamInnerHueAngle, 50 * 65536);
    std::vector<PF_ParamDef*> array(host.paramArray(), host.paramArray() + kParamCount);
    array[missing] = nullptr;
    PF_UserChangedParamExtra extra{kParamInnerHueAngle};
    for (PF_Cmd cmd : {PF_Cmd_UPDATE_PARAMS_UI, PF_Cmd_USER_CHANGED_PARAM}) {
      EXPECT_EQ(EffectMain(cmd, &host.in_data, &host.out_data, array.data(), nullptr, &extra), PF_Err_BAD_CALLBACK_PARAM)
          << "position " << missing;
    }
    EXPECT_TRUE(updates.empty());
    EXPECT_EQ(host.values[kParamInnerHue].u.fs_d.value, 38.0);
  }

  // Without the suite the dial's value still reaches the slider, and the command reports 512.
  host.removeSuite(kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3);
  host.setValue(kParamOuterHueAngle, 90 * 65536);
  EXPECT_EQ(userChanged(kParamOuterHueAngle), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(host.values[kParamOuterHue].u.fs_d.value, 90.0);
}

}  // namespace
