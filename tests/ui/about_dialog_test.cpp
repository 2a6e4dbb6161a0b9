#include "ui/about_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "sdk/suites_sdk.h"
#include "tests/support/test_host.h"

namespace {

PF_Boolean renderEngineAnswer = 0;
PF_Err isRenderEngine(PF_Boolean* answer) {
  *answer = renderEngineAnswer;
  return PF_Err_NONE;
}

TEST(AboutDialog, HostsWithoutADialogGetTheSixLineText) {
  TestHost host;
  PFAppSuite1 appSuite{};
  appSuite.PF_IsRenderEngine = isRenderEngine;
  host.provideSuite(kPFAppSuite, kPFAppSuiteVersion1, &appSuite);

  for (PF_Boolean renderEngine : {PF_Boolean(1), PF_Boolean(0)}) {
    renderEngineAnswer = renderEngine;
    std::memset(host.out_data.return_msg, 'x', sizeof host.out_data.return_msg);
    for (PF_Cmd cmd : {PF_Cmd_ABOUT, PF_Cmd_DO_DIALOG}) {
      ASSERT_EQ(host.command(cmd), PF_Err_NONE);
      const std::string text = host.out_data.return_msg;
      EXPECT_EQ(text, aboutText);
      EXPECT_EQ(text.rfind("Vortelline\rmake by Ternwick\r", 0), 0u);
      EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 5);
      EXPECT_EQ(text.find('\n'), std::string::npos);
      EXPECT_LE(text.size(), 255u);
    }
  }
  // A render engine is not asked for a window; otherwise the window query follows.
  EXPECT_EQ(host.callCount(HostCallback::GetPlatformData), 2);
  EXPECT_EQ(host.acquireCount(kPFAppSuite), 4);
  EXPECT_TRUE(host.suitesBalanced());
}

TEST(AboutDialog, WithoutOutDataTheTextHasNowhereToGo) {
  TestHost host;
  host.removeSuite(kPFAppSuite, kPFAppSuiteVersion1);
  EXPECT_EQ(EffectMain(PF_Cmd_ABOUT, &host.in_data, nullptr, nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(showAboutDialog(nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
  PF_OutData out{};
  EXPECT_EQ(showAboutDialog(nullptr, &out), PF_Err_NONE);
  EXPECT_STREQ(out.return_msg, aboutText);
}

}  // namespace
