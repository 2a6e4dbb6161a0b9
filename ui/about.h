// The effect's About information, for PF_Cmd_ABOUT and the "About..." options button: a modal
// dialog over the host's main window where the host has one and runs Qt 6 widgets, the same
// information as text where not.
#pragma once

#include "sdk/effect_sdk.h"
#include "ui/about_information.h"

// Shows the dialog when the host is not a render engine, gives its main window (a QWidget of a
// QApplication running on this thread) and the companion object opens; otherwise writes aboutText
// into out_data->return_msg.
PF_Err showAboutDialog(PF_InData* in_data, PF_OutData* out_data);
