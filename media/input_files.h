// Reading a whole input file (an image, a settings file) the same careful way: pipes and FIFOs
// work, memory grows only with the data actually there, what does not start as expected is
// refused after its first bytes, and a stop signal ends a wait.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What a file's first bytes say about it.
enum class FileStart { tooShortToTell, expected, unexpected };

enum class InputRead { complete, unexpectedStart, tooLarge };

struct InputRules {
  const char* what;     // "the image", for messages: "cannot read the image PATH: ..."
  size_t largestBytes;  // more is not read; below SIZE_MAX
  // Judges the bytes read so far; asked after every read until it answers expected.
  FileStart (*judgeStart)(const unsigned char* bytes, size_t length);
};

// Fills bytes with the file, or stops reading as soon as it starts unexpectedly or grows past
// the rules' largest size (bytes then hold what was read). A file too short to judge is complete:
// its reader decides. Throws RunError naming the file when it cannot be opened or read,
// Cancelled when a stop signal arrives.
InputRead readInputFile(const std::string& path, const InputRules& rules, std::vector<unsigned char>& bytes);

// Closes a descriptor however the function that opened it ends.
struct OpenDescriptor {
  explicit OpenDescriptor(int descriptor) : descriptor(descriptor) {}
  ~OpenDescriptor();
  OpenDescriptor(const OpenDescriptor&) = delete;
  OpenDescriptor& operator=(const OpenDescriptor&) = delete;
  int descriptor;
};
