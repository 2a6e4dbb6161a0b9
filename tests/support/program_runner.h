// Runs the vortelline program as a user would and collects what it printed.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
  int exitCode = -1;  // 128 + signal when a signal ended it
  std::string out;
  std::string err;
  long peakKilobytes = 0;  // the most memory the program held (its peak resident set)
};

struct RunningProgram {
  int pid = -1;
  std::string outPath;
  std::string errPath;
};

RunningProgram startProgram(const std::vector<std::string>& arguments, const std::string& scratchFolder);
// The vortelline program's command line for these arguments, with --module added.
std::vector<std::string> programCommand(const std::vector<std::string>& arguments);
// Any program, found on PATH; the first word is its name.
RunningProgram startCommand(std::vector<std::string> command, const std::string& scratchFolder);
ProgramRun runCommand(const std::vector<std::string>& command, const std::string& scratchFolder);
ProgramRun finishProgram(const RunningProgram& running);
ProgramRun runProgram(const std::vector<std::string>& arguments, const std::string& scratchFolder);
// Waits, up to ten seconds, until the program has its SIGINT handler in place, so that a signal
// sent next reaches the handler however slowly the program starts on a busy machine.
void waitUntilProgramCatchesInterrupt(int pid);

// A fresh folder under the system's temporary folder.
std::string makeScratchFolder();
