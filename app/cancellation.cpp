#include "app/cancellation.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t requestedSignal = 0;

void onSignal(int signal) { requestedSignal = signal; }

}  // namespace

void installCancellationHandlers() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  // SA_RESETHAND: a user who presses Ctrl-C twice does not want to wait for the frame to stop.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int cancellationSignal() { return requestedSignal; }
