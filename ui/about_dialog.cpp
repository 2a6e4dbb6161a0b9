#include "ui/about_dialog.h"

#include <cstdio>

#include "host/acquired_suite.h"
#include "sdk/suites_sdk.h"

const char* const aboutText =
    "Vortelline\r"
    "make by Ternwick\r"
    "https://www.ternwick.com\r"
    "Flame shader and value noise by the Vortelline authors\r"
    "https://www.ternwick.com/vortelline/source\r"
    "Shader code licensed under the MIT License";

namespace {

bool reportsRenderEngine(const AcquiredSuite<PFAppSuite1>& appSuite) {
  if (appSuite.get() == nullptr || appSuite->PF_IsRenderEngine == nullptr) return false;
  PF_Boolean renderEngine = 0;
  return appSuite->PF_IsRenderEngine(&renderEngine) == PF_Err_NONE && renderEngine != 0;
}

bool hostHasMainWindow(PF_InData* in_data) {
  if (in_data == nullptr || in_data->utils == nullptr || in_data->utils->get_platform_data == nullptr) return false;
  void* window = nullptr;
  return in_data->utils->get_platform_data(in_data->effect_ref, PF_PlatData_MAIN_WND, &window) == PF_Err_NONE &&
         window != nullptr;
}

// Shows the modal dialog over the host's main window; false when it could not be shown. No dialog
// toolkit is wired in yet, so it never opens and the host receives the text instead.
bool runAboutDialog(PF_InData*) { return false; }

}  // namespace

PF_Err showAboutDialog(PF_InData* in_data, PF_OutData* out_data) {
  AcquiredSuite<PFAppSuite1> appSuite(in_data, kPFAppSuite, kPFAppSuiteVersion1);
  if (!reportsRenderEngine(appSuite) && hostHasMainWindow(in_data) && runAboutDialog(in_data)) return PF_Err_NONE;
  if (out_data == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  std::snprintf(out_data->return_msg, sizeof out_data->return_msg, "%s", aboutText);
  return PF_Err_NONE;
}
