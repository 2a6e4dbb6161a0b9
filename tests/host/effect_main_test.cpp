// The module as a host sees it: its exported symbols, its registration bytes and the answers of
// its entry points, loaded from the built file rather than linked in.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/failure_guard.h"
#include "sdk/effect_sdk.h"

namespace {

using EffectMainFn = PF_Err (*)(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*);
using EntryFn = PF_Err (*)(void*, PF_PluginDataCB2, void*, const char*, const char*);

std::vector<uint8_t> readFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// The bytes of one named section of a 64-bit little-endian ELF file.
std::vector<uint8_t> elfSection(const std::vector<uint8_t>& file, const std::string& name) {
  Elf64_Ehdr header;
  std::memcpy(&header, file.data(), sizeof header);
  auto section = [&](int index) {
    Elf64_Shdr s;
    std::memcpy(&s, file.data() + header.e_shoff + index * header.e_shentsize, sizeof s);
    return s;
  };
  const Elf64_Shdr names = section(header.e_shstrndx);
  for (int i = 0; i < header.e_shnum; ++i) {
    const Elf64_Shdr s = section(i);
    if (name == reinterpret_cast<const char*>(file.data() + names.sh_offset + s.sh_name)) {
      return std::vector<uint8_t>(file.begin() + s.sh_offset, file.begin() + s.sh_offset + s.sh_size);
    }
  }
  return {};
}

struct PiplReader {
  const std::vector<uint8_t>& bytes;
  size_t at = 0;

  uint32_t u16() {
    uint32_t v = bytes.at(at) | bytes.at(at + 1) << 8;
    at += 2;
    return v;
  }
  uint32_t u32() {
    uint32_t low = u16();
    return low | u16() << 16;
  }
  std::string fourCharCode() {
    uint32_t v = u32();
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  }
};

struct Property {
  std::string key;
  std::vector<uint8_t> data;  // padded
};

std::string pascalString(const std::vector<uint8_t>& data) { return std::string(data.begin() + 1, data.begin() + 1 + data[0]); }
uint32_t le32(const std::vector<uint8_t>& data, size_t at = 0) {
  return data[at] | data[at + 1] << 8 | data[at + 2] << 16 | uint32_t(data[at + 3]) << 24;
}

class Module : public ::testing::Test {
 protected:
  void SetUp() override {
    handle = dlopen(VORTELLINE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    effectMain = reinterpret_cast<EffectMainFn>(dlsym(handle, "EffectMain"));
    entry = reinterpret_cast<EntryFn>(dlsym(handle, "PluginDataEntryFunction2"));
    ASSERT_NE(effectMain, nullptr);
    ASSERT_NE(entry, nullptr);
  }
  void TearDown() override {
    if (handle) dlclose(handle);
  }
  void* handle = nullptr;
  EffectMainFn effectMain = nullptr;
  EntryFn entry = nullptr;
};

TEST_F(Module, ExportsNothingButTheTwoEntryPoints) {
  std::string command = std::string("nm -D --defined-only ") + VORTELLINE_MODULE_PATH;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> symbols;
  char line[512];
  while (fgets(line, sizeof line, pipe)) {
    char type = 0;
    char name[400] = {};
    if (sscanf(line, "%*s %c %399s", &type, name) == 2) {
      symbols.insert(name);
      EXPECT_EQ(type, 'T') << name;
    }
  }
  pclose(pipe);
  EXPECT_EQ(symbols, (std::set<std::string>{"EffectMain", "PluginDataEntryFunction2"}));
}

TEST_F(Module, PiplBytesParseToTheRegistrationValues) {
  const std::vector<uint8_t> pipl = elfSection(readFile(VORTELLINE_MODULE_PATH), ".pipl");
  ASSERT_FALSE(pipl.empty());
  PiplReader reader{pipl};
  EXPECT_EQ(reader.u16(), 1u);
  EXPECT_EQ(reader.u32(), 0u);
  ASSERT_EQ(reader.u32(), 13u);
  std::vector<Property> properties;
  for (int i = 0; i < 13; ++i) {
    EXPECT_EQ(reader.fourCharCode(), "8BIM");
    Property property;
    property.key = reader.fourCharCode();
    EXPECT_EQ(reader.u32(), 0u);
    uint32_t length = reader.u32();
    EXPECT_EQ(length % 4, 0u) << property.key;
    property.data.assign(pipl.begin() + reader.at, pipl.begin() + reader.at + length);
    reader.at += length;
    properties.push_back(property);
  }
  EXPECT_EQ(reader.at, pipl.size());
  // Four-character codes are little-endian: their characters appear reversed in the bytes.
  EXPECT_EQ(std::string(pipl.begin() + 10, pipl.begin() + 18), "MIB8dnik");

  std::vector<std::string> keys;
  for (const Property& p : properties) keys.push_back(p.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"kind", "name", "catg", "8664", "ePVR", "eSVR", "eVER", "eINF", "eGLO",
                                            "eGL2", "eMNA", "aeFL", "eURL"}));
  EXPECT_EQ(le32(properties[0].data), 0x65464B54u);
  EXPECT_EQ(properties[1].data.size(), 12u);
  EXPECT_EQ(pascalString(properties[1].data), "Vortelline");
  EXPECT_EQ(pascalString(properties[2].data), "Ternwick");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(properties[3].data.data())), "EffectMain");
  EXPECT_EQ(le32(properties[4].data), 2u);                // major 2, minor 0
  EXPECT_EQ(le32(properties[5].data), 13u | 28u << 16);  // major 13, minor 28
  EXPECT_EQ(properties[7].data, (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(pascalString(properties[10].data), "Emberlyth GPU");
  EXPECT_EQ(le32(properties[11].data), 0u);
  EXPECT_EQ(pascalString(properties[12].data).rfind("https://", 0), 0u);

  PF_OutData out{};
  ASSERT_EQ(effectMain(PF_Cmd_GLOBAL_SETUP, nullptr, &out, nullptr, nullptr, nullptr), PF_Err_NONE);
  EXPECT_EQ(le32(properties[6].data), out.my_version);
  EXPECT_EQ(le32(properties[8].data), uint32_t(out.out_flags));
  EXPECT_EQ(le32(properties[9].data), uint32_t(out.out_flags2));
  EXPECT_EQ(out.my_version, 0x00080601u);
  EXPECT_EQ(out.out_flags, 0x06008024);
  EXPECT_EQ(out.out_flags2, 0x08001488);
}

struct Registration {
  int calls = 0;
  void* inPtr = nullptr;
  std::vector<std::string> texts;
  A_long kind = 0, major = 0, minor = 0, reserved = 0;
};

PF_Err recordRegistration(void* inPtr, const A_u_char* name, const A_u_char* matchName, const A_u_char* category,
                          const A_u_char* entryPoint, A_long kind, A_long major, A_long minor, A_long reserved,
                          const A_u_char* url) {
  auto* r = static_cast<Registration*>(inPtr);
  ++r->calls;
  r->inPtr = inPtr;
  for (const A_u_char* text : {name, matchName, category, entryPoint, url}) {
    r->texts.emplace_back(reinterpret_cast<const char*>(text));
  }
  r->kind = kind;
  r->major = major;
  r->minor = minor;
  r->reserved = reserved;
  return 42;
}

TEST_F(Module, RegistersThroughTheHostCallback) {
  Registration registration;
  EXPECT_EQ(entry(&registration, recordRegistration, nullptr, "host", "1.0"), 42);
  EXPECT_EQ(registration.calls, 1);
  EXPECT_EQ(registration.inPtr, &registration);
  ASSERT_EQ(registration.texts.size(), 5u);
  EXPECT_EQ(registration.texts[0], "Vortelline");
  EXPECT_EQ(registration.texts[1], "Emberlyth GPU");
  EXPECT_EQ(registration.texts[2], "Ternwick");
  EXPECT_EQ(registration.texts[3], "EffectMain");
  EXPECT_EQ(registration.kind, 0x65464B54);
  EXPECT_EQ(registration.major, 13);
  EXPECT_EQ(registration.minor, 28);
  EXPECT_EQ(registration.reserved, 8);
  const std::vector<uint8_t> pipl = elfSection(readFile(VORTELLINE_MODULE_PATH), ".pipl");
  EXPECT_NE(std::string(pipl.begin(), pipl.end()).find(registration.texts[4]), std::string::npos);
  // A host without a registration callback gets an error, not a crash.
  EXPECT_EQ(entry(nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_INVALID_CALLBACK);
}

TEST_F(Module, UnknownCommandsAndGlobalSetupTouchOnlyWhatTheyOwn) {
  PF_InData in{};
  PF_OutData out;
  std::memset(&out, 0x5A, sizeof out);
  PF_OutData before = out;
  PF_InData inBefore = in;
  for (PF_Cmd cmd : {2, 5, 6, 7, 8, 10, 12, 16, 17, 18, 19, 20, 21, 22, 25, 99, -1}) {
    EXPECT_EQ(effectMain(cmd, &in, &out, nullptr, nullptr, nullptr), PF_Err_NONE) << cmd;
  }
  EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
  EXPECT_EQ(std::memcmp(&in, &inBefore, sizeof in), 0);

  ASSERT_EQ(effectMain(PF_Cmd_GLOBAL_SETUP, &in, &out, nullptr, nullptr, nullptr), PF_Err_NONE);
  PF_OutData expected = before;
  expected.my_version = 0x00080601;
  expected.out_flags = 0x06008024;
  expected.out_flags2 = 0x08001488;
  EXPECT_EQ(std::memcmp(&out, &expected, sizeof out), 0);

  // Set-down with no GPU context, twice, is harmless.
  EXPECT_EQ(effectMain(PF_Cmd_GLOBAL_SETDOWN, &in, &out, nullptr, nullptr, nullptr), PF_Err_NONE);
  EXPECT_EQ(effectMain(PF_Cmd_GLOBAL_SETDOWN, &in, &out, nullptr, nullptr, nullptr), PF_Err_NONE);
}

TEST(FailureGuard, MapsEachKindOfFailureInOrder) {
  PF_OutData out{};
  EXPECT_EQ(reportFailures(&out, [] { return PF_Err(7); }), 7);
  EXPECT_EQ(reportFailures(&out, []() -> PF_Err { throw PF_Err(-1701); }), -1701);
  EXPECT_EQ(reportFailures(&out, []() -> PF_Err { throw std::bad_alloc(); }), PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(reportFailures(&out, []() -> PF_Err { throw PF_Err_INVALID_CALLBACK; }), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(reportFailures(&out, []() -> PF_Err { throw 3.5; }), PF_Err_INTERNAL_STRUCT_DAMAGED);
  // None of those wrote a message.
  EXPECT_EQ(out.return_msg[0], '\0');
  EXPECT_EQ(out.out_flags, 0);

  out.out_flags = 0x4;
  EXPECT_EQ(reportFailures(&out, []() -> PF_Err { throw std::runtime_error("Non-finite time"); }),
            PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_STREQ(out.return_msg, "Vortelline: Non-finite time");
  EXPECT_EQ(out.out_flags, 0x4 | PF_OutFlag_DISPLAY_ERROR_MESSAGE);

  const std::string longText(300, 'x');
  EXPECT_EQ(reportFailures(&out, [&]() -> PF_Err { throw std::runtime_error(longText); }),
            PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(std::strlen(out.return_msg), 255u);
  EXPECT_EQ(std::string(out.return_msg).rfind("Vortelline: x", 0), 0u);

  // Without out_data a described failure still maps to 512 and writes nothing.
  EXPECT_EQ(reportFailures(nullptr, []() -> PF_Err { throw std::runtime_error("lost"); }),
            PF_Err_INTERNAL_STRUCT_DAMAGED);
}

}  // namespace
