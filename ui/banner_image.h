// The banner picture shown in the effect's control: light grey artwork on black, opaque, stored
// in the module as the drawing suites take it (blue, green, red, alpha; rows top to bottom).
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int bannerWidth = 960;
inline constexpr int bannerHeight = 240;
inline constexpr int bannerRowBytes = bannerWidth * 4;
inline constexpr size_t bannerImageBytes = size_t(bannerRowBytes) * bannerHeight;

// Generated at build time from ui/artwork/banner.png.
extern const uint8_t bannerImage[bannerImageBytes];
