// Did-you-mean help for a mistyped command or option, as a mistyped control gets.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

// For the first argument that names no command, or no option of its command: "unknown command
// \"rendr\"; did you mean \"render\"?". Empty when every command and option is known. Values of
// options are skipped, so a value that starts with a dash is not taken for an option.
std::string unknownArgumentHint(CLI::App& app, const std::vector<std::string>& arguments);
