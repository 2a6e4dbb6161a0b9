// Resolving "Name=VALUE" against declared controls, and values over time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "session/parameter_settings.h"
#include "session/program_errors.h"

namespace {

DeclaredParam control(PF_ParamType type, const char* name, const char* group, const char* choices = "") {
  DeclaredParam param;
  param.def.param_type = type;
  std::strncpy(param.def.name, name, sizeof param.def.name - 1);
  param.group = group;
  param.choices = choices;
  return param;
}

// A small parameter set shaped like the effect's: groups, a hidden hue slider with its angle,
// and names that repeat across groups.
std::vector<DeclaredParam> declaredControls() {
  std::vector<DeclaredParam> params;
  params.push_back(control(PF_Param_LAYER, "", ""));
  params.push_back(control(PF_Param_POPUP, "Quality", "", "Draft (64)|Balanced (128)|Original (256)"));
  params.push_back(control(PF_Param_CHECKBOX, "Smooth Sampling", ""));
  params.push_back(control(PF_Param_FLOAT_SLIDER, "Density", ""));
  params.push_back(control(PF_Param_GROUP_START, "Inner Color", ""));
  DeclaredParam hue = control(PF_Param_FLOAT_SLIDER, "Hue", "Inner Color");
  hue.def.ui_flags = PF_PUI_NO_ECW_UI;
  params.push_back(hue);
  params.push_back(control(PF_Param_ANGLE, "Hue", "Inner Color"));
  params.push_back(control(PF_Param_FLOAT_SLIDER, "Gain", "Inner Color"));
  params.push_back(control(PF_Param_GROUP_END, "", "Inner Color"));
  params.push_back(control(PF_Param_GROUP_START, "Main Color", ""));
  params.push_back(control(PF_Param_FLOAT_SLIDER, "Gain", "Main Color"));
  params.push_back(control(PF_Param_GROUP_END, "", "Main Color"));
  params.push_back(control(PF_Param_ANGLE, "Spin", ""));
  params.push_back(control(PF_Param_LAYER, "Emitter Layer", ""));
  params.push_back(control(PF_Param_NO_DATA, "About", ""));
  return params;
}

TEST(ParameterSettings, NamesResolveToTheirControlWithValuesInTheirUnits) {
  struct Case {
    const char* text;
    int position;
    double value;
  };
  const Case cases[] = {
      {"Density=0.25", 3, 0.25},
      {"  density = 2 ", 3, 2.0},
      {"Quality=Draft (64)", 1, 1.0},
      {"Quality=original (256)", 1, 3.0},
      {"Quality=Bal", 1, 2.0},  // an unambiguous beginning of a choice
      {"Quality=2", 1, 2.0},
      {"Smooth Sampling=off", 2, 0.0},
      {"Smooth Sampling=ON", 2, 1.0},
      {"Inner Color/Gain=150", 7, 150.0},
      {"main color / gain=75", 10, 75.0},
      // The hidden slider, never the angle that edits it.
      {"Inner Color/Hue=100", 5, 100.0},
      {"Hue=100", 5, 100.0},
      {"Spin=-90.5", 12, -90.5},
  };
  std::vector<DeclaredParam> params = declaredControls();
  for (const Case& test : cases) {
    ParamAssignment assignment = parseAssignment(params, test.text);
    EXPECT_EQ(assignment.position, test.position) << test.text;
    ASSERT_EQ(assignment.track.keys.size(), 1u) << test.text;
    EXPECT_EQ(assignment.track.keys[0].value, test.value) << test.text;
  }
}

TEST(ParameterSettings, NonFiniteSliderValuesPassToTheEffect) {
  std::vector<DeclaredParam> params = declaredControls();
  EXPECT_TRUE(std::isnan(parseAssignment(params, "Density=nan").track.keys[0].value));
  EXPECT_EQ(parseAssignment(params, "Density=-inf").track.keys[0].value, -std::numeric_limits<double>::infinity());
  EXPECT_THROW(parseAssignment(params, "Spin=nan"), UsageError);
}

TEST(ParameterSettings, BadNamesAndValuesNameTheNearestChoices) {
  struct Case {
    const char* text;
    std::vector<const char*> mentioned;
  };
  const Case cases[] = {
      {"Densty=1", {"did you mean", "\"Density\""}},
      {"Inner Colour/Gain=1", {"\"Inner Color/Gain\""}},
      {"Gain=1", {"\"Inner Color/Gain\" or \"Main Color/Gain\""}},
      {"Zzzzzzzz=1", {"vortelline params"}},
      {"Quality=Orignal", {"\"Original (256)\", \"Draft (64)\"", "1 to 3"}},
      {"Quality=0", {"1 to 3"}},
      {"Smooth Sampling=2", {"on or off"}},
      {"Density=1,2", {"VALUE@FRAME"}},
      {"Density=1@0,2@0", {"two keyframes at frame 0"}},
      {"Density=1@x", {"\"x\" is not a frame number"}},
      {"Density=1@1000000000", {"\"1000000000\" is not a frame number", "999999999"}},
      {"Density=1@-18446744073709551615", {"is not a frame number"}},
      {"Density=1@2.5", {"\"2.5\" is not a frame number"}},
      {"Emitter Layer=1", {"--emitter"}},
      {"Inner Color=1", {"did you mean", "\"Inner Color/Gain\""}},
      {"Spin/Hue=1", {"unknown control"}},
      {"About=1", {"has no value"}},
      {"Density", {"Name=VALUE"}},
  };
  std::vector<DeclaredParam> params = declaredControls();
  for (const Case& test : cases) {
    try {
      parseAssignment(params, test.text);
      ADD_FAILURE() << test.text << " was accepted";
    } catch (const UsageError& error) {
      for (const char* text : test.mentioned) {
        EXPECT_NE(std::string(error.what()).find(text), std::string::npos) << test.text << ": " << error.what();
      }
    }
  }
}

TEST(ParameterSettings, KeyframesAreSortedAndReadLinearlyOrHeld) {
  std::vector<DeclaredParam> params = declaredControls();
  ParamTrack track = parseAssignment(params, "Density=3@48, 1.5@0").track;
  ASSERT_EQ(track.keys.size(), 2u);
  EXPECT_EQ(track.keys[0].time, 0.0);
  EXPECT_EQ(track.keys[1].time, 48.0);

  struct Case {
    double time;
    bool interpolate;
    double value;
  };
  const Case cases[] = {
      {-5.0, true, 1.5}, {0.0, true, 1.5},    {24.0, true, 2.25}, {12.0, true, 1.875},
      {48.0, true, 3.0}, {100.0, true, 3.0},  {24.0, false, 1.5}, {47.999, false, 1.5},
      {48.0, false, 3.0},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(trackValueAt(track, test.time, test.interpolate), test.value) << test.time;
  }
  // Keys hit exactly, even where linear arithmetic would round.
  ParamTrack awkward{{{0.0, 0.1}, {3.0, 0.7}, {7.0, 0.3}}};
  EXPECT_EQ(trackValueAt(awkward, 3.0, true), 0.7);
  EXPECT_EQ(trackValueAt(awkward, 7.0, true), 0.3);
}

// As many keys as a long animation holds, in reverse: each found, sorted, read back, and a
// repeated frame found however far apart the two keys are written.
TEST(ParameterSettings, ManyKeysParseAndReadBack) {
  std::vector<DeclaredParam> params = declaredControls();
  constexpr long keyCount = 200000;
  std::string text = "Density=";
  for (long frame = keyCount - 1; frame >= 0; --frame) {
    text += std::to_string(frame % 7) + "@" + std::to_string(frame) + (frame > 0 ? "," : "");
  }
  ParamTrack track = parseAssignment(params, text).track;
  ASSERT_EQ(track.keys.size(), size_t(keyCount));
  for (long frame : {0L, 1L, 99999L, keyCount - 1}) {
    EXPECT_EQ(track.keys[frame].time, double(frame));
    EXPECT_EQ(trackValueAt(track, double(frame), true), double(frame % 7)) << frame;
  }
  EXPECT_EQ(trackValueAt(track, 99999.5, true), (99999 % 7 + 100000 % 7) / 2.0);
  EXPECT_EQ(trackValueAt(track, 99999.5, false), double(99999 % 7));
  try {
    parseAssignment(params, text + ",5@" + std::to_string(keyCount - 2));
    ADD_FAILURE();
  } catch (const UsageError& error) {
    EXPECT_NE(std::string(error.what()).find("two keyframes at frame 199998"), std::string::npos) << error.what();
  }
}

TEST(ParameterSettings, HueAnglesAreFoundByGroupAndName) {
  std::vector<DeclaredParam> params = declaredControls();
  EXPECT_EQ(hueSliderEditedBy(params, 6), 5);
  EXPECT_EQ(hueSliderEditedBy(params, 12), -1);  // an angle on its own
  EXPECT_EQ(hueSliderEditedBy(params, 5), -1);   // not an angle
}

TEST(ParameterSettings, DegreesBecomeFixedPointRoundingHalvesAwayFromZero) {
  struct Case {
    double degrees;
    PF_Fixed fixed;
  };
  const Case cases[] = {{38.0, 0x00260000}, {100.0, 6553600},        {0.5 / 65536.0, 1},
                        {-0.5 / 65536.0, -1}, {720.0, 720 * 65536}, {-360.0, -360 * 65536}};
  for (const Case& test : cases) {
    EXPECT_EQ(degreesToFixed(test.degrees), test.fixed) << test.degrees;
  }
}

TEST(ParameterSettings, NearestNamesRankTyposAndFragments) {
  std::vector<std::string> names{"Density", "Noise Frequency", "Noise Amplitude", "Step Size"};
  EXPECT_EQ(nearestNames("densty", names, 3), std::vector<std::string>{"Density"});
  EXPECT_EQ(nearestNames("Noise", names, 3), (std::vector<std::string>{"Noise Frequency", "Noise Amplitude"}));
  EXPECT_TRUE(nearestNames("Camera", names, 3).empty());
}

}  // namespace
