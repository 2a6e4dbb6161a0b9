// Ctrl-C, SIGTERM and SIGHUP stop a render cleanly: the host's abort callback reports the request
// to the effect, which stops at its next check; nothing half-written is left behind.
#pragma once

// Catches SIGINT, SIGTERM and SIGHUP, except those ignored when the program started (nohup, a
// shell's background job), and ignores SIGPIPE. A second stop signal ends the program
// at once, after removing the temporary file being written, if any.
void installCancellationHandlers();

// The signal that asked us to stop, or 0.
int cancellationSignal();

// The temporary file to remove if a second signal ends the program while it is written; nullptr
// when none is. A path too long to keep is not removed.
void setTemporaryFileInProgress(const char* path);
