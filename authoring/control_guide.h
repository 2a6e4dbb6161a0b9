// What each of the effect's controls does to the picture, for the people steering it. One table
// feeds the studio's tooltips and help line, `vortelline controls` and the README's "Controls"
// section, so they never disagree.
#pragma once

#include <span>
#include <string>

struct ControlGuide {
  // As `vortelline params` names it: "Density", "Tint/Amount"; a group by its own name ("Tint").
  const char* name;
  const char* effect;     // what it does to the picture
  const char* range;      // where the useful values lie
  const char* worksWith;  // what it interacts with; empty when nothing in particular
};

// Every entry, in the panel's order.
std::span<const ControlGuide> controlGuides();

// The entry for a control's qualified name or a group's name (case-insensitive); nullptr when
// there is none. Both "Hue" controls of a colour group (the dial and its keyframable slider) share
// one entry.
const ControlGuide* findControlGuide(const std::string& name);

// One paragraph: what it does, its useful range, what it works with. For tooltips and help lines.
std::string controlHelpText(const ControlGuide& guide);

// The host's finishing controls ("Glow/Amount", ...) as guide entries: what the finishing table says
// they do, their range and default, in the table's order. Texts live as long as the program.
std::span<const ControlGuide> finishingGuides();

// The README's "Controls" table, as Markdown: the effect's controls, then the finishing controls.
std::string controlGuideMarkdown();
