#include "session/registration_resource.h"

#include <elf.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "session/program_errors.h"

namespace {

// Four-character codes are stored as little-endian 32-bit values of the big-endian code, so
// "kind" appears in the file as the bytes "dnik".
constexpr uint32_t fourCharCode(const char (&code)[5]) {
  return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) | (uint32_t(uint8_t(code[2])) << 8) |
         uint32_t(uint8_t(code[3]));
}

struct ByteReader {
  const std::vector<uint8_t>& bytes;
  size_t at = 0;

  void need(size_t count, const char* what) const {
    if (bytes.size() - at < count || at > bytes.size()) {
      throw RunError(std::string("the registration resource ends inside ") + what);
    }
  }
  uint16_t u16(const char* what) {
    need(2, what);
    uint16_t value = uint16_t(bytes[at] | (bytes[at + 1] << 8));
    at += 2;
    return value;
  }
  uint32_t u32(const char* what) {
    need(4, what);
    uint32_t value = uint32_t(bytes[at]) | (uint32_t(bytes[at + 1]) << 8) | (uint32_t(bytes[at + 2]) << 16) |
                     (uint32_t(bytes[at + 3]) << 24);
    at += 4;
    return value;
  }
};

std::string lengthPrefixedText(const uint8_t* data, size_t length) {
  if (length == 0 || data[0] > length - 1) {
    throw RunError("a text in the registration resource is longer than its property");
  }
  return std::string(reinterpret_cast<const char*>(data + 1), data[0]);
}

std::string terminatedText(const uint8_t* data, size_t length) {
  const void* end = std::memchr(data, 0, length);
  if (!end) {
    throw RunError("the entry point name in the registration resource is not terminated");
  }
  return std::string(reinterpret_cast<const char*>(data), static_cast<const uint8_t*>(end) - data);
}

uint32_t littleEndian32(const uint8_t* data, size_t length) {
  if (length < 4) {
    throw RunError("a number in the registration resource is shorter than 4 bytes");
  }
  return uint32_t(data[0]) | (uint32_t(data[1]) << 8) | (uint32_t(data[2]) << 16) | (uint32_t(data[3]) << 24);
}

template <typename Record>
Record recordAt(const std::vector<uint8_t>& file, uint64_t offset) {
  Record record;
  if (offset > file.size() || file.size() - offset < sizeof record) {
    throw RunError("truncated ELF file");
  }
  std::memcpy(&record, file.data() + offset, sizeof record);
  return record;
}

}  // namespace

std::optional<std::vector<uint8_t>> readElfSection(const std::string& path, const std::string& sectionName) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    throw RunError("cannot read the effect module " + path + ": " + std::strerror(errno));
  }
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  try {
    if (file.size() < sizeof(Elf64_Ehdr)) {
      throw RunError("not a 64-bit little-endian ELF file");
    }
    auto header = recordAt<Elf64_Ehdr>(file, 0);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_ident[EI_DATA] != ELFDATA2LSB) {
      throw RunError("not a 64-bit little-endian ELF file");
    }
    if (header.e_shstrndx >= header.e_shnum) {
      return std::nullopt;
    }
    auto names = recordAt<Elf64_Shdr>(file, header.e_shoff + uint64_t{header.e_shstrndx} * header.e_shentsize);
    for (unsigned index = 0; index < header.e_shnum; ++index) {
      auto section = recordAt<Elf64_Shdr>(file, header.e_shoff + uint64_t{index} * header.e_shentsize);
      uint64_t nameAt = names.sh_offset + section.sh_name;
      if (nameAt >= file.size()) {
        throw RunError("truncated ELF file");
      }
      const char* name = reinterpret_cast<const char*>(file.data() + nameAt);
      if (strnlen(name, file.size() - nameAt) == sectionName.size() && sectionName == name) {
        if (section.sh_offset > file.size() || file.size() - section.sh_offset < section.sh_size) {
          throw RunError("truncated ELF file");
        }
        return std::vector<uint8_t>(file.begin() + static_cast<ptrdiff_t>(section.sh_offset),
                                    file.begin() + static_cast<ptrdiff_t>(section.sh_offset + section.sh_size));
      }
    }
    return std::nullopt;
  } catch (const RunError& error) {
    throw RunError("cannot read the effect module " + path + ": " + error.what());
  }
}

RegistrationResource parseRegistrationResource(const std::vector<uint8_t>& bytes) {
  ByteReader reader{bytes};
  reader.u16("its version");
  reader.u32("its header");
  uint32_t count = reader.u32("its header");
  RegistrationResource resource;
  for (uint32_t property = 0; property < count; ++property) {
    reader.u32("a property");  // vendor
    uint32_t key = reader.u32("a property");
    reader.u32("a property");  // id
    uint32_t length = reader.u32("a property");
    reader.need(length, "a property's data");
    const uint8_t* data = bytes.data() + reader.at;
    if (key == fourCharCode("kind")) {
      resource.kind = littleEndian32(data, length);
    } else if (key == fourCharCode("name")) {
      resource.name = lengthPrefixedText(data, length);
    } else if (key == fourCharCode("catg")) {
      resource.category = lengthPrefixedText(data, length);
    } else if (key == fourCharCode("8664")) {
      resource.entryPointName = terminatedText(data, length);
    } else if (key == fourCharCode("eSVR")) {
      if (length < 4) {
        throw RunError("the effect API version in the registration resource is shorter than 4 bytes");
      }
      resource.apiVersionMajor = uint16_t(data[0] | (data[1] << 8));
      resource.apiVersionMinor = uint16_t(data[2] | (data[3] << 8));
    } else if (key == fourCharCode("eVER")) {
      resource.effectVersion = littleEndian32(data, length);
    } else if (key == fourCharCode("eGLO")) {
      resource.outFlags = littleEndian32(data, length);
    } else if (key == fourCharCode("eGL2")) {
      resource.outFlags2 = littleEndian32(data, length);
    } else if (key == fourCharCode("eMNA")) {
      resource.matchName = lengthPrefixedText(data, length);
    } else if (key == fourCharCode("eURL")) {
      resource.supportUrl = lengthPrefixedText(data, length);
    }
    reader.at += length;
  }
  return resource;
}
