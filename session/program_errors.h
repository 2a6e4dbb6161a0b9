// The ways a run of the program can fail, each with its own exit status.
#pragma once

#include <exception>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

// A bad option, name or value: exit status 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A file, module or host failure of our own: exit status 1, printed after "vortelline: ".
struct RunError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The effect reported a failure: exit status 1, printed exactly as the effect wrote it.
struct EffectFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The user stopped the run with a signal: exit status 128 + signal.
struct Cancelled {
  int signal = 0;
};

// Failures of one run in the order they happened, such as a frame's write and then the next
// frame's render: each is reported, the first decides the exit status.
struct RunFailures {
  std::vector<std::exception_ptr> inOrder;
};

struct FailureReport {
  int exitStatus = 1;
  std::string message;  // one line, without its end
};

// What to tell the user about a failure (one of the above, RunFailures, or any exception).
std::vector<FailureReport> describeFailures(std::exception_ptr failure);

// Writes every message of the failure, one a line, and returns the exit status of the first.
int reportFailures(std::exception_ptr failure, std::ostream& out);
