// Output file names for a frame sequence.
#pragma once

#include <string>

// Every run of '#' becomes the frame number, zero-padded to the run's length ("f_####.png" and
// frame 7 give "f_0007.png"; a number longer than the run is written whole). So do printf's "%d",
// "%4d" and "%04d", zero-padded to their width as FFmpeg does; "%%" is a percent sign.
std::string expandFramePattern(const std::string& pattern, long frame);

bool patternNamesFrames(const std::string& pattern);
