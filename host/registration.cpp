#include "host/registration.h"

#include "host/effect_main.h"

namespace {

struct PiplWriter {
  pipl::Bytes bytes{};
  std::size_t at = 0;

  constexpr void u8(std::uint8_t value) { bytes[at++] = value; }
  constexpr void u16(std::uint16_t value) {
    u8(std::uint8_t(value));
    u8(std::uint8_t(value >> 8));
  }
  constexpr void u32(std::uint32_t value) {
    u16(std::uint16_t(value));
    u16(std::uint16_t(value >> 16));
  }
  constexpr void fourCharCode(std::string_view code) {
    u32((std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
        (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3])));
  }
  std::size_t dataStart = 0;

  // Pads the current property's data to a multiple of 4 bytes (the header is 10 bytes long, so
  // this is relative to the data, not to the file).
  constexpr void padTo4() {
    while ((at - dataStart) % 4 != 0) u8(0);
  }
  // Starts a property whose data is `dataBytes` long before padding.
  constexpr void property(std::string_view key, std::size_t dataBytes) {
    fourCharCode("8BIM");
    fourCharCode(key);
    u32(0);
    u32(std::uint32_t(pipl::padded(dataBytes)));
    dataStart = at;
  }
  constexpr void pascalString(std::string_view key, std::string_view text) {
    property(key, 1 + text.size());
    u8(std::uint8_t(text.size()));
    for (char c : text) u8(std::uint8_t(c));
    padTo4();
  }
};

constexpr pipl::Bytes buildPipl() {
  PiplWriter w;
  w.u16(1);
  w.u32(0);
  w.u32(pipl::kPropertyCount);

  w.property("kind", 4);
  w.fourCharCode("eFKT");
  w.pascalString("name", kEffectName);
  w.pascalString("catg", kCategoryName);
  w.property("8664", kEntryPointName.size() + 1);
  for (char c : kEntryPointName) w.u8(std::uint8_t(c));
  w.u8(0);
  w.padTo4();
  w.property("ePVR", 4);
  w.u16(2);
  w.u16(0);
  w.property("eSVR", 4);
  w.u16(std::uint16_t(kApiVersionMajor));
  w.u16(std::uint16_t(kApiVersionMinor));
  w.property("eVER", 4);
  w.u32(kEffectVersion);
  w.property("eINF", 2);
  w.u16(0);
  w.padTo4();
  w.property("eGLO", 4);
  w.u32(std::uint32_t(kGlobalOutFlags));
  w.property("eGL2", 4);
  w.u32(std::uint32_t(kGlobalOutFlags2));
  w.pascalString("eMNA", kMatchName);
  w.property("aeFL", 4);
  w.u32(0);
  w.pascalString("eURL", kSupportUrl);
  // A miscounted size would leave this short of the end and fail the constant evaluation.
  if (w.at != pipl::kTotalBytes) throw "PiPL size mismatch";
  return w.bytes;
}

// Hosts read registration without running code: the bytes sit in their own ELF section.
__attribute__((used, section(".pipl"))) constexpr pipl::Bytes kPiplSection = buildPipl();

const A_u_char* hostString(std::string_view text) { return reinterpret_cast<const A_u_char*>(text.data()); }

}  // namespace

const pipl::Bytes& piplResource() { return kPiplSection; }

extern "C" PF_Err PluginDataEntryFunction2(void* inPtr, PF_PluginDataCB2 inPluginDataCallBackPtr,
                                           SPBasicSuite* /*inSPBasicSuitePtr*/, const char* /*inHostName*/,
                                           const char* /*inHostVersion*/) {
  if (inPluginDataCallBackPtr == nullptr) return PF_Err_INVALID_CALLBACK;
  // The string_views above name string literals, so each is NUL-terminated.
  return inPluginDataCallBackPtr(inPtr, hostString(kEffectName), hostString(kMatchName),
                                 hostString(kCategoryName), hostString(kEntryPointName), PF_Kind_EFFECT,
                                 kApiVersionMajor, kApiVersionMinor, kReservedInfo, hostString(kSupportUrl));
}
