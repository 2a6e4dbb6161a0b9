#include "studio/timeline_slider.h"

#include <QPainter>
#include <QStyleOptionSlider>
#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

constexpr int markerRadius = 4;  // pixels from a diamond's centre to its corners
// Room for the markers below the handle, and as much above it so that the handle stays centred.
constexpr int markerBand = 2 * markerRadius + 2;

}  // namespace

std::vector<long> keyedFrames(const HostSession& session, int position) {
  std::vector<long> frames;
  for (size_t track = 0; track < session.tracks.size(); ++track) {
    if (position >= 0 && static_cast<int>(track) != position) {
      continue;
    }
    if (!session.tracks[track].animated) {
      continue;
    }
    // Keys sit on whole frames: their times are frame numbers in ticks of the clock.
    for (const Keyframe& key : session.tracks[track].keys) {
      frames.push_back(std::lround(key.time / session.clock.timeStep));
    }
  }
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  return frames;
}

TimelineSlider::TimelineSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

void TimelineSlider::setMarkedFrames(std::vector<long> frames) {
  if (frames != markedFrames_) {
    markedFrames_ = std::move(frames);
    update();
  }
}

std::vector<long> TimelineSlider::visibleMarkedFrames() const {
  std::vector<long> visible;
  std::copy_if(markedFrames_.begin(), markedFrames_.end(), std::back_inserter(visible),
               [this](long frame) { return frame >= minimum() && frame <= maximum(); });
  return visible;
}

std::optional<long> TimelineSlider::markedFrameAfter(long frame) const {
  std::vector<long> visible = visibleMarkedFrames();
  auto after = std::upper_bound(visible.begin(), visible.end(), frame);
  return after == visible.end() ? std::nullopt : std::optional<long>(*after);
}

std::optional<long> TimelineSlider::markedFrameBefore(long frame) const {
  std::vector<long> visible = visibleMarkedFrames();
  auto notBefore = std::lower_bound(visible.begin(), visible.end(), frame);
  return notBefore == visible.begin() ? std::nullopt : std::optional<long>(*std::prev(notBefore));
}

QPoint TimelineSlider::markerCentre(long frame) const {
  QStyleOptionSlider option;
  initStyleOption(&option);
  option.sliderPosition = static_cast<int>(frame);
  option.sliderValue = static_cast<int>(frame);
  QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
  return QPoint(handle.center().x(), handle.bottom() + 1 + markerBand / 2);
}

QSize TimelineSlider::sizeHint() const { return QSlider::sizeHint() + QSize(0, 2 * markerBand); }

QSize TimelineSlider::minimumSizeHint() const { return QSlider::minimumSizeHint() + QSize(0, 2 * markerBand); }

void TimelineSlider::paintEvent(QPaintEvent* event) {
  QSlider::paintEvent(event);
  QPainter painter(this);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor::fromRgba(markerColour));
  for (long frame : visibleMarkedFrames()) {
    QPoint centre = markerCentre(frame);
    const QPoint diamond[] = {centre + QPoint(0, -markerRadius), centre + QPoint(markerRadius, 0),
                              centre + QPoint(0, markerRadius), centre + QPoint(-markerRadius, 0)};
    painter.drawPolygon(diamond, 4);
  }
}
