// The timeline's frame slider, with a marker under each frame that holds a keyframe, and the
// frames those markers come from.
#pragma once

#include <QColor>
#include <QSlider>
#include <optional>
#include <vector>

#include "session/host_session.h"

// The frames holding a key of the control at position, or of any control when position is -1;
// sorted, each once. Only animated tracks have keyframes: a constant is kept as a track's one
// key but is none.
std::vector<long> keyedFrames(const HostSession& session, int position);

class TimelineSlider : public QSlider {
  Q_OBJECT

 public:
  static constexpr QRgb markerColour = 0xFFF0A020;

  explicit TimelineSlider(QWidget* parent = nullptr);

  // Frames outside the slider's range are kept but neither drawn nor reached.
  void setMarkedFrames(std::vector<long> frames);
  // The marked frames within the slider's range.
  std::vector<long> visibleMarkedFrames() const;
  std::optional<long> markedFrameAfter(long frame) const;
  std::optional<long> markedFrameBefore(long frame) const;
  // A marker's centre: where the middle of the handle is when the slider shows the frame.
  QPoint markerCentre(long frame) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<long> markedFrames_;
};
