// The commands that show what the program knows beyond the effect's own declarations: its
// library of looks and its guide to the controls.
#pragma once

#include <iosfwd>

// One preset a line: its name, then its description.
void printPresets(std::ostream& out);

// Every control with what it does, its useful values and what it works with; as the README's
// Markdown table when markdown is set.
void printControlGuide(std::ostream& out, bool markdown);
