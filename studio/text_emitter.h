// Flames from a title: the text drawn white on transparent at the layer's size becomes the
// Emitter Layer.
#pragma once

#include <QString>

#include "hostlib/host_pixels.h"

// Premultiplied like every host layer; one line, centred, as large as fits in 90 % of the width
// and half the height. Empty text gives a transparent layer.
RgbaImage drawEmitterText(const QString& text, int width, int height);
