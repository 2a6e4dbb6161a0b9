#include "drawing/drawing_suites.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

template <typename Suite>
const Suite& suiteNamed(const char* name, A_long version) {
  const void* table = drawingSuite(name, version);
  EXPECT_NE(table, nullptr) << name;
  return *static_cast<const Suite*>(table);
}

// Drawing on a transparent image through the four suites, as an effect reaches them.
struct DrawingFixture {
  QImage target;
  QPainter painter;
  DrawingReference reference;
  DRAWBOT_SupplierRef supplier = nullptr;
  DRAWBOT_SurfaceRef surface = nullptr;
  const DRAWBOT_SupplierSuite1& suppliers = suiteNamed<DRAWBOT_SupplierSuite1>(kDRAWBOT_SupplierSuite, 1);
  const DRAWBOT_SurfaceSuite2& surfaces = suiteNamed<DRAWBOT_SurfaceSuite2>(kDRAWBOT_SurfaceSuite, 2);

  DrawingFixture(int width, int height) : target(width, height, QImage::Format_ARGB32_Premultiplied) {
    target.fill(Qt::transparent);
    painter.begin(&target);
    reference.painter = &painter;
    const auto& customUi = suiteNamed<PF_EffectCustomUISuite2>(kPFEffectCustomUISuite, 2);
    const auto& draw = suiteNamed<DRAWBOT_DrawbotSuite1>(kDRAWBOT_DrawSuite, 1);
    DRAWBOT_DrawRef drawRef = nullptr;
    EXPECT_EQ(customUi.PF_GetDrawingReference(drawingContext(reference), &drawRef), PF_Err_NONE);
    EXPECT_EQ(draw.GetSupplier(drawRef, &supplier), 0);
    EXPECT_EQ(draw.GetSurface(drawRef, &surface), 0);
  }

  // Creates a BGRA-straight image, draws it at origin after the transform and releases it.
  void draw(const std::vector<uint8_t>& bgra, int width, int height, DRAWBOT_MatrixF32 matrix, DRAWBOT_PointF32 origin,
            float alpha = 1.0f) {
    DRAWBOT_ImageRef image = nullptr;
    ASSERT_EQ(suppliers.NewImageFromBuffer(supplier, width, height, width * 4, kDRAWBOT_PixelLayout_32BGRA_Straight,
                                           bgra.data(), &image),
              0);
    ASSERT_EQ(surfaces.PushStateStack(surface), 0);
    ASSERT_EQ(surfaces.Transform(surface, &matrix), 0);
    ASSERT_EQ(surfaces.DrawImage(surface, image, &origin, alpha), 0);
    ASSERT_EQ(surfaces.PopStateStack(surface), 0);
    ASSERT_EQ(suppliers.ReleaseObject(image), 0);
  }

  QRgb pixel(int x, int y) {
    painter.end();
    QRgb value = target.pixel(x, y);
    painter.begin(&target);
    return value;
  }
};

constexpr DRAWBOT_MatrixF32 scaleMatrix(float s) { return {{{s, 0, 0}, {0, s, 0}, {0, 0, 1}}}; }

std::vector<uint8_t> solidGrey(int width, int height, uint8_t grey) {
  std::vector<uint8_t> bgra;
  for (int i = 0; i < width * height; ++i) bgra.insert(bgra.end(), {grey, grey, grey, 255});
  return bgra;
}

TEST(DrawingSuites, ImagesKeepTheirChannelsInEveryLayoutWithPaddedRows) {
  struct Case {
    DRAWBOT_PixelLayout layout;
    uint8_t bytes[4];
  };
  // One pixel red 200, green 100, blue 50, alpha 255, then two bytes of row padding.
  const Case cases[] = {
      {kDRAWBOT_PixelLayout_32BGRA_Straight, {50, 100, 200, 255}},
      {kDRAWBOT_PixelLayout_32BGRA_Premul, {50, 100, 200, 255}},
      {kDRAWBOT_PixelLayout_32ARGB_Straight, {255, 200, 100, 50}},
      {kDRAWBOT_PixelLayout_32ARGB_Premul, {255, 200, 100, 50}},
  };
  for (const Case& c : cases) {
    DrawingFixture fixture(2, 2);
    std::vector<uint8_t> buffer;
    for (int row = 0; row < 2; ++row) {
      buffer.insert(buffer.end(), std::begin(c.bytes), std::end(c.bytes));
      buffer.insert(buffer.end(), {9, 9});
    }
    DRAWBOT_ImageRef image = nullptr;
    ASSERT_EQ(fixture.suppliers.NewImageFromBuffer(fixture.supplier, 1, 2, 6, c.layout, buffer.data(), &image), 0);
    buffer.assign(buffer.size(), 0);  // the supplier made its own copy
    const DRAWBOT_PointF32 origin{1, 0};
    ASSERT_EQ(fixture.surfaces.DrawImage(fixture.surface, image, &origin, 1.0f), 0);
    ASSERT_EQ(fixture.suppliers.ReleaseObject(image), 0);
    for (int y = 0; y < 2; ++y) {
      EXPECT_EQ(fixture.pixel(1, y), qRgba(200, 100, 50, 255)) << "layout " << c.layout << " row " << y;
      EXPECT_EQ(qAlpha(fixture.pixel(0, y)), 0);
    }
  }
  EXPECT_EQ(unreleasedDrawingImages(), 0);
}

TEST(DrawingSuites, RefusesBadArgumentsInsteadOfDrawingGarbage) {
  DrawingFixture fixture(4, 4);
  const std::vector<uint8_t> pixels = solidGrey(4, 4, 128);
  DRAWBOT_ImageRef image = nullptr;
  struct Case {
    const char* what;
    int width, rowBytes;
    DRAWBOT_PixelLayout layout;
  };
  const Case refused[] = {{"rows shorter than the width", 4, 15, kDRAWBOT_PixelLayout_32BGRA_Straight},
                          {"zero width", 0, 16, kDRAWBOT_PixelLayout_32BGRA_Straight},
                          {"a 24-bit layout", 4, 16, kDRAWBOT_PixelLayout_24RGB}};
  for (const Case& c : refused) {
    EXPECT_NE(fixture.suppliers.NewImageFromBuffer(fixture.supplier, c.width, 4, c.rowBytes, c.layout, pixels.data(),
                                                   &image),
              0)
        << c.what;
  }
  ASSERT_EQ(fixture.suppliers.NewImageFromBuffer(fixture.supplier, 4, 4, 16, kDRAWBOT_PixelLayout_32BGRA_Straight,
                                                 pixels.data(), &image),
            0);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const DRAWBOT_PointF32 nanOrigin{nan, 0};
  EXPECT_NE(fixture.surfaces.DrawImage(fixture.surface, image, &nanOrigin, 1.0f), 0);
  // Popping what was never pushed would undo the host's own painter state.
  EXPECT_NE(fixture.surfaces.PopStateStack(fixture.surface), 0);
  EXPECT_EQ(fixture.suppliers.ReleaseObject(image), 0);
  EXPECT_EQ(unreleasedDrawingImages(), 0);
  EXPECT_EQ(qAlpha(fixture.pixel(0, 0)), 0);
}

TEST(DrawingSuites, TransformScalesAndTranslatesLikeRowVectorsAndPopRestoresIt) {
  DrawingFixture fixture(16, 8);
  // Scale 2, then move 4 units right: a 2 x 2 image at origin (1, 1) covers x 6..9, y 2..5.
  DRAWBOT_MatrixF32 matrix = scaleMatrix(2);
  matrix.mat[2][0] = 4;
  fixture.draw(solidGrey(2, 2, 255), 2, 2, matrix, {1, 1});
  EXPECT_TRUE(fixture.painter.worldTransform().isIdentity());
  const QRect covered(6, 2, 4, 4);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      EXPECT_EQ(fixture.pixel(x, y), covered.contains(x, y) ? qRgba(255, 255, 255, 255) : 0) << x << "," << y;
    }
  }
}

TEST(DrawingSuites, ShrinkingAveragesFineDetailAndOpacityBlends) {
  // Every fourth column white, shrunk four times, is a quarter grey everywhere; sampling only the
  // nearest source pixels would see the black columns between.
  DrawingFixture fixture(40, 10);
  std::vector<uint8_t> stripes;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 160; ++x) {
      const uint8_t grey = x % 4 == 0 ? 255 : 0;
      stripes.insert(stripes.end(), {grey, grey, grey, 255});
    }
  }
  fixture.draw(stripes, 160, 40, scaleMatrix(0.25f), {0, 0});
  for (int x = 0; x < 40; ++x) {
    EXPECT_NEAR(qRed(fixture.pixel(x, 5)), 64, 3) << x;
    EXPECT_EQ(qAlpha(fixture.pixel(x, 5)), 255);
  }

  DrawingFixture blended(4, 4);
  blended.draw(solidGrey(4, 4, 200), 4, 4, scaleMatrix(1), {0, 0}, 0.5f);
  EXPECT_NEAR(qAlpha(blended.pixel(1, 1)), 128, 1);
  EXPECT_NEAR(qRed(blended.pixel(1, 1)), 100, 1);  // premultiplied
}

TEST(DrawingSuites, AnEmptyContextGivesAnEmptyReferenceAndLeftoverStatesArePopped) {
  DrawingReference empty;
  DRAWBOT_DrawRef drawRef = reinterpret_cast<DRAWBOT_DrawRef>(&empty);
  const auto& customUi = suiteNamed<PF_EffectCustomUISuite2>(kPFEffectCustomUISuite, 2);
  EXPECT_EQ(customUi.PF_GetDrawingReference(drawingContext(empty), &drawRef), PF_Err_NONE);
  EXPECT_EQ(drawRef, nullptr);

  DrawingFixture fixture(4, 4);
  const DRAWBOT_MatrixF32 matrix = scaleMatrix(3);
  ASSERT_EQ(fixture.surfaces.PushStateStack(fixture.surface), 0);
  ASSERT_EQ(fixture.surfaces.Transform(fixture.surface, &matrix), 0);
  ASSERT_EQ(fixture.surfaces.PushStateStack(fixture.surface), 0);
  finishDrawing(fixture.reference);
  EXPECT_EQ(fixture.reference.pushedStates, 0);
  EXPECT_TRUE(fixture.painter.worldTransform().isIdentity());
}

}  // namespace
