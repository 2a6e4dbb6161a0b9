// The values under which the effect registers with the host. The registration call, the PiPL
// bytes and global set-up all read them from here, so they cannot drift apart.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sdk/effect_sdk.h"

inline constexpr std::string_view kEffectName = "Vortelline";
inline constexpr std::string_view kMatchName = "Emberlyth GPU";
inline constexpr std::string_view kCategoryName = "Ternwick";
inline constexpr std::string_view kEntryPointName = "EffectMain";
inline constexpr std::string_view kSupportUrl = "https://www.ternwick.com/vortelline";

inline constexpr A_long kApiVersionMajor = 13;
inline constexpr A_long kApiVersionMinor = 28;
inline constexpr A_long kReservedInfo = 8;

// The host's version word: major << 19 | minor << 15 | fix << 11 | stage << 9 | build.
constexpr A_u_long effectVersion(A_u_long major, A_u_long minor, A_u_long fix, A_u_long stage, A_u_long build) {
  return (major << 19) | (minor << 15) | (fix << 11) | (stage << 9) | build;
}
inline constexpr A_u_long kStageRelease = 3;
inline constexpr A_u_long kEffectVersion = effectVersion(1, 0, 0, kStageRelease, 1);
static_assert(kEffectVersion == 0x00080601);

inline constexpr PF_OutFlags kGlobalOutFlags = PF_OutFlag_NON_PARAM_VARY | PF_OutFlag_I_DO_DIALOG |
                                               PF_OutFlag_CUSTOM_UI | PF_OutFlag_DEEP_COLOR_AWARE |
                                               PF_OutFlag_SEND_UPDATE_PARAMS_UI;
inline constexpr PF_OutFlags2 kGlobalOutFlags2 =
    PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG | PF_OutFlag2_REVEALS_ZERO_ALPHA |
    PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE |
    PF_OutFlag2_SUPPORTS_THREADED_RENDERING;
static_assert(kGlobalOutFlags == 0x06008024);
static_assert(kGlobalOutFlags2 == 0x08001488);

// The PiPL property list: version 1, 13 properties, each "8BIM", key, id 0, padded length, data.
// Four-character codes are stored as little-endian 32-bit values (characters reversed in memory).
namespace pipl {

inline constexpr std::size_t kHeaderBytes = 2 + 4 + 4;
inline constexpr std::size_t kPropertyHeaderBytes = 16;
inline constexpr std::size_t kPropertyCount = 13;

constexpr std::size_t padded(std::size_t bytes) { return (bytes + 3) & ~std::size_t(3); }
constexpr std::size_t pascalBytes(std::string_view text) { return padded(1 + text.size()); }

inline constexpr std::size_t kTotalBytes =
    kHeaderBytes + kPropertyCount * kPropertyHeaderBytes + 4 /*kind*/ + pascalBytes(kEffectName) +
    pascalBytes(kCategoryName) + padded(kEntryPointName.size() + 1) + 4 /*ePVR*/ + 4 /*eSVR*/ +
    4 /*eVER*/ + padded(2) /*eINF*/ + 4 /*eGLO*/ + 4 /*eGL2*/ + pascalBytes(kMatchName) +
    4 /*aeFL*/ + pascalBytes(kSupportUrl);

using Bytes = std::array<std::uint8_t, kTotalBytes>;

}  // namespace pipl

// The registration resource bytes, as stored in the module's ".pipl" section.
const pipl::Bytes& piplResource();
