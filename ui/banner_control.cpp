#include "ui/banner_control.h"

#include <algorithm>
#include <cstdint>

#include "host/acquired_suite.h"
#include "host/parameter_set.h"
#include "ui/banner_image.h"

namespace {

// The largest control the banner fills; a larger one gets the banner at this size, top left.
constexpr float largestWidth = 240.0f;
constexpr float largestHeight = 60.0f;

bool isBannerDrawEvent(const PF_EventExtra* event) {
  return event != nullptr && event->e_type == PF_Event_DRAW && event->effect_win.index == kParamAbout &&
         event->effect_win.area == PF_EA_CONTROL;
}

void check(SPErr err) {
  if (err != 0) throw PF_Err_INTERNAL_STRUCT_DAMAGED;
}

// A suite the host does not give, or gives without a function the banner calls, is unusable.
template <typename Suite, typename... Functions>
void requireSuite(const AcquiredSuite<Suite>& suite, Functions Suite::*... functions) {
  if (suite.get() == nullptr || ((suite.get()->*functions == nullptr) || ...)) throw PF_Err_INVALID_CALLBACK;
}

// The banner as a host image, released on every way out.
struct HostImage {
  const DRAWBOT_SupplierSuite1& suite;
  DRAWBOT_ImageRef image = nullptr;

  HostImage(const DRAWBOT_SupplierSuite1& supplierSuite, DRAWBOT_SupplierRef supplier) : suite(supplierSuite) {
    check(suite.NewImageFromBuffer(supplier, bannerWidth, bannerHeight, bannerRowBytes,
                                   kDRAWBOT_PixelLayout_32BGRA_Straight, bannerImage, &image));
  }
  ~HostImage() {
    if (image != nullptr) suite.ReleaseObject(image);
  }
  HostImage(const HostImage&) = delete;
  HostImage& operator=(const HostImage&) = delete;
};

// The surface's state, pushed for the drawing and popped on every way out.
struct PushedState {
  const DRAWBOT_SurfaceSuite2& suite;
  DRAWBOT_SurfaceRef surface;

  PushedState(const DRAWBOT_SurfaceSuite2& surfaceSuite, DRAWBOT_SurfaceRef drawnSurface)
      : suite(surfaceSuite), surface(drawnSurface) {
    check(suite.PushStateStack(surface));
  }
  ~PushedState() { suite.PopStateStack(surface); }
  PushedState(const PushedState&) = delete;
  PushedState& operator=(const PushedState&) = delete;
};

}  // namespace

std::optional<BannerPlacement> placeBanner(const PF_Rect& frame) {
  // 64-bit differences: a frame spanning most of the 32-bit range must not overflow.
  const float width = std::min(static_cast<float>(int64_t(frame.right) - frame.left), largestWidth);
  const float height = std::min(static_cast<float>(int64_t(frame.bottom) - frame.top), largestHeight);
  if (!(width > 0.0f) || !(height > 0.0f)) return std::nullopt;
  const float scale = std::min(height / float(bannerHeight), width / float(bannerWidth));
  const float x = static_cast<float>(frame.left) / scale;
  const float y = ((height - scale * float(bannerHeight)) * 0.5f + static_cast<float>(frame.top)) / scale;
  return BannerPlacement{scale, DRAWBOT_PointF32{x, y}};
}

PF_Err drawBanner(PF_InData* in_data, PF_EventExtra* event) {
  if (!isBannerDrawEvent(event)) return PF_Err_NONE;
  const std::optional<BannerPlacement> placement = placeBanner(event->effect_win.current_frame);
  if (!placement) return PF_Err_NONE;

  const AcquiredSuite<PF_EffectCustomUISuite2> customUi(in_data, kPFEffectCustomUISuite,
                                                         kPFEffectCustomUISuiteVersion2);
  requireSuite(customUi, &PF_EffectCustomUISuite2::PF_GetDrawingReference);
  DRAWBOT_DrawRef drawing = nullptr;
  check(customUi->PF_GetDrawingReference(event->contextH, &drawing));
  // The host has nothing to draw on right now (the panel is hidden, say): not a failure.
  if (drawing == nullptr) return PF_Err_NONE;

  const AcquiredSuite<DRAWBOT_DrawbotSuite1> draw(in_data, kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_Version1);
  requireSuite(draw, &DRAWBOT_DrawbotSuite1::GetSupplier, &DRAWBOT_DrawbotSuite1::GetSurface);
  const AcquiredSuite<DRAWBOT_SupplierSuite1> supplierSuite(in_data, kDRAWBOT_SupplierSuite,
                                                            kDRAWBOT_SupplierSuite_Version1);
  requireSuite(supplierSuite, &DRAWBOT_SupplierSuite1::NewImageFromBuffer, &DRAWBOT_SupplierSuite1::ReleaseObject);
  const AcquiredSuite<DRAWBOT_SurfaceSuite2> surfaceSuite(in_data, kDRAWBOT_SurfaceSuite,
                                                          kDRAWBOT_SurfaceSuite_Version2);
  requireSuite(surfaceSuite, &DRAWBOT_SurfaceSuite2::PushStateStack, &DRAWBOT_SurfaceSuite2::PopStateStack,
               &DRAWBOT_SurfaceSuite2::Transform, &DRAWBOT_SurfaceSuite2::DrawImage);
  DRAWBOT_SupplierRef supplier = nullptr;
  check(draw->GetSupplier(drawing, &supplier));
  DRAWBOT_SurfaceRef surface = nullptr;
  check(draw->GetSurface(drawing, &surface));

  // Destroyed in reverse: the state is popped, then the image released, then the suites.
  const HostImage image(*supplierSuite.get(), supplier);
  const PushedState state(*surfaceSuite.get(), surface);
  const float scale = placement->scale;
  const DRAWBOT_MatrixF32 scaling{{{scale, 0.0f, 0.0f}, {0.0f, scale, 0.0f}, {0.0f, 0.0f, 1.0f}}};
  check(surfaceSuite->Transform(surface, &scaling));
  check(surfaceSuite->DrawImage(surface, image.image, &placement->origin, 1.0f));
  event->evt_out_flags |= PF_EO_HANDLED_EVENT | PF_EO_NEVER_UPDATE;
  return PF_Err_NONE;
}
