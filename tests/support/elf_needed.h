// The shared libraries an ELF file names in its dynamic section (DT_NEEDED), read from the file
// itself as the dynamic loader reads it, so a test needs no readelf.
#pragma once

#include <string>
#include <vector>

// Throws std::runtime_error for a file that is not a 64-bit little-endian ELF file with a dynamic
// section.
std::vector<std::string> neededLibraries(const std::string& path);
