// The studio window's timeline: the frame on show, playback, the frame rate, the last frame and
// the seamless loop.
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "authoring/render_options.h"
#include "session/program_errors.h"
#include "studio/effect_panel.h"
#include "studio/studio_window.h"
#include "studio/timeline_slider.h"

QWidget* StudioWindow::buildTimeline() {
  auto* timeline = new QWidget;
  auto* layout = new QVBoxLayout(timeline);
  play_ = new QToolButton;
  play_->setText(tr("Play"));
  play_->setCheckable(true);
  play_->setObjectName(QStringLiteral("play"));
  play_->setToolTip(tr("Play or pause (Space); Left and Right step a frame, Home and End jump to the ends"));
  loop_ = new QCheckBox(tr("Repeat"));
  loop_->setToolTip(tr("Playback starts again after the last frame"));
  loop_->setChecked(true);
  frameSlider_ = new TimelineSlider;
  frameSlider_->setObjectName(QStringLiteral("timeline"));
  frameSlider_->setFocusPolicy(Qt::StrongFocus);
  previousKey_ = new QToolButton;
  previousKey_->setText(QStringLiteral("\u25C0\u25C6"));
  previousKey_->setObjectName(QStringLiteral("previousKey"));
  previousKey_->setShortcut(Qt::Key_J);
  previousKey_->setToolTip(tr("Previous keyframe (J)"));
  nextKey_ = new QToolButton;
  nextKey_->setText(QStringLiteral("\u25C6\u25B6"));
  nextKey_->setObjectName(QStringLiteral("nextKey"));
  nextKey_->setShortcut(Qt::Key_K);
  nextKey_->setToolTip(tr("Next keyframe (K)"));
  frameNumber_ = new QSpinBox;
  frameNumber_->setMaximumWidth(80);
  lastFrame_ = new QSpinBox;
  lastFrame_->setPrefix(tr("last "));
  lastFrame_->setObjectName(QStringLiteral("lastFrame"));
  lastFrame_->setMaximumWidth(100);
  loopLength_ = new QSpinBox;
  loopLength_->setObjectName(QStringLiteral("loopLength"));
  loopLength_->setRange(0, 99999);
  loopLength_->setSpecialValueText(tr("no loop"));
  loopLength_->setPrefix(tr("loop "));
  loopLength_->setKeyboardTracking(false);
  loopLength_->setMaximumWidth(100);
  loopLength_->setToolTip(tr("A seamless loop of this many frames from frame 0: its last second cross-fades into "
                             "the frames one loop earlier, so that its last frame runs into frame 0. Those frames "
                             "render twice."));
  frameRate_ = new QLineEdit;
  frameRate_->setMaximumWidth(70);
  frameRate_->setObjectName(QStringLiteral("frameRate"));
  playTimer_ = new QTimer(this);
  // The frame slider spans the preview's width; the transport and the clip's length below it.
  auto* slider = new QHBoxLayout;
  slider->addWidget(previousKey_);
  slider->addWidget(frameSlider_, 1);
  slider->addWidget(nextKey_);
  auto* transport = new QHBoxLayout;
  transport->addWidget(play_);
  transport->addWidget(loop_);
  transport->addStretch(1);
  transport->addWidget(new QLabel(tr("Frame")));
  transport->addWidget(frameNumber_);
  transport->addWidget(lastFrame_);
  transport->addWidget(loopLength_);
  transport->addWidget(new QLabel(tr("fps")));
  transport->addWidget(frameRate_);
  layout->addLayout(slider);
  layout->addLayout(transport);

  connect(frameSlider_, &QSlider::valueChanged, this, [this](int frame) { setFrame(frame); });
  connect(frameSlider_, &QSlider::sliderReleased, this, &StudioWindow::refineFrame);
  connect(frameNumber_, &QSpinBox::valueChanged, this, [this](int frame) { setFrame(frame); });
  connect(previousKey_, &QToolButton::clicked, this, [this] {
    if (std::optional<long> key = frameSlider_->markedFrameBefore(frame_)) {
      setFrame(*key);
    }
  });
  connect(nextKey_, &QToolButton::clicked, this, [this] {
    if (std::optional<long> key = frameSlider_->markedFrameAfter(frame_)) {
      setFrame(*key);
    }
  });
  connect(lastFrame_, &QSpinBox::valueChanged, this, &StudioWindow::setLastFrameShown);
  connect(loopLength_, &QSpinBox::valueChanged, this, &StudioWindow::setLoopLength);
  connect(frameRate_, &QLineEdit::editingFinished, this, [this] { setFrameRate(frameRate_->text()); });
  connect(play_, &QToolButton::toggled, this, [this](bool playing) {
    play_->setText(playing ? tr("Pause") : tr("Play"));
    if (playing) {
      playTimer_->start(static_cast<int>(1000.0 * session_->clock.timeStep / session_->clock.timeScale));
    } else {
      playTimer_->stop();
      refineFrame();
    }
  });
  connect(playTimer_, &QTimer::timeout, this, &StudioWindow::playTick);

  // Transport keys work anywhere in the window except where typing takes them (a text or
  // number field claims Space, the arrows, Home and End for itself).
  auto addKey = [this](QKeySequence key, const std::function<void()>& action) {
    connect(new QShortcut(key, this), &QShortcut::activated, this, action);
  };
  addKey(Qt::Key_Space, [this] { play_->toggle(); });
  addKey(Qt::Key_Right, [this] { stepFrame(1); });
  addKey(Qt::Key_Left, [this] { stepFrame(-1); });
  addKey(Qt::Key_Home, [this] {
    pausePlayback();
    setFrame(0);
  });
  addKey(Qt::Key_End, [this] {
    pausePlayback();
    setFrame(lastFrame_->value());
  });
  return timeline;
}

void StudioWindow::refreshTimeline() {
  const QSignalBlocker sliderBlocker(frameSlider_);
  const QSignalBlocker numberBlocker(frameNumber_);
  frameSlider_->setRange(0, lastFrame_->value());
  frameNumber_->setRange(0, lastFrame_->value());
  frameSlider_->setValue(static_cast<int>(frame_));
  frameNumber_->setValue(static_cast<int>(frame_));
  frameSlider_->setMarkedFrames(keyedFrames(*session_, panel_->selectedKeys()));
  previousKey_->setEnabled(frameSlider_->markedFrameBefore(frame_).has_value());
  nextKey_->setEnabled(frameSlider_->markedFrameAfter(frame_).has_value());
}

void StudioWindow::limitLastFrame() {
  const QSignalBlocker blocker(lastFrame_);
  lastFrame_->setRange(0, static_cast<int>(std::min<long>(INT_MAX, lastFrameInTimeRange(session_->clock))));
}

bool StudioWindow::playing() const { return play_->isChecked(); }

bool StudioWindow::drafting() const { return play_->isChecked() || frameSlider_->isSliderDown(); }

void StudioWindow::refineFrame() {
  if (!drafting() && !cache_.contains(frame_)) {
    requestPreview();
  }
}

void StudioWindow::pausePlayback() { play_->setChecked(false); }

void StudioWindow::stepFrame(long step) {
  pausePlayback();
  setFrame(std::clamp<long>(frame_ + step, 0, lastFrame_->value()));
}

void StudioWindow::playTick() {
  // The next frame only once this one is shown, so that every frame is seen at least once.
  if (!cache_.contains(frame_) && !drafts_.contains(frame_)) {
    return;
  }
  long next = frame_ + 1;
  if (next > lastFrame_->value()) {
    if (!loop_->isChecked()) {
      play_->setChecked(false);
      return;
    }
    next = 0;
  }
  setFrame(next);
}

void StudioWindow::setFrameRate(const QString& text) {
  PF_RationalScale rate;
  try {
    rate = parseRate(text.toStdString(), "The frame rate", "24, 23.976 or 30000/1001");
  } catch (const UsageError& error) {
    showProblem(QString::fromStdString(error.what()));
    frameRate_->setText(QString::fromStdString(frameRateText(session_->clock)));
    return;
  }
  const FrameClock clock{static_cast<A_u_long>(rate.num), static_cast<A_long>(rate.den)};
  if (clock.timeScale == session_->clock.timeScale && clock.timeStep == session_->clock.timeStep) {
    return;
  }
  changeState(tr("Frame rate %1").arg(text), -1, [&] {
    // Keys stay on their frames.
    for (ParamTrack& track : session_->tracks) {
      for (Keyframe& key : track.keys) {
        key.time = key.time / session_->clock.timeStep * clock.timeStep;
      }
    }
    session_->clock = clock;
    limitLastFrame();
    setLastFrame(*session_, lastFrame_->value());
    frame_ = std::min<long>(frame_, lastFrame_->value());
    if (play_->isChecked()) {
      playTimer_->setInterval(static_cast<int>(1000.0 * clock.timeStep / clock.timeScale));
    }
  });
}

void StudioWindow::setLastFrameShown(int last) {
  changeState(tr("Last frame %1").arg(last), lastFrameMergeKey, [&] {
    setLastFrame(*session_, last);
    frame_ = std::min<long>(frame_, last);
  });
}

void StudioWindow::setLoopLength(int length) {
  changeState(length > 0 ? tr("Loop of %1 frames").arg(length) : tr("No loop"), loopLengthMergeKey, [&] {
    loopFrames_ = length;
    // The loop is the clip: playback runs through it and starts again.
    if (length > 0) {
      limitLastFrame();
      const QSignalBlocker blocker(lastFrame_);
      lastFrame_->setValue(length - 1);
      setLastFrame(*session_, lastFrame_->value());
      frame_ = std::min<long>(frame_, lastFrame_->value());
    }
  });
}

LoopSettings StudioWindow::loop() const {
  if (loopFrames_ < 2) {
    return LoopSettings{};
  }
  return LoopSettings{loopFrames_, defaultLoopFade(loopFrames_, session_->clock)};
}
