#include "host/parameter_set.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "tests/support/test_host.h"

namespace {

struct ExpectedControl {
  PF_ParamIndex position;
  A_long id;
  const char* name;  // "" for group ends
  PF_ParamType type;
  PF_ParamFlags flags;
  PF_ParamUIFlags uiFlags;
};

constexpr PF_ParamFlags kTimeless = PF_ParamFlag_CANNOT_TIME_VARY;
constexpr PF_ParamFlags kCollapsed = PF_ParamFlag_COLLAPSE_TWIRLY;
constexpr PF_ParamFlags kSupervised = PF_ParamFlag_SUPERVISE;

// What projects depend on: position, identifier, name, type and flags of every control.
const ExpectedControl kExpectedControls[] = {
    {1, 33, "About", PF_Param_NO_DATA, kTimeless | PF_ParamFlag_CANNOT_INTERP, PF_PUI_CONTROL},
    {2, 31, "Quality", PF_Param_POPUP, 0, 0},
    {3, 32, "Processing", PF_Param_POPUP, 0, 0},
    {4, 51, "Smooth Sampling", PF_Param_CHECKBOX, 0, 0},
    {5, 52, "Emitter", PF_Param_GROUP_START, kCollapsed, 0},
    {6, 53, "Source", PF_Param_POPUP, kSupervised, 0},
    {7, 54, "Emitter Layer", PF_Param_LAYER, 0, 0},
    {8, 55, "Rise Height", PF_Param_FLOAT_SLIDER, 0, 0},
    {9, 57, "Rise Speed", PF_Param_FLOAT_SLIDER, 0, 0},
    {10, 56, "", PF_Param_GROUP_END, 0, 0},
    {11, 1, "Density", PF_Param_FLOAT_SLIDER, 0, 0},
    {12, 2, "Step Size", PF_Param_FLOAT_SLIDER, 0, 0},
    {13, 3, "Sphere Radius", PF_Param_FLOAT_SLIDER, 0, 0},
    {14, 4, "Noise Amplitude", PF_Param_FLOAT_SLIDER, 0, 0},
    {15, 5, "Noise Frequency", PF_Param_FLOAT_SLIDER, 0, 0},
    {16, 6, "Animation Speed", PF_Param_FLOAT_SLIDER, 0, 0},
    {17, 7, "Animation Offset", PF_Param_FLOAT_SLIDER, 0, 0},
    {18, 34, "Noise Flow", PF_Param_GROUP_START, kCollapsed, 0},
    {19, 8, "X", PF_Param_FLOAT_SLIDER, 0, 0},
    {20, 9, "Y", PF_Param_FLOAT_SLIDER, 0, 0},
    {21, 10, "Z", PF_Param_FLOAT_SLIDER, 0, 0},
    {22, 35, "", PF_Param_GROUP_END, 0, 0},
    {23, 36, "Color Adjustment", PF_Param_GROUP_START, kCollapsed, 0},
    {24, 11, "Brightness", PF_Param_FLOAT_SLIDER, 0, 0},
    {25, 12, "Contrast", PF_Param_FLOAT_SLIDER, 0, 0},
    {26, 13, "Saturation", PF_Param_FLOAT_SLIDER, 0, 0},
    {27, 37, "", PF_Param_GROUP_END, 0, 0},
    {28, 38, "Tint", PF_Param_GROUP_START, kCollapsed, 0},
    {29, 14, "Amount", PF_Param_FLOAT_SLIDER, 0, 0},
    {30, 15, "Red", PF_Param_FLOAT_SLIDER, 0, 0},
    {31, 16, "Green", PF_Param_FLOAT_SLIDER, 0, 0},
    {32, 17, "Blue", PF_Param_FLOAT_SLIDER, 0, 0},
    {33, 39, "", PF_Param_GROUP_END, 0, 0},
    {34, 40, "Inner Color", PF_Param_GROUP_START, kCollapsed, 0},
    {35, 18, "Hue", PF_Param_FLOAT_SLIDER, kCollapsed | kSupervised, PF_PUI_NO_ECW_UI},
    {36, 48, "Hue", PF_Param_ANGLE, kTimeless | kSupervised, PF_PUI_STD_CONTROL_ONLY},
    {37, 19, "Gain", PF_Param_FLOAT_SLIDER, 0, 0},
    {38, 20, "Opacity", PF_Param_FLOAT_SLIDER, 0, 0},
    {39, 41, "", PF_Param_GROUP_END, 0, 0},
    {40, 42, "Main Color", PF_Param_GROUP_START, kCollapsed, 0},
    {41, 21, "Hue", PF_Param_FLOAT_SLIDER, kCollapsed | kSupervised, PF_PUI_NO_ECW_UI},
    {42, 49, "Hue", PF_Param_ANGLE, kTimeless | kSupervised, PF_PUI_STD_CONTROL_ONLY},
    {43, 22, "Gain", PF_Param_FLOAT_SLIDER, 0, 0},
    {44, 23, "Opacity", PF_Param_FLOAT_SLIDER, 0, 0},
    {45, 43, "", PF_Param_GROUP_END, 0, 0},
    {46, 44, "Outer Color", PF_Param_GROUP_START, kCollapsed, 0},
    {47, 24, "Hue", PF_Param_FLOAT_SLIDER, kCollapsed | kSupervised, PF_PUI_NO_ECW_UI},
    {48, 50, "Hue", PF_Param_ANGLE, kTimeless | kSupervised, PF_PUI_STD_CONTROL_ONLY},
    {49, 25, "Gain", PF_Param_FLOAT_SLIDER, 0, 0},
    {50, 26, "Opacity", PF_Param_FLOAT_SLIDER, 0, 0},
    {51, 45, "", PF_Param_GROUP_END, 0, 0},
    {52, 46, "View", PF_Param_GROUP_START, kCollapsed, 0},
    {53, 27, "Zoom", PF_Param_FLOAT_SLIDER, 0, 0},
    {54, 28, "Center X", PF_Param_FLOAT_SLIDER, 0, 0},
    {55, 29, "Center Y", PF_Param_FLOAT_SLIDER, 0, 0},
    {56, 30, "Camera Distance", PF_Param_FLOAT_SLIDER, 0, 0},
    {57, 47, "", PF_Param_GROUP_END, 0, 0},
};

struct ExpectedSlider {
  PF_ParamIndex position;
  float dephault;
  float validMin, validMax;
  float sliderMin, sliderMax;
  A_short precision;
  bool percent;
};

const ExpectedSlider kExpectedSliders[] = {
    {8, 35.0f, 1.0f, 100.0f, 1.0f, 60.0f, 1, true},
    {9, 1.5f, -10.0f, 10.0f, -3.0f, 3.0f, 2, false},
    {11, 1.0f, 0.0f, 2.0f, 0.0f, 2.0f, 2, false},
    {12, 0.5f, 0.001f, 2.0f, 0.1f, 1.0f, 2, false},
    {13, 7.0f, 0.1f, 30.0f, 1.0f, 12.0f, 2, false},
    {14, 9.0f, 0.0f, 30.0f, 0.0f, 15.0f, 2, false},
    {15, 1.5f, 0.01f, 20.0f, 0.1f, 5.0f, 2, false},
    {16, 1.0f, -20.0f, 20.0f, -3.0f, 3.0f, 2, false},
    {17, 0.0f, -1000.0f, 1000.0f, -10.0f, 10.0f, 2, false},
    {19, 0.0f, -10.0f, 10.0f, -2.0f, 2.0f, 2, false},
    {20, 0.3f, -10.0f, 10.0f, -2.0f, 2.0f, 2, false},
    {21, 1.0f, -10.0f, 10.0f, -2.0f, 2.0f, 2, false},
    {24, 0.3f, -4.0f, 8.0f, 0.0f, 2.0f, 2, false},
    {25, 1.3f, 0.0f, 8.0f, 0.0f, 3.0f, 2, false},
    {26, 0.1f, 0.0f, 8.0f, 0.0f, 3.0f, 2, false},
    {29, 0.23f, 0.0f, 1.0f, 0.0f, 1.0f, 2, false},
    {30, 3.8f, -8.0f, 16.0f, -2.0f, 5.0f, 2, false},
    {31, 0.8f, -8.0f, 16.0f, -2.0f, 5.0f, 2, false},
    {32, -1.4f, -8.0f, 16.0f, -2.0f, 5.0f, 2, false},
    {35, 38.0f, -360.0f, 720.0f, 0.0f, 360.0f, 2, false},
    {37, 148.0f, 0.0f, 1000.0f, 0.0f, 500.0f, 2, true},
    {38, 40.0f, 0.0f, 100.0f, 0.0f, 100.0f, 2, true},
    {41, 35.0f, -360.0f, 720.0f, 0.0f, 360.0f, 2, false},
    {43, 382.0f, 0.0f, 1000.0f, 0.0f, 500.0f, 2, true},
    {44, 50.0f, 0.0f, 100.0f, 0.0f, 100.0f, 2, true},
    {47, 61.0f, -360.0f, 720.0f, 0.0f, 360.0f, 2, false},
    {49, 100.0f, 0.0f, 1000.0f, 0.0f, 500.0f, 2, true},
    {50, 10.0f, 0.0f, 100.0f, 0.0f, 100.0f, 2, true},
    {53, 1.0f, 0.1f, 10.0f, 0.25f, 3.0f, 2, false},
    {54, 0.0f, -20.0f, 20.0f, -5.0f, 5.0f, 2, false},
    {55, 0.0f, -20.0f, 20.0f, -5.0f, 5.0f, 2, false},
    {56, 8.0f, 1.0f, 40.0f, 4.0f, 16.0f, 2, false},
};

struct ExpectedPopup {
  PF_ParamIndex position;
  A_short choice;
  const char* choices;
};

const ExpectedPopup kExpectedPopups[] = {
    {2, 3, "Draft (64)|Balanced (128)|Original (256)"},
    {3, 1, "Auto (GPU preferred)|GPU required|CPU"},
    {6, 1, "Original Volume|Layer Alpha|Layer Luma"},
};

struct ExpectedAngle {
  PF_ParamIndex position;
  PF_Fixed degrees;  // 16.16
};

const ExpectedAngle kExpectedAngles[] = {{36, 0x00260000}, {42, 0x00230000}, {48, 0x003D0000}};

const PF_ParamDef& declared(const TestHost& host, PF_ParamIndex position) {
  return host.definitions.at(size_t(position - 1));
}

class ParameterSetTest : public ::testing::Test {
 protected:
  void SetUp() override { host.out_data.num_params = -7; }
  TestHost host;
};

TEST_F(ParameterSetTest, DeclaresEveryControlInOrderWithItsIdentifierNameTypeAndFlags) {
  ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
  ASSERT_EQ(host.definitions.size(), std::size(kExpectedControls));
  EXPECT_EQ(host.out_data.num_params, 58);
  for (PF_ParamIndex position : host.addParamPositions) {
    EXPECT_EQ(position, -1);  // append
  }
  for (const ExpectedControl& expected : kExpectedControls) {
    SCOPED_TRACE("position " + std::to_string(expected.position));
    const PF_ParamDef& def = declared(host, expected.position);
    EXPECT_EQ(def.uu.id, expected.id);
    EXPECT_STREQ(def.name, expected.name);
    EXPECT_EQ(def.param_type, expected.type);
    EXPECT_EQ(def.flags, expected.flags);
    EXPECT_EQ(def.ui_flags, expected.uiFlags);
    const bool banner = expected.type == PF_Param_NO_DATA;
    EXPECT_EQ(def.ui_width, banner ? 240 : 0);
    EXPECT_EQ(def.ui_height, banner ? 60 : 0);
  }
}

TEST_F(ParameterSetTest, SlidersCarryFloatDefaultsRangesPrecisionAndPercentDisplay) {
  ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
  int sliders = 0;
  for (const PF_ParamDef& def : host.definitions) {
    sliders += def.param_type == PF_Param_FLOAT_SLIDER;
  }
  EXPECT_EQ(sliders, int(std::size(kExpectedSliders)));
  for (const ExpectedSlider& expected : kExpectedSliders) {
    SCOPED_TRACE("position " + std::to_string(expected.position));
    const PF_FloatSliderDef& slider = declared(host, expected.position).u.fs_d;
    // The current value is the float default widened: 0.3f, not the double nearest 0.3.
    EXPECT_EQ(slider.value, double(expected.dephault));
    EXPECT_EQ(slider.dephault, expected.dephault);
    EXPECT_EQ(slider.valid_min, expected.validMin);
    EXPECT_EQ(slider.valid_max, expected.validMax);
    EXPECT_EQ(slider.slider_min, expected.sliderMin);
    EXPECT_EQ(slider.slider_max, expected.sliderMax);
    EXPECT_EQ(slider.precision, expected.precision);
    EXPECT_EQ(slider.display_flags, expected.percent ? PF_ValueDisplayFlag_PERCENT : 0);
    EXPECT_EQ(slider.curve_tolerance, 0.05f);
    EXPECT_EQ(slider.fs_flags, 0);
    EXPECT_EQ(slider.useExponent, 0);
    EXPECT_EQ(slider.exponent, 0.0f);
    EXPECT_EQ(slider.phase, 0.0);
    EXPECT_EQ(slider.value_desc, nullptr);
  }
}

TEST_F(ParameterSetTest, PopupsCheckboxLayerAndAnglesCarryTheirDefaults) {
  ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
  for (const ExpectedPopup& expected : kExpectedPopups) {
    SCOPED_TRACE("position " + std::to_string(expected.position));
    const PF_PopupDef& popup = declared(host, expected.position).u.pd;
    EXPECT_EQ(popup.value, expected.choice);
    EXPECT_EQ(popup.dephault, expected.choice);
    EXPECT_EQ(popup.num_choices, 3);
    ASSERT_NE(popup.u.namesptr, nullptr);
    EXPECT_STREQ(popup.u.namesptr, expected.choices);
  }
  for (const ExpectedAngle& expected : kExpectedAngles) {
    SCOPED_TRACE("position " + std::to_string(expected.position));
    const PF_AngleDef& angle = declared(host, expected.position).u.ad;
    EXPECT_EQ(angle.value, expected.degrees);
    EXPECT_EQ(angle.dephault, expected.degrees);
    EXPECT_EQ(angle.valid_min, 0);
    EXPECT_EQ(angle.valid_max, 0);
  }
  const PF_CheckBoxDef& smooth = declared(host, kParamSmoothSampling).u.bd;
  EXPECT_EQ(smooth.value, 1);
  EXPECT_EQ(smooth.dephault, 1);
  ASSERT_NE(smooth.u.nameptr, nullptr);
  EXPECT_STREQ(smooth.u.nameptr, "");
  const PF_LayerDef& emitter = declared(host, kParamEmitterLayer).u.ld;
  EXPECT_EQ(emitter.dephault, PF_LayerDefault_MYSELF);
  EXPECT_EQ(emitter.data, nullptr);
}

TEST_F(ParameterSetTest, IdentifiersAreUniqueAndGroupsAreBalancedAndCollapsed) {
  ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
  std::set<A_long> ids;
  for (const PF_ParamDef& def : host.definitions) {
    ids.insert(def.uu.id);
  }
  EXPECT_EQ(ids.size(), 57u);
  EXPECT_EQ(*ids.begin(), 1);
  EXPECT_EQ(*ids.rbegin(), 57);

  // Groups never nest; each colour group holds one hidden hue slider and one visible hue angle.
  std::vector<std::string> groups;
  const char* openGroup = nullptr;
  int hiddenHues = 0;
  int visibleHues = 0;
  for (const PF_ParamDef& def : host.definitions) {
    if (def.param_type == PF_Param_GROUP_START) {
      EXPECT_EQ(openGroup, nullptr) << def.name;
      EXPECT_NE(def.flags & PF_ParamFlag_COLLAPSE_TWIRLY, 0) << def.name;
      openGroup = def.name;
      groups.push_back(def.name);
      hiddenHues = visibleHues = 0;
    } else if (def.param_type == PF_Param_GROUP_END) {
      ASSERT_NE(openGroup, nullptr);
      if (std::strstr(openGroup, "Color") != nullptr && std::strcmp(openGroup, "Color Adjustment")) {
        EXPECT_EQ(hiddenHues, 1) << openGroup;
        EXPECT_EQ(visibleHues, 1) << openGroup;
      }
      openGroup = nullptr;
    } else if (std::strcmp(def.name, "Hue") == 0) {
      hiddenHues += def.ui_flags == PF_PUI_NO_ECW_UI;
      visibleHues += def.ui_flags == PF_PUI_STD_CONTROL_ONLY;
    }
  }
  EXPECT_EQ(openGroup, nullptr);
  EXPECT_EQ(groups, (std::vector<std::string>{"Emitter", "Noise Flow", "Color Adjustment", "Tint",
                                              "Inner Color", "Main Color", "Outer Color", "View"}));
}

TEST_F(ParameterSetTest, NamesTheOptionsButtonAndRegistersOnlyTheEffectPanelControl) {
  ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
  EXPECT_EQ(host.optionsButtonNames, std::vector<std::string>{"About..."});
  ASSERT_EQ(host.registeredUi.size(), 1u);
  const PF_CustomUIInfo& info = host.registeredUi[0];
  EXPECT_EQ(info.events, PF_CustomEFlag_EFFECT);
  PF_CustomUIInfo expected{};
  expected.events = PF_CustomEFlag_EFFECT;
  EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0);
  EXPECT_EQ(host.acquireCount(kPFEffectUISuite), 1);
  EXPECT_TRUE(host.suitesBalanced());
}

struct FailureCase {
  const char* what;
  std::function<void(TestHost&)> arrange;
  PF_Err result;
  size_t declared;
  bool numParamsSet;
  int buttonNamings;  // successful PF_SetOptionsButtonName calls
  int registerUiCalls;
  int uiSuiteAcquires;
};

TEST_F(ParameterSetTest, FailuresStopWhereTheyHappenAndReleaseTheSuite) {
  const std::string uiSuite = kPFEffectUISuite;
  static const PF_EffectUISuite1 suiteWithoutFunction{};
  const FailureCase cases[] = {
      {"20th add_param fails", [](TestHost& h) { h.failCall(HostCallback::AddParam, 20, 7); },
       7, 19, false, 0, 0, 0},
      {"first add_param fails", [](TestHost& h) { h.failCall(HostCallback::AddParam, 1, 4); },
       4, 0, false, 0, 0, 0},
      {"add_param missing", [](TestHost& h) { h.in_data.inter.add_param = nullptr; },
       PF_Err_INVALID_CALLBACK, 0, false, 0, 0, 0},
      {"register_ui missing", [](TestHost& h) { h.in_data.inter.register_ui = nullptr; },
       PF_Err_INVALID_CALLBACK, 57, true, 1, 0, 1},
      {"register_ui fails", [](TestHost& h) { h.failCall(HostCallback::RegisterUi, 1, 9); },
       9, 57, true, 1, 1, 1},
      {"options button naming fails",
       [](TestHost& h) { h.failCall(HostCallback::SetOptionsButtonName, 1, 33); },
       33, 57, true, 0, 0, 1},
      {"UI suite missing", [&](TestHost& h) { h.removeSuite(uiSuite, 1); },
       PF_Err_INTERNAL_STRUCT_DAMAGED, 57, true, 0, 0, 0},
      {"only another UI suite version",
       [&](TestHost& h) {
         h.removeSuite(uiSuite, 1);
         h.provideSuite(uiSuite, 2, &h.effectUiSuite);
       },
       PF_Err_INTERNAL_STRUCT_DAMAGED, 57, true, 0, 0, 0},
      {"UI suite without its function",
       [&](TestHost& h) { h.provideSuite(uiSuite, 1, &suiteWithoutFunction); },
       PF_Err_INTERNAL_STRUCT_DAMAGED, 57, true, 0, 0, 1},
      {"basic suite missing", [](TestHost& h) { h.in_data.pica_basicP = nullptr; },
       PF_Err_INTERNAL_STRUCT_DAMAGED, 57, true, 0, 0, 0},
      {"basic suite without acquire", [](TestHost& h) { h.basicSuite.AcquireSuite = nullptr; },
       PF_Err_INTERNAL_STRUCT_DAMAGED, 57, true, 0, 0, 0},
      {"basic suite without release", [](TestHost& h) { h.basicSuite.ReleaseSuite = nullptr; },
       PF_Err_INTERNAL_STRUCT_DAMAGED, 57, true, 0, 0, 0},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.what);
    TestHost fresh;
    fresh.out_data.num_params = -7;
    c.arrange(fresh);
    EXPECT_EQ(fresh.paramsSetup(), c.result);
    EXPECT_EQ(fresh.definitions.size(), c.declared);
    EXPECT_EQ(fresh.out_data.num_params, c.numParamsSet ? 58 : -7);
    EXPECT_EQ(int(fresh.optionsButtonNames.size()), c.buttonNamings);
    EXPECT_EQ(fresh.callCount(HostCallback::RegisterUi), c.registerUiCalls);
    EXPECT_EQ(fresh.acquireCount(uiSuite), c.uiSuiteAcquires);
    EXPECT_TRUE(fresh.suitesBalanced());
    // A suite that is not there is not the user's business: no message.
    EXPECT_STREQ(fresh.out_data.return_msg, "");
    EXPECT_EQ(fresh.out_data.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
  }
}

TEST(ParameterSetDirect, MissingHostRecordsAreRejectedWithoutCrashing) {
  TestHost host;
  EXPECT_EQ(setupParameters(nullptr, &host.out_data), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(setupParameters(&host.in_data, nullptr), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(host.definitions.empty());
}

TEST(ParameterSetDirect, MissingUiSuiteIsRaisedAsTheHostErrorEnumeration) {
  TestHost host;
  host.removeSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1);
  EXPECT_THROW(installOptionsButton(&host.in_data), PF_ErrorCode);
}

TEST(ShortParamName, GivesGroupMembersTheirShortNamesAndOthersTheLongName) {
  const struct {
    PF_ParamIndex position;
    const char* expected;
  } cases[] = {
      {19, "X"},       {20, "Y"},        {21, "Z"},        {29, "Amount"},   {30, "Red"},
      {31, "Green"},   {32, "Blue"},     {35, "Hue"},      {41, "Hue"},      {47, "Hue"},
      {37, "Gain"},    {43, "Gain"},     {49, "Gain"},     {38, "Opacity"},  {44, "Opacity"},
      {50, "Opacity"}, {53, "Zoom"},     {54, "Center X"}, {55, "Center Y"}, {11, "Long Name"},
      {36, "Long Name"}, {56, "Long Name"}, {0, "Long Name"}, {-1, "Long Name"}, {58, "Long Name"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(shortParamName(c.position, "Long Name"), c.expected) << c.position;
  }
}

}  // namespace
