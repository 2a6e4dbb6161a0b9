#include "ofx/ofx_pixels.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ofx/ofx_api.h"

namespace {

std::byte* imagePixel(const ImageView& image, int x, int y) {
  return image.data + static_cast<std::ptrdiff_t>(y - image.bounds.y1) * image.rowBytes +
         static_cast<std::ptrdiff_t>(x - image.bounds.x1) * bytesPerPixel(image.bitDepth);
}

// One pixel between the two layouts: RGBA <-> ARGB, 16 bits rescaled.
void pixelToWorld(const std::byte* rgba, std::byte* argb, int bitDepth) {
  for (int channel = 0; channel < 4; ++channel) {
    const int from = (channel + 3) % 4;  // world's alpha is the image's fourth channel
    if (bitDepth == 8) {
      argb[channel] = rgba[from];
    } else if (bitDepth == 16) {
      uint16_t value;
      std::memcpy(&value, rgba + from * 2, 2);
      value = hostFromFullRange16(value);
      std::memcpy(argb + channel * 2, &value, 2);
    } else {
      std::memcpy(argb + channel * 4, rgba + from * 4, 4);
    }
  }
}

void pixelToImage(const std::byte* argb, std::byte* rgba, int bitDepth) {
  for (int channel = 0; channel < 4; ++channel) {
    const int to = (channel + 3) % 4;
    if (bitDepth == 8) {
      rgba[to] = argb[channel];
    } else if (bitDepth == 16) {
      uint16_t value;
      std::memcpy(&value, argb + channel * 2, 2);
      value = fullRange16FromHost(value);
      std::memcpy(rgba + to * 2, &value, 2);
    } else {
      std::memcpy(rgba + to * 4, argb + channel * 4, 4);
    }
  }
}

PixelRect intersection(const PixelRect& a, const PixelRect& b) {
  return PixelRect{std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2), std::min(a.y2, b.y2)};
}

bool isEmpty(const PixelRect& rect) { return rect.x2 <= rect.x1 || rect.y2 <= rect.y1; }

}  // namespace

int bitDepthOfName(const std::string& name) {
  if (name == ofx::kOfxBitDepthByte) {
    return 8;
  }
  if (name == ofx::kOfxBitDepthShort) {
    return 16;
  }
  return name == ofx::kOfxBitDepthFloat ? 32 : 0;
}

HostWorld worldFromImage(const ImageView& image, const PixelRect& frame) {
  HostWorld world = makeHostWorld(frame.x2 - frame.x1, frame.y2 - frame.y1, image.bitDepth);
  const PixelRect inside = intersection(frame, image.bounds);
  for (int y = inside.y1; y < inside.y2; ++y) {
    const int row = frame.y2 - 1 - y;
    for (int x = inside.x1; x < inside.x2; ++x) {
      pixelToWorld(imagePixel(image, x, y), pixelAddress(world.world, x - frame.x1, row, image.bitDepth),
                   image.bitDepth);
    }
  }
  return world;
}

std::optional<PF_LRect> frameRegionOf(const PixelRect& window, const PixelRect& frame) {
  const PixelRect inside = intersection(window, frame);
  if (isEmpty(inside)) {
    return std::nullopt;
  }
  return PF_LRect{inside.x1 - frame.x1, frame.y2 - inside.y2, inside.x2 - frame.x1, frame.y2 - inside.y1};
}

void clearWindow(const ImageView& image, const PixelRect& window) {
  const PixelRect inside = intersection(window, image.bounds);
  if (isEmpty(inside)) {
    return;
  }
  const size_t rowLength = static_cast<size_t>(inside.x2 - inside.x1) * bytesPerPixel(image.bitDepth);
  for (int y = inside.y1; y < inside.y2; ++y) {
    std::memset(imagePixel(image, inside.x1, y), 0, rowLength);
  }
}

void writeWorldIntoImage(const PF_EffectWorld& world, const PF_LRect& region, const PixelRect& frame,
                         const ImageView& image, const PixelRect& window) {
  // The region in the image's coordinates.
  const PixelRect placed{frame.x1 + region.left, frame.y2 - region.bottom, frame.x1 + region.right,
                         frame.y2 - region.top};
  const PixelRect inside = intersection(intersection(placed, image.bounds), window);
  for (int y = inside.y1; y < inside.y2; ++y) {
    const int row = placed.y2 - 1 - y;
    for (int x = inside.x1; x < inside.x2; ++x) {
      pixelToImage(pixelAddress(world, x - placed.x1, row, image.bitDepth), imagePixel(image, x, y), image.bitDepth);
    }
  }
}
