// frei0r has no error channel, and an editor shows no stderr: a frame the effect cannot render
// carries a small notice in its corner saying why, so that the flames do not just vanish. Drawn
// with a built-in 5 x 7 pixel font: a guest in other programs loads no font libraries.
#pragma once

#include <cstdint>
#include <string>

// Draws "VORTELLINE: " and the message, in capitals, as up to three lines in an opaque dark box
// at the frame's bottom left corner, 7 pixels tall per 270 lines of the frame (28 at 1080); what does not fit
// is cut with "...". Frames of 8-bit RGBA, rows without padding.
void drawFailureNotice(uint8_t* rgba, int width, int height, const std::string& message);
