// Ctrl-C and SIGTERM stop a render cleanly: the host's abort callback reports the request to the
// effect, which stops at its next check; nothing half-written is left behind.
#pragma once

// Catches SIGINT and SIGTERM. A second signal of the same kind ends the program at once.
void installCancellationHandlers();

// The signal that asked us to stop, or 0.
int cancellationSignal();
