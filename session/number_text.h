// Numbers as the host programs print them.
#pragma once

#include <string>

// The shortest text that reads back as the same double.
std::string numberText(double value);
