#include "tests/support/program_runner.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

std::string fileText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Whether the process has a handler for SIGINT, from the caught-signals mask in /proc.
bool catchesInterrupt(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) == 0) {
      return (std::stoull(line.substr(7), nullptr, 16) >> (SIGINT - 1)) & 1;
    }
  }
  return false;
}

}  // namespace

void waitUntilProgramCatchesInterrupt(int pid) {
  for (int wait = 0; wait < 2000 && !catchesInterrupt(pid); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

RunningProgram startCommand(std::vector<std::string> command, const std::string& scratchFolder) {
  static int runNumber = 0;
  RunningProgram running;
  running.outPath = scratchFolder + "/run" + std::to_string(runNumber) + ".out";
  running.errPath = scratchFolder + "/run" + std::to_string(runNumber) + ".err";
  ++runNumber;

  std::vector<char*> argv;
  for (std::string& word : command) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, running.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, running.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) {
    throw std::runtime_error("cannot start " + command[0]);
  }
  running.pid = pid;
  return running;
}

std::vector<std::string> programCommand(const std::vector<std::string>& arguments) {
  // "--module" belongs to the subcommand: it goes after the command's name.
  std::vector<std::string> all{VORTELLINE_PROGRAM_PATH};
  bool moduleGiven = std::find(arguments.begin(), arguments.end(), "--module") != arguments.end();
  if (!arguments.empty()) {
    all.push_back(arguments[0]);
    if (!moduleGiven) {
      all.push_back("--module");
      all.push_back(VORTELLINE_MODULE_PATH);
    }
    all.insert(all.end(), arguments.begin() + 1, arguments.end());
  }
  return all;
}

RunningProgram startProgram(const std::vector<std::string>& arguments, const std::string& scratchFolder) {
  return startCommand(programCommand(arguments), scratchFolder);
}

ProgramRun finishProgram(const RunningProgram& running) {
  int status = 0;
  rusage usage{};
  wait4(running.pid, &status, 0, &usage);
  ProgramRun run;
  run.peakKilobytes = usage.ru_maxrss;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = fileText(running.outPath);
  run.err = fileText(running.errPath);
  return run;
}

ProgramRun runProgram(const std::vector<std::string>& arguments, const std::string& scratchFolder) {
  return finishProgram(startProgram(arguments, scratchFolder));
}

ProgramRun runCommand(const std::vector<std::string>& command, const std::string& scratchFolder) {
  return finishProgram(startCommand(command, scratchFolder));
}

namespace {

// Every scratch folder of one test program lies in one folder, removed when the program ends, so
// a run of the suite leaves nothing in the temporary folder. A forked death-test child that ends
// normally leaves the folder to its parent.
struct ScratchRoot {
  std::string path;
  pid_t owner = getpid();

  ScratchRoot() {
    path = (std::filesystem::temp_directory_path() / "vortelline-test-XXXXXX").string();
    if (!mkdtemp(path.data())) {
      throw std::runtime_error("cannot make a scratch folder");
    }
  }
  ~ScratchRoot() {
    if (getpid() == owner) {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  }
};

}  // namespace

std::string makeScratchFolder() {
  static const ScratchRoot root;
  std::string pattern = root.path + "/scratch-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    throw std::runtime_error("cannot make a scratch folder");
  }
  return pattern;
}
