// Flames from a title: the text, drawn white on transparent at the layer's size with Qt's fonts,
// becomes the Emitter Layer. The studio draws it as it is typed; `vortelline render --settings`
// draws it the same way when the image the studio saved beside the file is missing.
#pragma once

#include <string>

#include "authoring/emitter_text_style.h"
#include "session/host_pixels.h"

// Premultiplied like every host layer; one line of UTF-8 text. Empty text gives a transparent
// layer. Draws what the layer can show: the text's first characters, as many as the layer is
// pixels wide, at most twice the layer's height tall. Needs a QGuiApplication (any platform,
// offscreen too); safe on any thread.
RgbaImage drawEmitterText(const std::string& text, int width, int height, const EmitterTextStyle& style = {});
