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

// The style for drawing the text into a layer of another size than the one it was set in: a
// pixel size scales with the layer (by the smaller of the two sides' ratios, from 1 pixel to the largest layer's side),
// so that the text covers the same part of the layer, as a fitted one does.
EmitterTextStyle emitterTextStyleForLayer(const EmitterTextStyle& style, int fromWidth, int fromHeight, int toWidth,
                                          int toHeight);
