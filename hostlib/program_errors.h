// The three ways a run of the program can fail, each with its own exit status.
#pragma once

#include <stdexcept>
#include <string>

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
