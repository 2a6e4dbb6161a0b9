// The part of the panel that the effect draws itself (its banner): each paint sends the effect the
// control's draw event, and what it draws through the drawing suites lands on this widget.
#pragma once

#include <QWidget>

#include "drawing/custom_control.h"

class CustomControlView : public QWidget {
  Q_OBJECT

 public:
  CustomControlView(HostSession& session, int position, QWidget* parent = nullptr);

  void setFrame(long frame);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  HostSession& session_;
  int position_;
  long frame_ = 0;
};
