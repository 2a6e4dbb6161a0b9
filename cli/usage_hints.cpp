#include "cli/usage_hints.h"

#include <CLI/CLI.hpp>

#include <cctype>

#include "session/parameter_settings.h"

namespace {

// "-20,0" and "-.5" are values, not options.
bool looksLikeOption(const std::string& argument) {
  return argument.size() > 1 && argument[0] == '-' &&
         !std::isdigit(static_cast<unsigned char>(argument[1])) && argument[1] != '.';
}

std::vector<std::string> optionNames(const CLI::App& command) {
  std::vector<std::string> names;
  for (const CLI::Option* option : command.get_options()) {
    for (const std::string& name : option->get_lnames()) {
      names.push_back("--" + name);
    }
    for (const std::string& name : option->get_snames()) {
      names.push_back("-" + name);
    }
  }
  return names;
}

}  // namespace

std::string unknownArgumentHint(CLI::App& app, const std::vector<std::string>& arguments) {
  CLI::App* command = &app;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (!looksLikeOption(argument)) {
      if (command != &app) {
        continue;  // a command takes no bare words but the values skipped below
      }
      std::vector<CLI::App*> named =
          app.get_subcommands([&](CLI::App* sub) { return sub->get_name() == argument; });
      if (named.empty()) {
        std::vector<std::string> names;
        for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
          names.push_back(sub->get_name());
        }
        return "unknown command " + quoted(argument) + didYouMean(argument, names, "; `vortelline --help` lists them");
      }
      command = named.front();
      continue;
    }
    const std::string name = argument.substr(0, argument.find('='));
    const CLI::Option* option = command->get_option_no_throw(name);
    if (option == nullptr) {
      const std::string where = command == &app ? "" : " for " + command->get_name();
      const std::string help = command == &app ? "vortelline --help" : "vortelline " + command->get_name() + " --help";
      return "unknown option " + quoted(name) + where +
             didYouMean(name, optionNames(*command), "; `" + help + "` lists them");
    }
    if (option->get_items_expected_min() > 0 && name.size() == argument.size()) {
      ++i;  // its value
    }
  }
  return "";
}
