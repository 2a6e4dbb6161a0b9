// Remakes ui/artwork/banner.png: the effect's own flames, rendered by the CPU renderer and turned
// to grey, with the effect's name beside them. Run by hand when the artwork should change:
//   cmake --build build --target vortelline_make_banner
//   QT_QPA_PLATFORM=offscreen build/ui/vortelline_make_banner ui/artwork/banner.png
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "render/render_driver.h"
#include "ui/banner_image.h"

namespace {

constexpr int flameWidth = 300;  // the part of the render kept, centred on the flames
constexpr int renderWidth = 480;

// The default flames at a moment where the tongues reach high, in 8-bit host pixels.
QImage renderFlameGreys() {
  FlameParams params;
  params.processing = 2;  // CPU: the reference, and no GPU needed to remake the picture
  params.timeSeconds = 2.5;
  std::vector<uint8_t> argb(size_t(renderWidth) * bannerHeight * 4);
  FrameGeometry output{argb.data(), renderWidth, bannerHeight, renderWidth * 4, 0, 0, kDepth8};
  RenderRequest request;
  request.layerWidth = renderWidth;
  request.layerHeight = bannerHeight;
  renderFlames(output, params, request);

  // The flames are premultiplied, so over black their colour is the pixel itself; grey is its
  // luma, lifted a little so the dim outer veil still reads on a dark panel.
  QImage greys(renderWidth, bannerHeight, QImage::Format_Grayscale8);
  double weight = 0.0;
  double weightedX = 0.0;
  for (int y = 0; y < bannerHeight; ++y) {
    for (int x = 0; x < renderWidth; ++x) {
      const uint8_t* pixel = &argb[(size_t(y) * renderWidth + x) * 4];
      const double luma = (0.2126 * pixel[1] + 0.7152 * pixel[2] + 0.0722 * pixel[3]) / 255.0;
      greys.scanLine(y)[x] = uint8_t(std::lround(255.0 * std::pow(std::min(luma, 1.0), 0.8)));
      weight += luma;
      weightedX += luma * x;
    }
  }
  const int centre = weight > 0.0 ? int(std::lround(weightedX / weight)) : renderWidth / 2;
  return greys.copy(std::clamp(centre - flameWidth / 2, 0, renderWidth - flameWidth), 0, flameWidth, bannerHeight);
}

QImage composeBanner(const QImage& flames) {
  QImage banner(bannerWidth, bannerHeight, QImage::Format_Grayscale8);
  banner.fill(Qt::black);
  QPainter painter(&banner);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.drawImage(20, 0, flames);

  QFont name("DejaVu Sans");
  name.setPixelSize(104);
  name.setWeight(QFont::Light);
  name.setLetterSpacing(QFont::PercentageSpacing, 96);
  painter.setFont(name);
  painter.setPen(QColor(232, 232, 232));
  painter.drawText(QRect(330, 30, 620, 130), Qt::AlignLeft | Qt::AlignBottom, "Vortelline");

  QFont line("DejaVu Sans");
  line.setPixelSize(30);
  line.setLetterSpacing(QFont::AbsoluteSpacing, 3);
  painter.setFont(line);
  painter.setPen(QColor(150, 150, 150));
  painter.drawText(QRect(336, 168, 620, 40), Qt::AlignLeft | Qt::AlignTop, "VOLUMETRIC FLAMES");
  painter.end();
  return banner;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);  // text needs the font database
  if (argc != 2) {
    std::fprintf(stderr, "usage: vortelline_make_banner OUTPUT.png\n");
    return 2;
  }
  const QImage banner = composeBanner(renderFlameGreys());
  if (!banner.save(argv[1], "PNG")) {
    std::fprintf(stderr, "vortelline_make_banner: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
