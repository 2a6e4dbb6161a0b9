#include "studio/studio_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QShortcut>
#include <QUndoStack>
#include <QCloseEvent>
#include <QDockWidget>
#include <QColorDialog>
#include <QActionGroup>
#include <QScrollArea>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <climits>
#include <cstdio>
#include <thread>

#include "hostlib/image_files.h"
#include "hostlib/presets.h"
#include "hostlib/program_errors.h"
#include "hostlib/render_options.h"
#include "studio/effect_panel.h"
#include "studio/preset_browser.h"
#include "studio/preview_view.h"
#include "studio/render_dialog.h"
#include "studio/text_emitter.h"
#include "studio/timeline_slider.h"

namespace {

constexpr long defaultLastFrame = 47;

// Runs read on a thread of its own and hands its result to show on the GUI thread, unless the
// window is gone by then. The thread is detached: opening a FIFO waits for a writer that may never
// come, and neither the window nor quitting should wait for it.
template <typename Result>
void readInBackground(StudioWindow* window, std::function<Result()> read, std::function<void(Result)> show) {
  QPointer<StudioWindow> receiver(window);
  std::thread([read = std::move(read), show = std::move(show), receiver]() mutable {
    Result result = read();
    QMetaObject::invokeMethod(
        qApp,
        [show = std::move(show), receiver, result = std::move(result)]() mutable {
          if (receiver) {
            show(std::move(result));
          }
        },
        Qt::QueuedConnection);
  }).detach();
}

// What a read found, or why it found nothing.
template <typename Value>
struct ReadResult {
  Value value;
  QString error;
};

template <typename Value>
ReadResult<Value> readCatching(const std::function<Value()>& read) {
  try {
    return {read(), QString()};
  } catch (const std::exception& error) {
    return {Value(), QString::fromStdString(error.what())};
  } catch (const Cancelled&) {
    return {Value(), QObject::tr("the read was stopped")};
  }
}

struct OpenedSettings {
  SettingsFile file;
  std::shared_ptr<const RgbaImage> emitter;
};

// Reads a settings file and the emitter image it names; meant for a background thread.
ReadResult<OpenedSettings> readSettingsWithEmitter(const std::string& file) {
  return readCatching<OpenedSettings>([&] {
    OpenedSettings opened{readSettingsFile(file), nullptr};
    if (!opened.file.scene.emitterPath.empty()) {
      opened.emitter = std::make_shared<const RgbaImage>(readImageFile(opened.file.scene.emitterPath));
    }
    return opened;
  });
}

// Merge keys of changes that are one step however often they come in a row: typing a title,
// spinning the last frame. A drag's key is its slider's position plus one more than the largest.
constexpr int emitterTextMergeKey = 0;
constexpr int lastFrameMergeKey = 1;
constexpr int textStyleMergeKey = 2;
constexpr int placementMergeKey = 3;
constexpr int loopLengthMergeKey = 4;
constexpr int firstDragMergeKey = 5;

// One step of the undo history: the state before and after a change. The change itself has
// happened when the step is pushed, so its first redo does nothing.
class StateChange : public QUndoCommand {
 public:
  StateChange(const QString& text, int mergeKey, StudioState before, StudioState after,
              std::function<void(const StudioState&)> restore)
      : QUndoCommand(text),
        mergeKey_(mergeKey),
        before_(std::move(before)),
        after_(std::move(after)),
        restore_(std::move(restore)) {}

  void undo() override { restore_(before_); }
  void redo() override {
    if (!done_) {
      done_ = true;
      return;
    }
    restore_(after_);
  }
  int id() const override { return mergeKey_; }
  bool mergeWith(const QUndoCommand* other) override {
    after_ = static_cast<const StateChange*>(other)->after_;
    return true;
  }

 private:
  int mergeKey_;
  StudioState before_;
  StudioState after_;
  std::function<void(const StudioState&)> restore_;
  bool done_ = false;
};

// The values of a new window and of File > New.
StudioState defaultState(const HostSession& session) {
  const SettingsScene scene;
  StudioState state;
  state.tracks.assign(session.tracks.size(), ParamTrack{});
  state.layerSize = QSize(scene.width, scene.height);
  state.clock = scene.clock;
  state.lastFrame = static_cast<int>(defaultLastFrame);
  return state;
}

}  // namespace

StudioWindow::StudioWindow(std::unique_ptr<HostSession> session, QWidget* parent)
    : QMainWindow(parent), session_(std::move(session)) {
  qRegisterMetaType<PreviewFrame>();
  setWindowTitle(QStringLiteral("vortelline-studio[*]"));
  session_->bitDepth = 8;
  session_->downsample = 1;
  undo_ = new QUndoStack(this);

  panel_ = new EffectPanel(*session_);
  auto* panelScroll = new QScrollArea;
  panelScroll->setWidget(panel_);
  panelScroll->setWidgetResizable(true);
  panelScroll->setMinimumWidth(420);
  auto* helpLine = new QLabel(tr("Point at a control to read what it does."));
  helpLine->setObjectName(QStringLiteral("helpLine"));
  helpLine->setWordWrap(true);
  helpLine->setMinimumHeight(helpLine->fontMetrics().lineSpacing() * 4);
  helpLine->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  helpLine->setMargin(4);
  connect(panel_, &EffectPanel::helpChanged, helpLine, [helpLine, this](const QString& help) {
    helpLine->setText(help.isEmpty() ? tr("Point at a control to read what it does.") : help);
  });
  auto* controls = new QWidget;
  auto* controlsLayout = new QVBoxLayout(controls);
  controlsLayout->setContentsMargins(0, 0, 0, 0);
  controlsLayout->addWidget(panelScroll, 1);
  controlsLayout->addWidget(helpLine);
  view_ = new PreviewView;
  view_->setObjectName(QStringLiteral("preview"));
  renderInfo_ = new QLabel;
  layerInfo_ = new QLabel;
  layerInfo_->setObjectName(QStringLiteral("layerInfo"));
  frameInfo_ = new QLabel;
  frameInfo_->setObjectName(QStringLiteral("frameInfo"));
  zoomInfo_ = new QLabel;
  zoomInfo_->setObjectName(QStringLiteral("zoomInfo"));
  auto* viewer = new QWidget;
  auto* viewerLayout = new QVBoxLayout(viewer);
  viewerLayout->setContentsMargins(0, 0, 0, 0);
  viewerLayout->addWidget(view_, 1);
  viewerLayout->addWidget(buildTimeline());
  auto* splitter = new QSplitter;
  splitter->addWidget(controls);
  splitter->addWidget(viewer);
  splitter->setStretchFactor(1, 1);
  setCentralWidget(splitter);
  statusBar()->addPermanentWidget(renderInfo_);
  statusBar()->addPermanentWidget(frameInfo_);
  statusBar()->addPermanentWidget(layerInfo_);
  statusBar()->addPermanentWidget(zoomInfo_);
  presets_ = new PresetBrowser;
  presets_->setObjectName(QStringLiteral("presets"));
  auto* presetDock = new QDockWidget(tr("Looks"));
  presetDock->setObjectName(QStringLiteral("presetDock"));
  presetDock->setWidget(presets_);
  presetDock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
  addDockWidget(Qt::RightDockWidgetArea, presetDock);
  // Thumbnails are rendered once the browser is first seen, at the layer's shape then.
  connect(presetDock, &QDockWidget::visibilityChanged, this, [this](bool visible) {
    if (visible && presets_->count() == 0) {
      presets_->showFolder(presetFolder(), *session_);
    }
  });
  connect(presets_, &PresetBrowser::presetChosen, this, &StudioWindow::applyPreset);
  buildMenus();
  menuBar()->findChild<QMenu*>(QStringLiteral("viewMenu"))->addAction(presetDock->toggleViewAction());
  resize(1440, 800);

  connect(panel_, &EffectPanel::valueEdited, this, &StudioWindow::editValue);
  connect(panel_, &EffectPanel::keyToggled, this, &StudioWindow::toggleKey);
  connect(panel_, &EffectPanel::resetRequested, this, &StudioWindow::resetControls);
  connect(panel_, &EffectPanel::dragStarted, this, [this] { ++drags_; });
  connect(panel_, &EffectPanel::optionsButtonPressed, this, [this] { showEffectDialog(true); });
  connect(panel_, &EffectPanel::emitterImageChosen, this, &StudioWindow::setEmitterImage);
  connect(panel_, &EffectPanel::emitterTextEdited, this, &StudioWindow::setEmitterText);
  connect(panel_, &EffectPanel::emitterTextStyleEdited, this, &StudioWindow::setEmitterTextStyle);
  connect(panel_, &EffectPanel::emitterPlacementEdited, this, &StudioWindow::setEmitterPlacement);
  connect(panel_, &EffectPanel::selectionChanged, this, &StudioWindow::refreshTimeline);
  connect(&renderer_, &PreviewRenderer::frameReady, this, &StudioWindow::showFrame);
  connect(&renderer_, &PreviewRenderer::renderFailed, this, &StudioWindow::showRenderFailure);
  connect(view_, &PreviewView::zoomChanged, this, &StudioWindow::refreshStatus);
  connect(undo_, &QUndoStack::cleanChanged, this, [this](bool clean) { setWindowModified(!clean); });

  restoreState(defaultState(*session_));
}

// The browser is a child widget, destroyed after the session: its thumbnails stop first.
StudioWindow::~StudioWindow() { presets_->stopThumbnails(); }

void StudioWindow::buildMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(tr("&New"), QKeySequence::New, this, [this] {
    if (setChangesAside(tr("starting anew"))) {
      startAnew();
    }
  });
  file->addAction(tr("&Open Settings..."), QKeySequence::Open, this, [this] {
    if (!setChangesAside(tr("opening other settings"))) {
      return;
    }
    QString path = QFileDialog::getOpenFileName(this, tr("Open Settings"), QString(), tr("Settings (*.json)"));
    if (!path.isEmpty()) {
      connect(
          this, &StudioWindow::settingsOpened, this,
          [this](const QString& error) {
            if (!error.isEmpty()) {
              QMessageBox::warning(this, tr("Open Settings"), error);
            }
          },
          Qt::SingleShotConnection);
      openSettings(path);
    }
  });
  file->addAction(tr("&Save Settings..."), QKeySequence::Save, this, &StudioWindow::saveWithDialog);
  file->addAction(tr("&Render..."), QKeySequence(Qt::CTRL | Qt::Key_R), this, &StudioWindow::showRenderDialog);
  file->addSeparator();
  file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  QAction* undo = undo_->createUndoAction(this, tr("&Undo"));
  undo->setShortcuts(QKeySequence::Undo);
  QAction* redo = undo_->createRedoAction(this, tr("&Redo"));
  redo->setShortcuts(QKeySequence::Redo);
  edit->addAction(undo);
  edit->addAction(redo);
  edit->addSeparator();
  edit->addAction(tr("Reset &All Controls"), this,
                  [this] { resetControls(panel_->groupPositions(-1), tr("all controls")); });

  QMenu* view = menuBar()->addMenu(tr("&View"));
  view->setObjectName(QStringLiteral("viewMenu"));
  view->addAction(tr("&Layer Size..."), this, [this] {
    QSize size = layerSize();
    bool ok = false;
    QString text = QInputDialog::getText(this, tr("Layer Size"), tr("Width x height in pixels:"), QLineEdit::Normal,
                                         QStringLiteral("%1x%2").arg(size.width()).arg(size.height()), &ok);
    if (ok) {
      try {
        FrameSize parsed = parseFrameSize(text.toStdString());
        setLayerSize(QSize(parsed.width, parsed.height));
      } catch (const UsageError& error) {
        QMessageBox::warning(this, tr("Layer Size"), QString::fromStdString(error.what()));
      }
    }
  });
  view->addSeparator();
  view->addAction(tr("Zoom to &Fit"), QKeySequence(Qt::CTRL | Qt::Key_0), view_, &PreviewView::zoomToFit);
  view->addAction(tr("&Actual Pixels (100%)"), QKeySequence(Qt::CTRL | Qt::Key_1), view_,
                  [this] { view_->setZoom(1.0); });
  view->addAction(tr("Zoom &In"), QKeySequence::ZoomIn, view_, [this] { view_->setZoom(view_->zoom() * 2.0); });
  view->addAction(tr("Zoom &Out"), QKeySequence::ZoomOut, view_, [this] { view_->setZoom(view_->zoom() / 2.0); });
  QMenu* background = view->addMenu(tr("&Background"));
  auto* backgrounds = new QActionGroup(this);
  auto addBackground = [&](const QString& name, const std::function<void()>& choose) {
    QAction* action = background->addAction(name, this, choose);
    action->setCheckable(true);
    backgrounds->addAction(action);
    return action;
  };
  addBackground(tr("&Checkerboard"), [this] { view_->setBackground(PreviewBackground::checkerboard); })
      ->setChecked(true);
  addBackground(tr("&Black"), [this] { view_->setBackground(PreviewBackground::black); });
  addBackground(tr("C&olour..."), [this] {
    QColor colour = QColorDialog::getColor(Qt::darkBlue, this, tr("Background Colour"));
    if (colour.isValid()) {
      view_->setBackground(PreviewBackground::colour, colour);
    }
  });
  addBackground(tr("&Image..."), [this] { chooseBackground(); });

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  QAction* about = help->addAction(tr("&About Vortelline"), this, [this] { showEffectDialog(false); });
  about->setObjectName(QStringLiteral("aboutAction"));
  QAction* aboutStudio = help->addAction(tr("About Vortelline &Studio"), this, [this] {
    QMessageBox::about(this, tr("About Vortelline Studio"),
                       tr("<p><b>vortelline-studio %1</b></p><p>The flame effect's panel beside a live preview.</p>"
                          "<p>Effect module: %2<br>Qt %3</p>")
                           .arg(QApplication::applicationVersion(), QString::fromStdString(session_->module.path),
                                QString::fromLatin1(qVersion())));
  });
  aboutStudio->setObjectName(QStringLiteral("aboutStudioAction"));
}

void StudioWindow::chooseBackground() {
  QString path = QFileDialog::getOpenFileName(this, tr("Background Image"), QString(),
                                              tr("Images (*.png *.jpg *.jpeg *.bmp)"));
  QImage picture(path);
  if (!path.isEmpty() && picture.isNull()) {
    showProblem(tr("Cannot read the background image %1").arg(path));
  } else if (!picture.isNull()) {
    view_->setBackground(PreviewBackground::image, QColor(), picture);
  }
}

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

void StudioWindow::refreshStatus() {
  layerInfo_->setText(tr("%1 \u00D7 %2").arg(session_->layerWidth).arg(session_->layerHeight));
  frameInfo_->setText(tr("Frame %1 of 0\u2013%2").arg(frame_).arg(lastFrame_->value()));
  const QString zoom = QStringLiteral("%1%").arg(std::lround(view_->zoom() * 100.0));
  zoomInfo_->setText(view_->fitted() ? tr("Fit (%1)").arg(zoom) : zoom);
}

void StudioWindow::refreshNotice() {
  const int layer = layerParamNamed(*session_, "Emitter Layer");
  const bool layerWanted = layer >= 0 && !isGreyedOut(*session_, layer);
  view_->setNotice(layerWanted && !emitter_
                       ? tr("The Source takes its flames from the Emitter Layer, which is empty: choose an "
                            "image or type a text under Emitter.")
                       : QString());
}

void StudioWindow::limitLastFrame() {
  const QSignalBlocker blocker(lastFrame_);
  lastFrame_->setRange(0, static_cast<int>(std::min<long>(INT_MAX, lastFrameInTimeRange(session_->clock))));
}

QSize StudioWindow::layerSize() const { return QSize(session_->layerWidth, session_->layerHeight); }

bool StudioWindow::playing() const { return play_->isChecked(); }

bool StudioWindow::hasUnsavedChanges() const { return !undo_->isClean(); }

void StudioWindow::runEffectCommand(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& error) {
    statusBar()->showMessage(QString::fromStdString(error.what()));
  }
}

StudioState StudioWindow::state() const {
  // From the session, not the spin box: when the box's value changes, the state before is asked for.
  const int lastFrame = static_cast<int>(session_->totalTime / session_->clock.timeStep - 1);
  return StudioState{session_->tracks, layerSize(), session_->clock, lastFrame, loopFrames_, emitterChoice_};
}

void StudioWindow::restoreState(const StudioState& state) {
  pausePlayback();
  session_->tracks = state.tracks;
  session_->layerWidth = state.layerSize.width();
  session_->layerHeight = state.layerSize.height();
  session_->clock = state.clock;
  limitLastFrame();
  {
    const QSignalBlocker blocker(lastFrame_);
    lastFrame_->setValue(state.lastFrame);
  }
  setLastFrame(*session_, lastFrame_->value());
  loopFrames_ = state.loopLength;
  {
    const QSignalBlocker blocker(loopLength_);
    loopLength_->setValue(static_cast<int>(loopFrames_));
  }
  frameRate_->setText(QString::fromStdString(frameRateText(session_->clock)));
  if (play_->isChecked()) {
    playTimer_->setInterval(static_cast<int>(1000.0 * session_->clock.timeStep / session_->clock.timeScale));
  }
  emitterChoice_ = state.emitter;
  refreshEmitter();
  frame_ = std::min<long>(frame_, lastFrame_->value());
  runEffectCommand([&] { updateParamsUi(*session_, frame_); });
  valuesChanged();
}

void StudioWindow::refreshEmitter() {
  const EmitterChoice& choice = emitterChoice_;
  const bool file = choice.image && choice.text.isEmpty();
  if (file && !leavesImageAsItIs(choice.placement)) {
    emitter_ = std::make_shared<const RgbaImage>(
        placeEmitterImage(*choice.image, session_->layerWidth, session_->layerHeight, choice.placement));
  } else {
    emitter_ = choice.image;
  }
  const QString description = !choice.text.isEmpty() ? tr("Text")
                              : file                  ? QFileInfo(choice.path).fileName()
                                                      : tr("This layer");
  panel_->showEmitter(description, choice.text, choice.textStyle, choice.placement, file);
}

void StudioWindow::redrawEmitterText() {
  emitterChoice_.image = std::make_shared<const RgbaImage>(
      drawEmitterText(emitterChoice_.text, session_->layerWidth, session_->layerHeight, emitterChoice_.textStyle));
}

void StudioWindow::changeState(const QString& text, int mergeKey, const std::function<void()>& change) {
  // Playback moves the frame that an edit keys: the edit is for the frame on show.
  pausePlayback();
  StudioState before = state();
  change();
  undo_->push(new StateChange(text, mergeKey, std::move(before), state(),
                              [this](const StudioState& state) { restoreState(state); }));
  valuesChanged();
}

void StudioWindow::editValue(int position, double value) {
  const QString name = QString::fromStdString(qualifiedName(session_->params, position));
  const int mergeKey = panel_->dragging() ? firstDragMergeKey + drags_ * static_cast<int>(session_->params.size()) + position : -1;
  changeState(tr("Change %1").arg(name), mergeKey, [&] {
    setParamValue(*session_, position, frame_, value);
    // As a compositing host does: the effect hears of each change to a control it supervises.
    if (isSupervised(*session_, position)) {
      runEffectCommand([&] { userChangedParam(*session_, position, frame_); });
    }
  });
}

void StudioWindow::toggleKey(int position) {
  const QString name = QString::fromStdString(qualifiedName(session_->params, position));
  changeState(tr("Keyframe %1 at %2").arg(name).arg(frame_), -1, [&] { toggleKeyframe(*session_, position, frame_); });
}

void StudioWindow::resetControls(const std::vector<int>& positions, const QString& what) {
  changeState(tr("Reset %1").arg(what), -1, [&] {
    for (int position : positions) {
      session_->tracks[position] = ParamTrack{};
    }
    runEffectCommand([&] { updateParamsUi(*session_, frame_); });
  });
}

void StudioWindow::valuesChanged() {
  ++generation_;
  cache_.clear();
  // A message about the values before is stale now; if it still holds, it comes again.
  if (!problem_.isEmpty() && statusBar()->currentMessage() == problem_) {
    statusBar()->clearMessage();
  }
  problem_.clear();
  refreshTimeline();
  panel_->refresh(frame_);
  refreshNotice();
  refreshStatus();
  requestPreview();
}

void StudioWindow::showProblem(const QString& message) {
  problem_ = message;
  statusBar()->showMessage(message);
}

void StudioWindow::pausePlayback() { play_->setChecked(false); }

void StudioWindow::stepFrame(long step) {
  pausePlayback();
  setFrame(std::clamp<long>(frame_ + step, 0, lastFrame_->value()));
}

void StudioWindow::setFrame(long frame) {
  if (frame == frame_) {
    return;
  }
  frame_ = frame;
  refreshTimeline();
  refreshStatus();
  // A keyframed hue moves its dial: the effect redraws its controls for the new time.
  runEffectCommand([&] { updateParamsUi(*session_, frame_); });
  panel_->refresh(frame_);
  auto cached = cache_.find(frame_);
  if (cached != cache_.end()) {
    view_->showImage(*cached, layerSize());
    renderInfo_->setText(tr("cached"));
    return;
  }
  requestPreview();
}

void StudioWindow::requestPreview() {
  PreviewRequest request;
  request.session = std::make_shared<const HostSession>(*session_);
  request.emitter = emitter_;
  request.frame = frame_;
  request.loop = loop();
  request.generation = generation_;
  // While playing only finished frames are shown: the coarse pass would only slow the loop.
  if (play_->isChecked()) {
    request.downsamples = {1};
  }
  renderer_.render(std::move(request));
}

void StudioWindow::showRenderFailure(const QString& message, quint64 generation) {
  if (generation != generation_) {
    return;
  }
  showProblem(message);
  if (!screenshotPath_.isEmpty()) {
    std::fprintf(stderr, "vortelline-studio: %s\n", qPrintable(message));
    screenshotPath_.clear();
    QApplication::exit(1);
  }
}

void StudioWindow::showFrame(const PreviewFrame& frame) {
  if (frame.generation != generation_) {
    return;
  }
  if (frame.downsample == 1) {
    cache_.insert(frame.frame, frame.image);
  }
  if (frame.frame != frame_) {
    return;
  }
  view_->showImage(frame.image, layerSize());
  renderInfo_->setText(frame.downsample == 1
                           ? tr("%1 s").arg(frame.seconds, 0, 'f', 3)
                           : tr("1/%1: %2 s").arg(frame.downsample).arg(frame.seconds, 0, 'f', 3));
  if (frame.downsample != 1) {
    return;
  }
  finishedImage_ = frame.image;
  finishedGeneration_ = frame.generation;
  emit previewFinished(frame.generation, frame.frame);
  if (!screenshotPath_.isEmpty()) {
    QString path = screenshotPath_;
    screenshotPath_.clear();
    saveScreenshot(path);
  }}

void StudioWindow::saveScreenshot(const QString& path) {
  // The looks' thumbnails belong in the picture too; after this event, so that the view has
  // painted the frame.
  QTimer::singleShot(presets_->thumbnailsDone() ? 0 : 50, this, [this, path] {
    if (!presets_->thumbnailsDone()) {
      saveScreenshot(path);
      return;
    }
    bool saved = grab().save(path);
    if (!saved) {
      std::fprintf(stderr, "vortelline-studio: cannot write the screenshot %s\n", qPrintable(path));
    }
    QApplication::exit(saved ? 0 : 1);
  });
}

void StudioWindow::playTick() {
  // The next frame only once this one is finished, so that every frame is seen at least once.
  if (!cache_.contains(frame_)) {
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

void StudioWindow::setLayerSize(QSize size) {
  if (size == layerSize()) {
    return;
  }
  changeState(tr("Layer size %1 \u00D7 %2").arg(size.width()).arg(size.height()), -1, [&] {
    session_->layerWidth = size.width();
    session_->layerHeight = size.height();
    if (!emitterChoice_.text.isEmpty()) {
      redrawEmitterText();
    }
    refreshEmitter();
  });
}

void StudioWindow::setEmitterImage(const QString& path) {
  if (path.isEmpty()) {
    if (emitterChoice_.image) {
      changeState(tr("No emitter"), -1, [&] {
        emitterChoice_ = EmitterChoice{};
        refreshEmitter();
      });
    }
    return;
  }
  statusBar()->showMessage(tr("Reading %1...").arg(path));
  const quint64 read = ++emitterReads_;
  using Read = ReadResult<std::shared_ptr<const RgbaImage>>;
  readInBackground<Read>(
      this,
      [file = path.toStdString()] {
        return readCatching<std::shared_ptr<const RgbaImage>>(
            [&] { return std::make_shared<const RgbaImage>(readImageFile(file)); });
      },
      [this, path, read](Read result) {
        if (read != emitterReads_) {
          return;
        }
        statusBar()->clearMessage();
        if (!result.error.isEmpty()) {
          showProblem(result.error);
          emit emitterRead(result.error);
          return;
        }
        changeState(tr("Emitter %1").arg(QFileInfo(path).fileName()), -1, [&] {
          emitterChoice_ = EmitterChoice{result.value, QFileInfo(path).absoluteFilePath(),
                                         emitterChoice_.placement, QString(), emitterChoice_.textStyle};
          refreshEmitter();
        });
        emit emitterRead(QString());
      });
}

void StudioWindow::setEmitterText(const QString& text) {
  if (text == emitterChoice_.text) {
    return;
  }
  if (text.isEmpty()) {
    setEmitterImage(QString());
    return;
  }
  changeState(tr("Emitter text"), emitterTextMergeKey, [&] {
    emitterChoice_.text = text;
    emitterChoice_.path.clear();
    redrawEmitterText();
    refreshEmitter();
  });
}

void StudioWindow::setEmitterTextStyle(const EmitterTextStyle& style) {
  if (style == emitterChoice_.textStyle) {
    return;
  }
  changeState(tr("Text style"), textStyleMergeKey, [&] {
    emitterChoice_.textStyle = style;
    if (!emitterChoice_.text.isEmpty()) {
      redrawEmitterText();
    }
    refreshEmitter();
  });
}

void StudioWindow::applyPreset(const QString& path) {
  const quint64 read = ++presetReads_;
  using Read = ReadResult<OpenedSettings>;
  readInBackground<Read>(
      this,
      [file = path.toStdString()] { return readSettingsWithEmitter(file); },
      [this, path, read](Read result) {
        if (read != presetReads_) {
          return;
        }
        HostSession applied = *session_;
        std::vector<int> positions;
        if (result.error.isEmpty()) {
          try {
            applied.tracks.assign(applied.tracks.size(), ParamTrack{});
            positions = applyAssignments(applied, result.value.file.assignments, path.toStdString());
          } catch (const std::exception& error) {
            result.error = QString::fromStdString(error.what());
          }
        }
        if (!result.error.isEmpty()) {
          showProblem(result.error);
          emit presetApplied(result.error);
          return;
        }
        changeState(tr("Look %1").arg(QFileInfo(path).completeBaseName()), -1, [&] {
          session_->tracks = applied.tracks;
          runEffectCommand([&] {
            for (int position : positions) {
              if (isSupervised(*session_, position)) {
                userChangedParam(*session_, position, frame_);
              }
            }
            updateParamsUi(*session_, frame_);
          });
          const SettingsScene& scene = result.value.file.scene;
          if (result.value.emitter) {
            emitterChoice_ = EmitterChoice{result.value.emitter, QString::fromStdString(scene.emitterPath),
                                           scene.emitterPlacement, QString(), emitterChoice_.textStyle};
            refreshEmitter();
          }
        });
        emit presetApplied(QString());
      });
}

void StudioWindow::setEmitterPlacement(const EmitterPlacement& placement) {
  changeState(tr("Emitter placement"), placementMergeKey, [&] {
    emitterChoice_.placement = placement;
    refreshEmitter();
  });
}

QString StudioWindow::saveSettings(const QString& path) {
  SettingsScene scene;
  scene.width = session_->layerWidth;
  scene.height = session_->layerHeight;
  scene.clock = session_->clock;
  scene.frame = frame_;
  scene.emitterPath = emitterChoice_.path.toStdString();
  scene.emitterText = emitterChoice_.text.toStdString();
  scene.emitterPlacement = emitterChoice_.placement;
  try {
    if (!emitterChoice_.text.isEmpty()) {
      scene.emitterPlacement = EmitterPlacement{};
      // A renderer without fonts reads the drawn text as an image beside the settings.
      QFileInfo info(path);
      QString imageName = info.completeBaseName() + QStringLiteral(".emitter.png");
      writeImageFile(info.dir().filePath(imageName).toStdString(), hostWorldFromImage(*emitter_, 8).world, 8);
      scene.emitterPath = imageName.toStdString();
    }
    writeSettingsFile(path.toStdString(), *session_, scene);
  } catch (const std::exception& error) {
    return QString::fromStdString(error.what());
  }
  undo_->setClean();
  setWindowFilePath(path);
  statusBar()->showMessage(tr("Saved %1").arg(path), 5000);
  return QString();
}

bool StudioWindow::saveWithDialog() {
  QString path = QFileDialog::getSaveFileName(this, tr("Save Settings"), QStringLiteral("flames.vortelline.json"),
                                              tr("Settings (*.json)"));
  if (path.isEmpty()) {
    return false;
  }
  QString error = saveSettings(path);
  if (!error.isEmpty()) {
    QMessageBox::warning(this, tr("Save Settings"), error);
    return false;
  }
  return true;
}

bool StudioWindow::setChangesAside(const QString& action) {
  if (undo_->isClean()) {
    return true;
  }
  QMessageBox question(QMessageBox::Warning, tr("Unsaved Changes"),
                       tr("The settings have changes that are not saved. Save them before %1?").arg(action),
                       QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  question.setObjectName(QStringLiteral("unsavedChanges"));
  question.setDefaultButton(QMessageBox::Save);
  switch (question.exec()) {
    case QMessageBox::Save:
      return saveWithDialog();
    case QMessageBox::Discard:
      return true;
    default:
      return false;
  }
}

void StudioWindow::closeEvent(QCloseEvent* event) {
  if (setChangesAside(tr("quitting"))) {
    event->accept();
  } else {
    event->ignore();
  }
}

void StudioWindow::startAnew() {
  restoreState(defaultState(*session_));
  setFrame(0);
  undo_->clear();
  setWindowFilePath(QString());
}

void StudioWindow::openSettings(const QString& path) {
  statusBar()->showMessage(tr("Reading %1...").arg(path));
  const quint64 read = ++settingsReads_;
  using Read = ReadResult<OpenedSettings>;
  readInBackground<Read>(
      this,
      [file = path.toStdString()] { return readSettingsWithEmitter(file); },
      [this, path, read](Read result) {
        if (read != settingsReads_) {
          return;
        }
        statusBar()->clearMessage();
        if (result.error.isEmpty()) {
          showOpenedSettings(path, std::move(result.value.file), std::move(result.value.emitter));
        } else {
          emit settingsOpened(result.error);
        }
      });
}

void StudioWindow::showOpenedSettings(const QString& path, SettingsFile file,
                                      std::shared_ptr<const RgbaImage> emitter) {
  // Every control starts from its declared value; the file sets the rest. Nothing changes when
  // the file cannot be used.
  HostSession opened = *session_;
  std::vector<int> positions;
  try {
    opened.tracks.assign(opened.tracks.size(), ParamTrack{});
    opened.clock = file.scene.clock;
    positions = applyAssignments(opened, file.assignments, path.toStdString());
  } catch (const std::exception& error) {
    emit settingsOpened(QString::fromStdString(error.what()));
    return;
  }
  // A text comes with the image it was drawn as; the image is used as it is.
  const QString text = QString::fromStdString(file.scene.emitterText);
  StudioState state{opened.tracks,
                    QSize(file.scene.width, file.scene.height),
                    file.scene.clock,
                    static_cast<int>(std::max<long>(defaultLastFrame, file.scene.frame)),
                    0,
                    {emitter, text.isEmpty() ? QString::fromStdString(file.scene.emitterPath) : QString(),
                     file.scene.emitterPlacement, text, EmitterTextStyle{}}};
  frame_ = file.scene.frame;
  restoreState(state);
  runEffectCommand([&] {
    for (int position : positions) {
      if (isSupervised(*session_, position)) {
        userChangedParam(*session_, position, frame_);
      }
    }
    updateParamsUi(*session_, frame_);
  });
  valuesChanged();
  undo_->clear();
  setWindowFilePath(path);
  emit settingsOpened(QString());
}

void StudioWindow::showEffectDialog(bool optionsButton) {
  std::string text;
  try {
    text = optionsButton ? optionsDialogText(*session_) : aboutText(*session_);
  } catch (const std::exception& error) {
    QMessageBox::warning(this, tr("About"), QString::fromStdString(error.what()));
    return;
  }
  // An effect that showed its own dialog hands back no text.
  if (!text.empty()) {
    QMessageBox::about(this, tr("About %1").arg(QString::fromStdString(session_->module.registration.name)),
                       QString::fromStdString(text));
  }
}

void StudioWindow::showRenderDialog() {
  RenderDialog dialog(*session_, emitter_, lastFrame_->value(), loop(), this);
  dialog.exec();
}

void StudioWindow::takeScreenshotWhenReady(const QString& path) { screenshotPath_ = path; }

void startFromCommandLine(StudioWindow& window, const QString& settingsPath, const QString& screenshotPath) {
  if (settingsPath.isEmpty()) {
    if (!screenshotPath.isEmpty()) {
      window.takeScreenshotWhenReady(screenshotPath);
    }
    return;
  }
  QObject::connect(
      &window, &StudioWindow::settingsOpened, &window,
      [&window, screenshotPath](const QString& error) {
        if (!error.isEmpty()) {
          std::fprintf(stderr, "vortelline-studio: %s\n", qPrintable(error));
          if (screenshotPath.isEmpty()) {
            // Started from a file manager, nobody reads stderr: say it where the user looks, and
            // keep the studio open on its defaults, as the Open menu does.
            auto* message = new QMessageBox(QMessageBox::Warning, QObject::tr("Open Settings"), error,
                                            QMessageBox::Ok, &window);
            message->setAttribute(Qt::WA_DeleteOnClose);
            message->open();
          } else {
            QApplication::exit(1);
          }
        } else if (!screenshotPath.isEmpty()) {
          window.takeScreenshotWhenReady(screenshotPath);
        }
      },
      Qt::SingleShotConnection);
  window.openSettings(settingsPath);
}
