// A text emitter: a title drawn white on transparent at the layer's size becomes the Emitter
// Layer. The settings file keeps the text and its style; the Qt hosts draw it (drawing/).
#pragma once

#include <string>

enum class TextAlignment { left, centre, right };

struct EmitterTextStyle {
  std::string family = "DejaVu Sans";
  bool bold = true;
  int pixelSize = 0;  // at the layer's full size; 0: as large as fits in 90 % of the width and half the height
  // Where the text's anchor sits, as fractions of the layer's width and height; the text is
  // vertically centred on it and aligned to it horizontally.
  double anchorX = 0.5;
  double anchorY = 0.5;
  TextAlignment alignment = TextAlignment::centre;

  bool operator==(const EmitterTextStyle&) const = default;
};
