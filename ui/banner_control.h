// The banner in the effect's "About" control: drawn through the host's drawing suites when the
// host sends the control's draw event.
#pragma once

#include <optional>

#include "sdk/custom_ui_sdk.h"

// Where the banner goes in a control: the picture is drawn scaled by `scale` on both axes, with
// its top-left corner at `origin` in the scaled coordinates.
struct BannerPlacement {
  float scale = 0.0f;
  DRAWBOT_PointF32 origin{};
};

// The placement for a control frame, limited to 240 x 60 units; none for a frame with no area.
std::optional<BannerPlacement> placeBanner(const PF_Rect& frame);

// Answers PF_Cmd_EVENT: draws the banner for a draw event of the control at position 1 and marks
// the event handled; every other event is left alone. A missing suite or a failed drawing call is
// raised as a PF_ErrorCode (515 or 512) after everything obtained has been given back.
PF_Err drawBanner(PF_InData* in_data, PF_EventExtra* event);
