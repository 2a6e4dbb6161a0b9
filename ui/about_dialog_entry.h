// The one function of the About dialog's companion object, which holds the Qt dialog so that the
// module itself links no toolkit. The module opens the object from its own folder.
#pragma once

#include "sdk/effect_sdk.h"
#include "sdk/suites_sdk.h"

inline constexpr char kAboutDialogObject[] = "VortellineAbout.so";
inline constexpr char kAboutDialogEntryName[] = "vortellineShowAboutDialog";

// Shows the modal dialog over mainWindow and sets *shown when mainWindow is a widget of a
// QApplication running on this thread; otherwise leaves *shown 0 and touches nothing. A colour
// the host does not give is null. Never throws: a failure is its PF_Err.
using AboutDialogEntry = PF_Err (*)(void* mainWindow, const PF_App_Color* background, const PF_App_Color* text,
                                    PF_Boolean* shown);
