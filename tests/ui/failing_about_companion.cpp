// A stand-in for the About dialog's companion object whose dialog always fails, as the real one
// reports an exception that reached its C boundary: nothing shown, an error.
#include "ui/about_dialog_entry.h"

extern "C" __attribute__((visibility("default"))) PF_Err vortellineShowAboutDialog(void*, const PF_App_Color*,
                                                                                  const PF_App_Color*,
                                                                                  PF_Boolean* shown) {
  *shown = 0;
  return PF_Err_INTERNAL_STRUCT_DAMAGED;
}
