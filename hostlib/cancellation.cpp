#include "hostlib/cancellation.h"

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

}  // namespace

void installCancellationHandlers() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int cancellationSignal() { return requestedSignal.load(); }

void setTemporaryFileInProgress(const char* path) {
  temporaryPathSet.store(false);
  if (path && std::strlen(path) < sizeof temporaryPath) {
    std::strcpy(temporaryPath, path);
    temporaryPathSet.store(true);
  }
}
