#include "drawing/emitter_text.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>

namespace {

// Fonts need a QGuiApplication. The command line has none: it gets one on the offscreen platform,
// which needs no display, once, and kept to the end (destroying it at exit would outlive Qt's own
// globals).
void makeFontsAvailable() {
  if (QCoreApplication::instance()) {
    return;
  }
  static int argc = 3;
  static char name[] = "vortelline";
  static char platformOption[] = "-platform";
  static char platform[] = "offscreen";
  static char* argv[] = {name, platformOption, platform, nullptr};
  static QGuiApplication* application = new QGuiApplication(argc, argv);
  (void)application;
}

// What a layer can show of a text: no more characters than the layer is pixels wide, no glyph
// taller than twice the layer. Beyond that a drawing only costs time (minutes, for a letter with
// 90,000 combining marks at 16384 pixels), and shows nothing more.
QString shownPart(const std::string& utf8, int width) {
  QString text = QString::fromStdString(utf8);
  if (text.size() > width) {
    const qsizetype cut = text.at(width - 1).isHighSurrogate() ? width - 1 : width;
    text.truncate(cut);
  }
  return text;
}

}  // namespace

RgbaImage drawEmitterText(const std::string& utf8, int width, int height, const EmitterTextStyle& style) {
  makeFontsAvailable();
  const QString text = shownPart(utf8, width);
  QImage canvas(width, height, QImage::Format_ARGB32_Premultiplied);
  canvas.fill(Qt::transparent);
  if (!text.isEmpty()) {
    QFont font(QString::fromStdString(style.family));
    font.setBold(style.bold);
    if (style.pixelSize > 0) {
      font.setPixelSize(std::min(style.pixelSize, 2 * height));
    } else {
      font.setPixelSize(std::max(1, height / 2));
      double textWidth = QFontMetricsF(font).horizontalAdvance(text);
      if (textWidth > width * 0.9) {
        font.setPixelSize(std::max(1, static_cast<int>(font.pixelSize() * width * 0.9 / textWidth)));
      }
    }
    // A box around the anchor, wide and tall enough for any line that fits the layer, that the
    // text is aligned in.
    const QPointF anchor(style.anchorX * width, style.anchorY * height);
    const double boxWidth = 4.0 * width;
    const double left = style.alignment == TextAlignment::left     ? anchor.x()
                        : style.alignment == TextAlignment::centre ? anchor.x() - boxWidth / 2.0
                                                                   : anchor.x() - boxWidth;
    const Qt::Alignment horizontal = style.alignment == TextAlignment::left     ? Qt::AlignLeft
                                     : style.alignment == TextAlignment::centre ? Qt::AlignHCenter
                                                                                : Qt::AlignRight;
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(left, anchor.y() - height, boxWidth, 2.0 * height), horizontal | Qt::AlignVCenter, text);
  }
  RgbaImage image;
  image.width = width;
  image.height = height;
  image.rgba.resize(static_cast<size_t>(width) * height * 4);
  float* out = image.rgba.data();
  for (int y = 0; y < height; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
    for (int x = 0; x < width; ++x) {
      // White premultiplied is the coverage in every channel, computed as reading an 8-bit PNG of
      // straight white computes it, so that a saved copy reads back equal to the bit.
      float coverage = static_cast<float>(qAlpha(line[x])) / 255.0f;
      for (int channel = 0; channel < 4; ++channel) {
        *out++ = coverage;
      }
    }
  }
  return image;
}
