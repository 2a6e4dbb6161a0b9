// The effect's About information, for PF_Cmd_ABOUT and the "About..." options button.
#pragma once

#include "sdk/effect_sdk.h"

// Six lines separated by single carriage returns, as the host's message box expects.
extern const char* const aboutText;

PF_Err showAboutDialog(PF_InData* in_data, PF_OutData* out_data);
