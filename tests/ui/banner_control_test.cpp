#include "ui/banner_control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/banner_image.h"
#include "tests/support/test_host.h"

namespace {

TEST(BannerControl, PlacementFitsTheBannerIntoAtMost240By60Units) {
  struct Case {
    PF_Rect frame;
    float scale, x, y;  // y in scaled units: device offset / scale
  };
  const Case cases[] = {
      {{0, 0, 240, 60}, 0.25f, 0.0f, 0.0f},
      {{10, 20, 250, 80}, 0.25f, 40.0f, 80.0f},      // the frame's top-left corner, scaled
      {{0, 0, 480, 120}, 0.25f, 0.0f, 0.0f},         // limited to 240 x 60 first
      {{0, 0, 120, 60}, 0.125f, 0.0f, 120.0f},       // 120 x 30 units, 15 below the top
      {{-8, 4, 112, 64}, 0.125f, -64.0f, 152.0f},
  };
  for (const Case& c : cases) {
    const std::optional<BannerPlacement> placement = placeBanner(c.frame);
    ASSERT_TRUE(placement) << c.frame.right;
    EXPECT_EQ(placement->scale, c.scale);
    EXPECT_EQ(placement->origin.x, c.x);
    EXPECT_EQ(placement->origin.y, c.y);
  }
  const PF_Rect empty[] = {{0, 0, 240, 0}, {0, 10, 240, 0}, {5, 0, 5, 60}, {0, 0, -240, 60},
                           // right - left overflows 32 bits
                           {-2147483647 - 1, 0, 2147483647, 0}};
  for (const PF_Rect& frame : empty) EXPECT_FALSE(placeBanner(frame)) << frame.left << " " << frame.bottom;
  const std::optional<BannerPlacement> huge = placeBanner({-2147483647 - 1, 0, 2147483647, 60});
  ASSERT_TRUE(huge);
  EXPECT_EQ(huge->scale, 0.25f);
}

// Fake drawing suites that log every call; refs are this record.
struct DrawingLog {
  std::vector<std::string> calls;
  std::string failing;  // the function that returns an error
  bool emptyReference = false;
  DRAWBOT_MatrixF32 matrix{};
  DRAWBOT_PointF32 origin{};
  float alpha = 0.0f;
  int imageWidth = 0, imageHeight = 0, rowBytes = 0;
  DRAWBOT_PixelLayout layout = -1;
  const void* pixels = nullptr;
};
DrawingLog* drawingLog = nullptr;
int imageToken = 0;

SPErr logged(const char* name) {
  drawingLog->calls.push_back(name);
  return drawingLog->failing == name ? 1 : 0;
}

PF_Err getDrawingReference(const PF_ContextH, DRAWBOT_DrawRef* reference) {
  *reference = drawingLog->emptyReference ? nullptr : reinterpret_cast<DRAWBOT_DrawRef>(drawingLog);
  return logged("GetDrawingReference");
}
SPErr getSupplier(DRAWBOT_DrawRef, DRAWBOT_SupplierRef* supplier) {
  *supplier = reinterpret_cast<DRAWBOT_SupplierRef>(drawingLog);
  return logged("GetSupplier");
}
SPErr getSurface(DRAWBOT_DrawRef, DRAWBOT_SurfaceRef* surface) {
  *surface = reinterpret_cast<DRAWBOT_SurfaceRef>(drawingLog);
  return logged("GetSurface");
}
SPErr newImageFromBuffer(DRAWBOT_SupplierRef, int width, int height, int rowBytes, DRAWBOT_PixelLayout layout,
                         const void* pixels, DRAWBOT_ImageRef* image) {
  drawingLog->imageWidth = width;
  drawingLog->imageHeight = height;
  drawingLog->rowBytes = rowBytes;
  drawingLog->layout = layout;
  drawingLog->pixels = pixels;
  SPErr err = logged("NewImageFromBuffer");
  *image = err == 0 ? reinterpret_cast<DRAWBOT_ImageRef>(&imageToken) : nullptr;
  return err;
}
SPErr releaseObject(DRAWBOT_ObjectRef) { return logged("ReleaseObject"); }
SPErr pushStateStack(DRAWBOT_SurfaceRef) { return logged("PushStateStack"); }
SPErr popStateStack(DRAWBOT_SurfaceRef) { return logged("PopStateStack"); }
SPErr transform(DRAWBOT_SurfaceRef, const DRAWBOT_MatrixF32* matrix) {
  drawingLog->matrix = *matrix;
  return logged("Transform");
}
SPErr drawImage(DRAWBOT_SurfaceRef, DRAWBOT_ImageRef, const DRAWBOT_PointF32* origin, float alpha) {
  drawingLog->origin = *origin;
  drawingLog->alpha = alpha;
  return logged("DrawImage");
}

const PF_EffectCustomUISuite2 customUiSuite{getDrawingReference};
const DRAWBOT_DrawbotSuite1 drawSuite{getSupplier, getSurface};
const DRAWBOT_SupplierSuite1 supplierSuite{newImageFromBuffer, releaseObject};
const DRAWBOT_SurfaceSuite2 surfaceSuite{pushStateStack, popStateStack, transform, drawImage};

struct BannerHost : TestHost {
  DrawingLog log;
  PF_EventExtra event{};

  BannerHost() {
    drawingLog = &log;
    provideSuite(kPFEffectCustomUISuite, 2, &customUiSuite);
    provideSuite(kDRAWBOT_DrawSuite, 1, &drawSuite);
    provideSuite(kDRAWBOT_SupplierSuite, 1, &supplierSuite);
    provideSuite(kDRAWBOT_SurfaceSuite, 2, &surfaceSuite);
    event.e_type = PF_Event_DRAW;
    event.effect_win.index = 1;
    event.effect_win.area = PF_EA_CONTROL;
    event.effect_win.current_frame = {0, 0, 240, 60};
    event.evt_out_flags = 0x10;  // a bit of the host's own that must survive
  }
  ~BannerHost() { drawingLog = nullptr; }
  PF_Err send() { return command(PF_Cmd_EVENT, &event); }
};

const std::vector<std::string> fullDrawing = {"GetDrawingReference", "GetSupplier",  "GetSurface",
                                              "NewImageFromBuffer",  "PushStateStack", "Transform",
                                              "DrawImage",           "PopStateStack", "ReleaseObject"};
const std::vector<std::string> suitesReleased = {kDRAWBOT_SurfaceSuite, kDRAWBOT_SupplierSuite, kDRAWBOT_DrawSuite,
                                                 kPFEffectCustomUISuite};

TEST(BannerControl, DrawsTheStoredPictureScaledIntoTheControlAndReleasesInReverse) {
  BannerHost host;
  ASSERT_EQ(host.send(), PF_Err_NONE);
  EXPECT_EQ(host.log.calls, fullDrawing);
  EXPECT_EQ(host.releasedSuites, suitesReleased);
  EXPECT_EQ(host.event.evt_out_flags, 0x10 | PF_EO_HANDLED_EVENT | PF_EO_NEVER_UPDATE);
  EXPECT_EQ(host.log.imageWidth, 960);
  EXPECT_EQ(host.log.imageHeight, 240);
  EXPECT_EQ(host.log.rowBytes, 3840);
  EXPECT_EQ(host.log.layout, kDRAWBOT_PixelLayout_32BGRA_Straight);
  EXPECT_EQ(host.log.pixels, bannerImage);
  const DRAWBOT_MatrixF32 quarter{{{0.25f, 0, 0}, {0, 0.25f, 0}, {0, 0, 1}}};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      EXPECT_EQ(host.log.matrix.mat[row][column], quarter.mat[row][column]) << row << column;
    }
  }
  EXPECT_EQ(host.log.alpha, 1.0f);
}

TEST(BannerControl, IgnoresEveryOtherEventWithoutTouchingTheHost) {
  struct Case {
    const char* what;
    PF_EventType type;
    PF_ParamIndex index;
    PF_EffectArea area;
    PF_Rect frame;
  };
  const Case ignored[] = {
      {"a click", PF_Event_DO_CLICK, 1, PF_EA_CONTROL, {0, 0, 240, 60}},
      {"another control", PF_Event_DRAW, 2, PF_EA_CONTROL, {0, 0, 240, 60}},
      {"the title area", PF_Event_DRAW, 1, PF_EA_PARAM_TITLE, {0, 0, 240, 60}},
      {"zero height", PF_Event_DRAW, 1, PF_EA_CONTROL, {0, 0, 240, 0}},
      {"negative width", PF_Event_DRAW, 1, PF_EA_CONTROL, {240, 0, 0, 60}},
  };
  for (const Case& c : ignored) {
    BannerHost host;
    host.event.e_type = c.type;
    host.event.effect_win.index = c.index;
    host.event.effect_win.area = c.area;
    host.event.effect_win.current_frame = c.frame;
    EXPECT_EQ(host.send(), PF_Err_NONE) << c.what;
    EXPECT_EQ(host.event.evt_out_flags, 0x10) << c.what;
    EXPECT_TRUE(host.log.calls.empty()) << c.what;
    EXPECT_EQ(host.acquireCount(kPFEffectCustomUISuite), 0) << c.what;
  }
  BannerHost host;
  EXPECT_EQ(host.command(PF_Cmd_EVENT, nullptr), PF_Err_NONE);

  // An empty drawing reference: the panel cannot be drawn on now, which is no failure.
  host.log.emptyReference = true;
  EXPECT_EQ(host.send(), PF_Err_NONE);
  EXPECT_EQ(host.log.calls, std::vector<std::string>{"GetDrawingReference"});
  EXPECT_EQ(host.releasedSuites, std::vector<std::string>{kPFEffectCustomUISuite});
  EXPECT_EQ(host.event.evt_out_flags, 0x10);
}

TEST(BannerControl, EveryFailureGivesBackWhatWasObtainedAndReports512) {
  // Each failing call, and what must still follow it.
  struct Case {
    const char* failing;
    std::vector<std::string> cleanup;
    size_t suitesHeld;
  };
  const Case cases[] = {
      {"GetDrawingReference", {}, 1},
      {"GetSupplier", {}, 4},
      {"GetSurface", {}, 4},
      {"NewImageFromBuffer", {}, 4},
      {"PushStateStack", {"ReleaseObject"}, 4},
      {"Transform", {"PopStateStack", "ReleaseObject"}, 4},
      {"DrawImage", {"PopStateStack", "ReleaseObject"}, 4},
  };
  for (const Case& c : cases) {
    BannerHost host;
    host.log.failing = c.failing;
    EXPECT_EQ(host.send(), PF_Err_INTERNAL_STRUCT_DAMAGED) << c.failing;
    std::vector<std::string> expected;
    for (const std::string& call : fullDrawing) {
      expected.push_back(call);
      if (call == c.failing) break;
    }
    expected.insert(expected.end(), c.cleanup.begin(), c.cleanup.end());
    EXPECT_EQ(host.log.calls, expected) << c.failing;
    EXPECT_EQ(host.releasedSuites,
              std::vector<std::string>(suitesReleased.end() - long(c.suitesHeld), suitesReleased.end()))
        << c.failing;
    EXPECT_TRUE(host.suitesBalanced()) << c.failing;
    EXPECT_EQ(host.event.evt_out_flags, 0x10) << c.failing;
    EXPECT_EQ(host.out_data.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0) << c.failing;
  }

  // A suite the host lacks (515 inside) also ends as 512, before anything is drawn.
  const char* suites[] = {kPFEffectCustomUISuite, kDRAWBOT_DrawSuite, kDRAWBOT_SupplierSuite, kDRAWBOT_SurfaceSuite};
  const A_long versions[] = {2, 1, 1, 2};
  for (int missing = 0; missing < 4; ++missing) {
    BannerHost host;
    host.removeSuite(suites[missing], versions[missing]);
    EXPECT_EQ(host.send(), PF_Err_INTERNAL_STRUCT_DAMAGED) << suites[missing];
    EXPECT_TRUE(host.suitesBalanced()) << suites[missing];
    for (const std::string& call : host.log.calls) EXPECT_NE(call, "NewImageFromBuffer") << suites[missing];
  }
  // A table without a function the banner calls counts as missing rather than crashing.
  BannerHost host;
  const DRAWBOT_SurfaceSuite2 withoutDrawImage{pushStateStack, popStateStack, transform, nullptr};
  host.provideSuite(kDRAWBOT_SurfaceSuite, 2, &withoutDrawImage);
  EXPECT_EQ(host.send(), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_TRUE(host.suitesBalanced());
}

}  // namespace
