#include "media/input_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "session/cancellation.h"
#include "session/program_errors.h"

namespace {

void stopIfAsked() {
  if (cancellationSignal() != 0) {
    throw Cancelled{cancellationSignal()};
  }
}

// open() and read() fail with EINTR when a signal arrives while they wait, as opening a FIFO
// waits for its writer. A signal that asks us to stop ends the run as cancelled; after any other
// the call is repeated. False, with errno kept, for every other failure.
bool retryAfterInterruption() {
  if (errno != EINTR) {
    return false;
  }
  stopIfAsked();
  return true;
}

}  // namespace

OpenDescriptor::~OpenDescriptor() {
  if (descriptor >= 0) {
    close(descriptor);
  }
}

InputRead readInputFile(const std::string& path, const InputRules& rules, std::vector<unsigned char>& bytes) {
  stopIfAsked();
  int descriptor;
  do {
    descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (descriptor < 0 && retryAfterInterruption());
  if (descriptor < 0) {
    throw RunError(std::string("cannot open ") + rules.what + " " + path + ": " + std::strerror(errno));
  }
  OpenDescriptor file(descriptor);
  constexpr size_t firstBlock = 64 * 1024;
  bytes.assign(std::min(firstBlock, rules.largestBytes + 1), 0);
  size_t length = 0;
  bool judged = false;
  for (;;) {
    stopIfAsked();
    if (length == bytes.size()) {
      // One byte past the limit tells a file of exactly the limit from a larger one.
      bytes.resize(length <= rules.largestBytes / 2 ? length * 2 : rules.largestBytes + 1);
    }
    ssize_t count = read(descriptor, bytes.data() + length, bytes.size() - length);
    if (count > 0) {
      length += static_cast<size_t>(count);
      if (!judged) {
        FileStart start = rules.judgeStart(bytes.data(), length);
        if (start == FileStart::unexpected) {
          bytes.resize(length);
          return InputRead::unexpectedStart;
        }
        judged = start == FileStart::expected;
      }
      if (length > rules.largestBytes) {
        bytes.resize(length);
        return InputRead::tooLarge;
      }
    } else if (count == 0) {
      break;
    } else if (!retryAfterInterruption()) {
      throw RunError(std::string("cannot read ") + rules.what + " " + path + ": " + std::strerror(errno));
    }
  }
  bytes.resize(length);
  return InputRead::complete;
}
