// Flames from a title: the text drawn white on transparent at the layer's size becomes the
// Emitter Layer.
#pragma once

#include <QString>

#include "session/host_pixels.h"

enum class TextAlignment { left, centre, right };

struct EmitterTextStyle {
  QString family = QStringLiteral("DejaVu Sans");
  bool bold = true;
  int pixelSize = 0;  // at the layer's full size; 0: as large as fits in 90 % of the width and half the height
  // Where the text's anchor sits, as fractions of the layer's width and height; the text is
  // vertically centred on it and aligned to it horizontally.
  double anchorX = 0.5;
  double anchorY = 0.5;
  TextAlignment alignment = TextAlignment::centre;

  bool operator==(const EmitterTextStyle&) const = default;
};

// Premultiplied like every host layer; one line. Empty text gives a transparent layer.
RgbaImage drawEmitterText(const QString& text, int width, int height, const EmitterTextStyle& style = {});
