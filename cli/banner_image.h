// The banner command: the effect's custom control drawn into a PNG file.
#pragma once

#include <string>

// Draws the effect's custom control at size ("WIDTHxHEIGHT"; empty: the size the control declares)
// and writes what the effect drew into a PNG file, transparent where it drew nothing.
void writeCustomControlImage(const std::string& modulePath, const std::string& size, const std::string& outputPath);
