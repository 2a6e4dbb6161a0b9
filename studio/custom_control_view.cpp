#include "studio/custom_control_view.h"

#include <QPainter>

CustomControlView::CustomControlView(HostSession& session, int position, QWidget* parent)
    : QWidget(parent), session_(session), position_(position) {
  const PF_ParamDef& def = session_.params[position_].def;
  setMinimumSize(def.ui_width, def.ui_height);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CustomControlView::setFrame(long frame) {
  if (frame != frame_) {
    frame_ = frame;
    update();
  }
}

QSize CustomControlView::sizeHint() const {
  const PF_ParamDef& def = session_.params[position_].def;
  return QSize(def.ui_width, def.ui_height);
}

void CustomControlView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  try {
    drawCustomControl(session_, painter, PF_Rect{0, 0, width(), height()}, frame_);
  } catch (const std::exception& error) {
    // The panel goes on working without the banner; say why it is missing.
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, QString::fromStdString(error.what()));
  }
}
