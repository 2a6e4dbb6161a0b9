// Reading the registration resource from the module file, as a host does before loading it.
#include <gtest/gtest.h>

#include "sdk/effect_sdk.h"
#include "session/program_errors.h"
#include "session/registration_resource.h"

namespace {

TEST(RegistrationResource, TheModuleCarriesItsRegistration) {
  std::optional<std::vector<uint8_t>> bytes = readElfSection(VORTELLINE_MODULE_PATH, ".pipl");
  ASSERT_TRUE(bytes.has_value());
  RegistrationResource resource = parseRegistrationResource(*bytes);
  EXPECT_EQ(resource.kind, static_cast<uint32_t>(PF_Kind_EFFECT));
  EXPECT_EQ(resource.name, "Vortelline");
  EXPECT_EQ(resource.category, "Ternwick");
  EXPECT_EQ(resource.entryPointName, "EffectMain");
  EXPECT_EQ(resource.matchName, "Emberlyth GPU");
  EXPECT_FALSE(resource.supportUrl.empty());
  EXPECT_EQ(resource.apiVersionMajor, 13);
  EXPECT_EQ(resource.apiVersionMinor, 28);
  EXPECT_EQ(resource.effectVersion, 0x00080601u);
  EXPECT_EQ(resource.outFlags, 0x06008024u);
  EXPECT_EQ(resource.outFlags2, 0x08001488u);
}

TEST(RegistrationResource, DamagedBytesAreRefusedNeverOverread) {
  std::vector<uint8_t> bytes = *readElfSection(VORTELLINE_MODULE_PATH, ".pipl");
  // Every truncation of the resource is refused: its property count promises more.
  for (size_t length = 0; length < bytes.size(); ++length) {
    std::vector<uint8_t> truncated(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length));
    EXPECT_THROW(parseRegistrationResource(truncated), RunError) << length;
  }
  // A length byte of a text that runs past its property.
  std::vector<uint8_t> damaged = bytes;
  size_t nameData = 10 + 16 + 4 + 16;  // header, the "kind" property, then the "name" property's header
  damaged[nameData] = 200;
  EXPECT_THROW(parseRegistrationResource(damaged), RunError);
  // A property length past the end.
  damaged = bytes;
  damaged[10 + 12] = 0xFF;
  EXPECT_THROW(parseRegistrationResource(damaged), RunError);
  // An API version property of 2 bytes, with more bytes after it that are not its own.
  const std::vector<uint8_t> shortVersion{1, 0,   0,   0,   0,   0,   1,   0,   0,   0,   'M', 'I', 'D', 'A',
                                          'R', 'V', 'S', 'e', 0,   0,   0,   0,   2,   0,   0,   0,   13,  0,
                                          28,  0};
  EXPECT_THROW(parseRegistrationResource(shortVersion), RunError);
}

TEST(RegistrationResource, FilesWithoutTheSectionHaveNoResource) {
  EXPECT_FALSE(readElfSection(VORTELLINE_PROGRAM_PATH, ".pipl").has_value());
  EXPECT_TRUE(readElfSection(VORTELLINE_PROGRAM_PATH, ".text").has_value());
  EXPECT_THROW(readElfSection("/nonexistent/module.so", ".pipl"), RunError);
}

}  // namespace
