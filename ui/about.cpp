#include "ui/about.h"

#include <dlfcn.h>

#include <cstdio>
#include <optional>
#include <string>

#include "host/acquired_suite.h"
#include "sdk/suites_sdk.h"
#include "ui/about_dialog_entry.h"

namespace {

bool reportsRenderEngine(const AcquiredSuite<PFAppSuite1>& appSuite) {
  if (appSuite.get() == nullptr || appSuite->PF_IsRenderEngine == nullptr) return false;
  PF_Boolean renderEngine = 0;
  return appSuite->PF_IsRenderEngine(&renderEngine) == PF_Err_NONE && renderEngine != 0;
}

void* hostMainWindow(PF_InData* in_data) {
  if (in_data == nullptr || in_data->utils == nullptr || in_data->utils->get_platform_data == nullptr) return nullptr;
  void* window = nullptr;
  if (in_data->utils->get_platform_data(in_data->effect_ref, PF_PlatData_MAIN_WND, &window) != PF_Err_NONE) {
    return nullptr;
  }
  return window;
}

struct HostColours {
  std::optional<PF_App_Color> background;
  std::optional<PF_App_Color> text;
};

HostColours hostColours(const AcquiredSuite<PFAppSuite1>& appSuite) {
  HostColours colours;
  if (appSuite.get() == nullptr || appSuite->PF_AppGetColor == nullptr) return colours;
  PF_App_Color colour{};
  if (appSuite->PF_AppGetColor(PF_App_Color_PANEL_BACKGROUND, &colour) == PF_Err_NONE) colours.background = colour;
  if (appSuite->PF_AppGetColor(PF_App_Color_TEXT, &colour) == PF_Err_NONE) colours.text = colour;
  return colours;
}

// The companion from the folder this module was loaded from, kept open for the life of the process
// because the widgets it made may outlive any one command; null when it cannot be opened.
AboutDialogEntry openAboutDialogObject() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&openAboutDialogObject), &self) == 0 || self.dli_fname == nullptr) {
    return nullptr;
  }
  const std::string module = self.dli_fname;
  const size_t slash = module.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : module.substr(0, slash);
  void* object = dlopen((folder + "/" + kAboutDialogObject).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (object == nullptr) return nullptr;
  return reinterpret_cast<AboutDialogEntry>(dlsym(object, kAboutDialogEntryName));
}

// The dialog only where the host already runs Qt 6 widgets: opening the companion anywhere else
// would load a toolkit into a process that has none, or a second Qt into one with another version.
AboutDialogEntry aboutDialogEntry() {
  void* widgets = dlopen("libQt6Widgets.so.6", RTLD_NOW | RTLD_NOLOAD);
  if (widgets == nullptr) return nullptr;
  dlclose(widgets);  // RTLD_NOLOAD took a reference of its own
  static const AboutDialogEntry entry = openAboutDialogObject();
  return entry;
}

}  // namespace

PF_Err showAboutDialog(PF_InData* in_data, PF_OutData* out_data) {
  const AcquiredSuite<PFAppSuite1> appSuite(in_data, kPFAppSuite, kPFAppSuiteVersion1);
  if (!reportsRenderEngine(appSuite)) {
    void* mainWindow = hostMainWindow(in_data);
    const AboutDialogEntry showDialog = mainWindow != nullptr ? aboutDialogEntry() : nullptr;
    if (showDialog != nullptr) {
      const HostColours colours = hostColours(appSuite);
      PF_Boolean shown = 0;
      const PF_Err err = showDialog(mainWindow, colours.background ? &*colours.background : nullptr,
                                    colours.text ? &*colours.text : nullptr, &shown);
      // A dialog that failed (its companion caught an exception) is one that could not be shown:
      // the host still gets the text.
      if (err == PF_Err_NONE && shown) return PF_Err_NONE;
    }
  }
  if (out_data == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  std::snprintf(out_data->return_msg, sizeof out_data->return_msg, "%s", aboutText);
  return PF_Err_NONE;
}
