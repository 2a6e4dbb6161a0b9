// Prints the frei0r plug-ins' parameter table as the README shows it; with --check README.md,
// fails when the README's copy differs. With --host-files FOLDER, writes the video editors'
// descriptions of the plug-ins (Kdenlive, Shotcut) into FOLDER.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "frei0r/control_table.h"
#include "frei0r/host_descriptions.h"

namespace {

constexpr const char* beginMarker = "<!-- frei0r parameter table: printed by vortelline_frei0r_table -->\n";
constexpr const char* endMarker = "<!-- end of frei0r parameter table -->";

}  // namespace

int main(int argc, char** argv) {
  const std::string table = markdownTable();
  if (argc == 1) {
    std::cout << table;
    return 0;
  }
  const std::string option = argv[1];
  if (argc == 3 && option == "--host-files") {
    try {
      writeHostFiles(argv[2]);
    } catch (const std::exception& error) {
      std::cerr << "vortelline_frei0r_table: " << error.what() << "\n";
      return 1;
    }
    return 0;
  }
  if (argc != 3 || option != "--check") {
    std::cerr << "usage: vortelline_frei0r_table [--check README.md | --host-files FOLDER]\n";
    return 2;
  }
  std::ifstream file(argv[2]);
  std::stringstream readme;
  readme << file.rdbuf();
  const std::string text = readme.str();
  const size_t begin = text.find(beginMarker);
  const size_t end = text.find(endMarker);
  if (!file || begin == std::string::npos || end == std::string::npos || end < begin) {
    std::cerr << argv[2] << " has no frei0r parameter table between \"" << beginMarker << "\" and \"" << endMarker
              << "\"\n";
    return 1;
  }
  const size_t start = begin + std::string(beginMarker).size();
  if (text.substr(start, end - start) != table) {
    std::cerr << "the frei0r parameter table in " << argv[2] << " differs from the plug-ins'; it should read:\n"
              << table;
    return 1;
  }
  return 0;
}
