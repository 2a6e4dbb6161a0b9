// The registration resource (PiPL) that the module carries in its ".pipl" ELF section. A host
// reads it without running any of the module's code, and holds the module to it afterwards.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct RegistrationResource {
  uint32_t kind = 0;
  std::string name;
  std::string category;
  std::string entryPointName;  // the x86-64 code entry
  std::string matchName;
  std::string supportUrl;
  uint16_t apiVersionMajor = 0;
  uint16_t apiVersionMinor = 0;
  uint32_t effectVersion = 0;
  uint32_t outFlags = 0;
  uint32_t outFlags2 = 0;
};

// The bytes of a named section of an ELF64 little-endian file, or none when the file has no such
// section. Throws RunError when the file cannot be read or is not such an ELF file.
std::optional<std::vector<uint8_t>> readElfSection(const std::string& path, const std::string& sectionName);

// Parses PiPL bytes: a 16-bit version, a reserved word, a property count, then properties of
// vendor, key, id, length and data padded to 4 bytes. Unknown keys are skipped.
// Throws RunError naming what is malformed.
RegistrationResource parseRegistrationResource(const std::vector<uint8_t>& bytes);
