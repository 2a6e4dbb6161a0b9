#include "drawing/drawing_suites.h"

#include <QImage>
#include <QTransform>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// The suite broker's own error codes: 'Parm' for a bad argument, -108 for memory.
constexpr SPErr badParameterError = 0x5061726D;
constexpr SPErr outOfMemoryError = -108;

// Every side of an image the supplier accepts, in pixels.
constexpr int largestImageSide = 16384;

std::atomic<int> liveImages{0};

struct DrawingImage {
  QImage image;
};

template <typename Ref>
DrawingReference* referenceOf(Ref ref) {
  return reinterpret_cast<DrawingReference*>(ref);
}

DrawingReference* surfaceOf(DRAWBOT_SurfaceRef surface) {
  DrawingReference* reference = referenceOf(surface);
  return reference != nullptr && reference->painter != nullptr ? reference : nullptr;
}

// ---- PF Effect Custom UI Suite ----

PF_Err getDrawingReference(const PF_ContextH effect_contextH, DRAWBOT_DrawRef* referenceP) {
  if (effect_contextH == nullptr || referenceP == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  DrawingReference* reference = referenceOf(effect_contextH);
  *referenceP = reference->painter != nullptr ? reinterpret_cast<DRAWBOT_DrawRef>(reference) : nullptr;
  return PF_Err_NONE;
}

// ---- DRAWBOT Draw Suite ----

SPErr getSupplier(DRAWBOT_DrawRef in_drawbot_ref, DRAWBOT_SupplierRef* out_supplierP) {
  if (in_drawbot_ref == nullptr || out_supplierP == nullptr) return badParameterError;
  *out_supplierP = reinterpret_cast<DRAWBOT_SupplierRef>(in_drawbot_ref);
  return 0;
}

SPErr getSurface(DRAWBOT_DrawRef in_drawbot_ref, DRAWBOT_SurfaceRef* out_surfaceP) {
  if (in_drawbot_ref == nullptr || out_surfaceP == nullptr) return badParameterError;
  *out_surfaceP = reinterpret_cast<DRAWBOT_SurfaceRef>(in_drawbot_ref);
  return 0;
}

// ---- DRAWBOT Supplier Suite ----

// Byte offsets of blue, green, red and alpha within a pixel, for the 32-bit layouts with alpha.
struct ChannelOffsets {
  int blue, green, red, alpha;
  bool premultiplied;
};

bool channelOffsetsOf(DRAWBOT_PixelLayout layout, ChannelOffsets& offsets) {
  switch (layout) {
    case kDRAWBOT_PixelLayout_32ARGB_Straight: offsets = {3, 2, 1, 0, false}; return true;
    case kDRAWBOT_PixelLayout_32ARGB_Premul: offsets = {3, 2, 1, 0, true}; return true;
    case kDRAWBOT_PixelLayout_32BGRA_Straight: offsets = {0, 1, 2, 3, false}; return true;
    case kDRAWBOT_PixelLayout_32BGRA_Premul: offsets = {0, 1, 2, 3, true}; return true;
    default: return false;
  }
}

SPErr newImageFromBuffer(DRAWBOT_SupplierRef in_supplier_ref, int in_width, int in_height, int in_row_bytes,
                         DRAWBOT_PixelLayout in_pl, const void* in_dataP, DRAWBOT_ImageRef* out_imageP) {
  ChannelOffsets offsets{};
  if (in_supplier_ref == nullptr || in_dataP == nullptr || out_imageP == nullptr || !channelOffsetsOf(in_pl, offsets) ||
      in_width <= 0 || in_height <= 0 || in_width > largestImageSide || in_height > largestImageSide ||
      in_row_bytes < in_width * 4) {
    return badParameterError;
  }
  // The buffer is copied, so the effect may free it once the image exists; the channels are read
  // by byte so the result does not depend on the machine's byte order.
  QImage image(in_width, in_height, offsets.premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32);
  if (image.isNull()) return outOfMemoryError;
  const auto* source = static_cast<const uint8_t*>(in_dataP);
  for (int y = 0; y < in_height; ++y) {
    const uint8_t* pixel = source + static_cast<size_t>(y) * static_cast<size_t>(in_row_bytes);
    auto* target = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < in_width; ++x, pixel += 4) {
      target[x] = qRgba(pixel[offsets.red], pixel[offsets.green], pixel[offsets.blue], pixel[offsets.alpha]);
    }
  }
  auto* created = new (std::nothrow) DrawingImage{std::move(image)};
  if (created == nullptr) return outOfMemoryError;
  ++liveImages;
  *out_imageP = reinterpret_cast<DRAWBOT_ImageRef>(created);
  return 0;
}

// Images are the only objects this supplier makes.
SPErr releaseObject(DRAWBOT_ObjectRef in_obj_ref) {
  if (in_obj_ref == nullptr) return badParameterError;
  delete reinterpret_cast<DrawingImage*>(in_obj_ref);
  --liveImages;
  return 0;
}

// ---- DRAWBOT Surface Suite ----

SPErr pushStateStack(DRAWBOT_SurfaceRef in_surface_ref) {
  DrawingReference* surface = surfaceOf(in_surface_ref);
  if (surface == nullptr) return badParameterError;
  surface->painter->save();
  ++surface->pushedStates;
  return 0;
}

SPErr popStateStack(DRAWBOT_SurfaceRef in_surface_ref) {
  DrawingReference* surface = surfaceOf(in_surface_ref);
  // Popping more than was pushed would undo the host's own painter state.
  if (surface == nullptr || surface->pushedStates == 0) return badParameterError;
  surface->painter->restore();
  --surface->pushedStates;
  return 0;
}

SPErr transform(DRAWBOT_SurfaceRef in_surface_ref, const DRAWBOT_MatrixF32* in_matrixP) {
  DrawingReference* surface = surfaceOf(in_surface_ref);
  if (surface == nullptr || in_matrixP == nullptr) return badParameterError;
  const auto& m = in_matrixP->mat;
  for (const auto& row : m) {
    if (!std::all_of(std::begin(row), std::end(row), [](float value) { return std::isfinite(value); })) {
      return badParameterError;
    }
  }
  // QTransform also maps row vectors, with m31 and m32 as the translation.
  const QTransform matrix(m[0][0], m[0][1], m[0][2], m[1][0], m[1][1], m[1][2], m[2][0], m[2][1], m[2][2]);
  surface->painter->setTransform(matrix, true);
  return 0;
}

SPErr drawImage(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_ImageRef in_imageP, const DRAWBOT_PointF32* in_originP,
                float in_alpha) {
  DrawingReference* surface = surfaceOf(in_surface_ref);
  if (surface == nullptr || in_imageP == nullptr || in_originP == nullptr || !std::isfinite(in_alpha) ||
      !std::isfinite(in_originP->x) || !std::isfinite(in_originP->y)) {
    return badParameterError;
  }
  const QImage& image = reinterpret_cast<DrawingImage*>(in_imageP)->image;
  QPainter& painter = *surface->painter;
  painter.save();
  painter.setOpacity(painter.opacity() * std::clamp(in_alpha, 0.0f, 1.0f));
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const QPointF origin(in_originP->x, in_originP->y);
  const QTransform world = painter.worldTransform();
  const QRectF target = world.mapRect(QRectF(origin, QSizeF(image.size())));
  if (world.type() <= QTransform::TxScale && target.width() < image.width() && target.height() < image.height()) {
    // Shrinking in the painter samples only the nearest 2 x 2 source pixels and aliases a fine
    // picture; Qt's smooth scaling averages every source pixel instead.
    const QSize size(std::max(qRound(target.width()), 1), std::max(qRound(target.height()), 1));
    const QImage shrunk = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    painter.setWorldTransform(QTransform());
    painter.drawImage(QRectF(target.topLeft(), QSizeF(size)), shrunk);
  } else {
    painter.drawImage(origin, image);
  }
  painter.restore();
  return 0;
}

const PF_EffectCustomUISuite2 customUiSuite{getDrawingReference};
const DRAWBOT_DrawbotSuite1 drawSuite{getSupplier, getSurface};
const DRAWBOT_SupplierSuite1 supplierSuite{newImageFromBuffer, releaseObject};
const DRAWBOT_SurfaceSuite2 surfaceSuite{pushStateStack, popStateStack, transform, drawImage};

}  // namespace

PF_ContextH drawingContext(DrawingReference& reference) { return reinterpret_cast<PF_ContextH>(&reference); }

void finishDrawing(DrawingReference& reference) {
  for (; reference.pushedStates > 0; --reference.pushedStates) reference.painter->restore();
}

const void* drawingSuite(const char* name, A_long version) {
  if (name == nullptr) return nullptr;
  if (std::strcmp(name, kPFEffectCustomUISuite) == 0 && version == kPFEffectCustomUISuiteVersion2) {
    return &customUiSuite;
  }
  if (std::strcmp(name, kDRAWBOT_DrawSuite) == 0 && version == kDRAWBOT_DrawSuite_Version1) return &drawSuite;
  if (std::strcmp(name, kDRAWBOT_SupplierSuite) == 0 && version == kDRAWBOT_SupplierSuite_Version1) {
    return &supplierSuite;
  }
  if (std::strcmp(name, kDRAWBOT_SurfaceSuite) == 0 && version == kDRAWBOT_SurfaceSuite_Version2) return &surfaceSuite;
  return nullptr;
}

int unreleasedDrawingImages() { return liveImages; }

HostWorld hostWorldFromQImage(const QImage& image) {
  QImage premultiplied = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  HostWorld world = makeHostWorld(premultiplied.width(), premultiplied.height(), 8);
  for (int y = 0; y < premultiplied.height(); ++y) {
    auto* pixel = reinterpret_cast<uint8_t*>(pixelAddress(world.world, 0, y, 8));
    const auto* line = reinterpret_cast<const QRgb*>(premultiplied.constScanLine(y));
    for (int x = 0; x < premultiplied.width(); ++x, pixel += 4) {
      pixel[0] = static_cast<uint8_t>(qAlpha(line[x]));
      pixel[1] = static_cast<uint8_t>(qRed(line[x]));
      pixel[2] = static_cast<uint8_t>(qGreen(line[x]));
      pixel[3] = static_cast<uint8_t>(qBlue(line[x]));
    }
  }
  return world;
}
