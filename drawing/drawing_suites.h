// The host's drawing suites over QPainter: what an effect draws in its custom control through the
// DRAWBOT suites lands on whatever the painter paints on (a QImage, a widget).
#pragma once

#include <QPainter>

#include "sdk/custom_ui_sdk.h"
#include "session/host_pixels.h"

// What PF_GetDrawingReference hands out for one event's context. The draw reference, supplier and
// surface that the effect gets are all this record.
struct DrawingReference {
  QPainter* painter = nullptr;  // none: the context cannot be drawn on, the reference is empty
  int pushedStates = 0;         // PushStateStack calls not yet popped
};

// The context handle of an event whose drawing goes to this reference.
PF_ContextH drawingContext(DrawingReference& reference);

// Pops what the effect pushed and did not pop, so the painter leaves the event as it entered.
void finishDrawing(DrawingReference& reference);

// The table of "PF Effect Custom UI Suite" 2 or one of the three DRAWBOT suites, or null for any
// other name and version.
const void* drawingSuite(const char* name, A_long version);

// What a painter drew on an image, as an 8-bit host world (alpha, red, green, blue, premultiplied).
HostWorld hostWorldFromQImage(const QImage& image);

// Images created by NewImageFromBuffer and not yet released, across all references.
int unreleasedDrawingImages();
