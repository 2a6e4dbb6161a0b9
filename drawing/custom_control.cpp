#include "drawing/custom_control.h"

#include "drawing/drawing_suites.h"

PF_EventOutFlags drawCustomControl(HostSession& session, QPainter& painter, const PF_Rect& controlFrame, long frame) {
  setDrawingSuites(drawingSuite);
  DrawingReference drawing{&painter};
  // Pops what the effect left pushed also when it failed, so the painter is the caller's again.
  struct FinishDrawing {
    DrawingReference& reference;
    ~FinishDrawing() { finishDrawing(reference); }
  } finish{drawing};
  return sendCustomControlDraw(session, drawingContext(drawing), controlFrame, frame);
}
