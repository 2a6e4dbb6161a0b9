#include "session/cancellation.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace {

// Read by the render's threads and written by the handler: it must not need a lock.
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

std::atomic<int> requestedSignal{0};

// unlink() is the only thing the handler does with it: it may not allocate.
char temporaryPath[4096];
std::atomic<bool> temporaryPathSet{false};

void onSignal(int signal) {
  int none = 0;
  if (requestedSignal.compare_exchange_strong(none, signal)) {
    return;
  }
  // A user who signals twice does not want to wait for the frame to stop.
  if (temporaryPathSet.load()) {
    unlink(temporaryPath);
  }
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  // Blocked until the handler returns, then ends the program as the signal itself would have.
  raise(signal);
}

// A closed terminal (SIGHUP) stops a render like Ctrl-C and SIGTERM do.
constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

void installCancellationHandlers() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (int stopSignal : stopSignals) {
    sigaddset(&action.sa_mask, stopSignal);
  }
  // No SA_RESTART: a wait in open() or read(), such as opening a FIFO, ends with EINTR so the
  // program can stop.
  for (int stopSignal : stopSignals) {
    // A signal ignored at start stays ignored: `nohup` ignores SIGHUP so that a closed session
    // leaves the render running, and a shell ignores SIGINT for its background jobs.
    struct sigaction inherited {};
    if (sigaction(stopSignal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) {
      continue;
    }
    sigaction(stopSignal, &action, nullptr);
  }
  // A reader that went away (a closed pipe on stdout or stderr) must not end the program in the
  // middle of writing a file; the write fails with EPIPE instead.
  signal(SIGPIPE, SIG_IGN);
}

int cancellationSignal() { return requestedSignal.load(); }

void setTemporaryFileInProgress(const char* path) {
  temporaryPathSet.store(false);
  if (path && std::strlen(path) < sizeof temporaryPath) {
    std::strcpy(temporaryPath, path);
    temporaryPathSet.store(true);
  }
}
