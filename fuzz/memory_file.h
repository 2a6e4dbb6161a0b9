// The readers take paths; a memory file gives each fuzz input one without touching the disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

class MemoryFile {
 public:
  MemoryFile() : descriptor_(memfd_create("fuzz-input", 0)), path_("/proc/self/fd/" + std::to_string(descriptor_)) {}
  ~MemoryFile() { close(descriptor_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // The path of a file that holds exactly these bytes; each open of it starts at the beginning.
  const std::string& holding(const uint8_t* data, size_t size) {
    if (ftruncate(descriptor_, 0) != 0 || pwrite(descriptor_, data, size, 0) != static_cast<ssize_t>(size)) {
      __builtin_trap();
    }
    return path_;
  }

 private:
  int descriptor_;
  std::string path_;
};
