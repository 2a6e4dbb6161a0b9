// The video editors' descriptions of the frei0r plug-ins, made from the plug-ins' own tables
// (control_table.h, plugin_params.h) so that they cannot drift from what the plug-ins declare.
#pragma once

#include <string>
#include <vector>

struct HostFile {
  std::string path;  // relative to the folder the files go into
  std::string text;
};

// Kdenlive: share/kdenlive/effects/frei0r_vortelline.xml and .../generators/frei0r_vortelline_src.xml.
// Shotcut: share/shotcut/qml/filters/vortelline/ and vortelline_generator/, a meta.qml and ui.qml each.
std::vector<HostFile> hostFiles();

// Writes every file under folder, making the folders it needs; throws RunError when it cannot.
void writeHostFiles(const std::string& folder);
