#include "tests/support/elf_needed.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

template <typename Record>
Record recordAt(const std::string& bytes, uint64_t offset, const std::string& path) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(Record)) {
    throw std::runtime_error(path + ": ELF record past the end of the file");
  }
  Record record;
  std::memcpy(&record, bytes.data() + offset, sizeof record);
  return record;
}

}  // namespace

std::vector<std::string> neededLibraries(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const auto header = recordAt<Elf64_Ehdr>(bytes, 0, path);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
      header.e_ident[EI_DATA] != ELFDATA2LSB) {
    throw std::runtime_error(path + ": not a 64-bit little-endian ELF file");
  }
  auto section = [&](uint64_t index) {
    return recordAt<Elf64_Shdr>(bytes, header.e_shoff + index * sizeof(Elf64_Shdr), path);
  };
  for (uint64_t index = 0; index < header.e_shnum; ++index) {
    const Elf64_Shdr dynamic = section(index);
    if (dynamic.sh_type != SHT_DYNAMIC) {
      continue;
    }
    const Elf64_Shdr strings = section(dynamic.sh_link);
    std::vector<std::string> needed;
    for (uint64_t entry = 0; entry < dynamic.sh_size / sizeof(Elf64_Dyn); ++entry) {
      const auto tag = recordAt<Elf64_Dyn>(bytes, dynamic.sh_offset + entry * sizeof(Elf64_Dyn), path);
      if (tag.d_tag == DT_NULL) {
        break;
      }
      if (tag.d_tag == DT_NEEDED) {
        if (tag.d_un.d_val >= strings.sh_size || strings.sh_offset + tag.d_un.d_val >= bytes.size()) {
          throw std::runtime_error(path + ": DT_NEEDED name past its string table");
        }
        needed.emplace_back(bytes.c_str() + strings.sh_offset + tag.d_un.d_val);
      }
    }
    return needed;
  }
  throw std::runtime_error(path + ": no dynamic section");
}
