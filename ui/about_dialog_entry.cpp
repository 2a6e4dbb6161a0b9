// The companion object's entry: the only symbol it exports, called by the module across a C
// boundary, so no exception may pass.
#include "ui/about_dialog_entry.h"

#include <new>
#include <type_traits>

#include "ui/about_dialog.h"

extern "C" __attribute__((visibility("default"))) PF_Err vortellineShowAboutDialog(void* mainWindow,
                                                                                  const PF_App_Color* background,
                                                                                  const PF_App_Color* text,
                                                                                  PF_Boolean* shown) {
  static_assert(std::is_same_v<decltype(&vortellineShowAboutDialog), AboutDialogEntry>);
  if (shown == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  *shown = 0;
  try {
    AboutColours colours;
    if (background != nullptr) colours.background = colourFromHost(*background);
    if (text != nullptr) colours.text = colourFromHost(*text);
    *shown = showAboutDialogOver(mainWindow, colours);
    return PF_Err_NONE;
  } catch (const std::bad_alloc&) {
    return PF_Err_OUT_OF_MEMORY;
  } catch (...) {
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
  }
}
