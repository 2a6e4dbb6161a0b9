// Pixels between OpenFX images and the host's worlds. An OpenFX image is RGBA, premultiplied, its
// rows from the bottom up, addressed in pixel coordinates within its bounds (rowBytes may be
// negative), 16-bit channels with full intensity 65535; the effect's worlds are ARGB rows from the
// top down with 16-bit full intensity 32768 (converted exactly each way: session/host_pixels.h).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "session/host_pixels.h"

// Pixel coordinates, y up; x2 and y2 are one past the last pixel.
struct PixelRect {
  int x1 = 0;
  int y1 = 0;
  int x2 = 0;
  int y2 = 0;
};

struct ImageView {
  std::byte* data = nullptr;
  PixelRect bounds;
  int rowBytes = 0;
  int bitDepth = 0;  // 8, 16 or 32; 0 for a depth the effect does not render
  bool rgba = false;
};

// 8, 16 or 32 for OpenFX's byte, short and float depth names; 0 for any other.
int bitDepthOfName(const std::string& name);

// The frame (its place in the image's coordinates) as a world; pixels outside the image are
// transparent.
HostWorld worldFromImage(const ImageView& image, const PixelRect& frame);

// The part of the frame that a render window covers, as a rectangle of the frame's world (y down);
// none when they do not meet.
std::optional<PF_LRect> frameRegionOf(const PixelRect& window, const PixelRect& frame);

// Transparent pixels in the window, within the image's bounds.
void clearWindow(const ImageView& image, const PixelRect& window);

// A world holding the region of the frame (a rectangle of the frame's world, y down) into the image,
// within its bounds and the window (in the image's coordinates).
void writeWorldIntoImage(const PF_EffectWorld& world, const PF_LRect& region, const PixelRect& frame,
                         const ImageView& image, const PixelRect& window);
