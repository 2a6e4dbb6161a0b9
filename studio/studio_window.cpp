#include "studio/studio_window.h"

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <QUndoStack>
#include <QVBoxLayout>
#include <cstdio>

#include "authoring/presets.h"
#include "authoring/render_options.h"
#include "media/image_files.h"
#include "session/program_errors.h"
#include "studio/background_read.h"
#include "studio/effect_panel.h"
#include "studio/finishing_panel.h"
#include "studio/preset_browser.h"
#include "studio/preview_view.h"
#include "studio/render_dialog.h"
#include "drawing/emitter_text.h"
#include "studio/timeline_slider.h"

namespace {

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

}  // namespace

StudioState defaultStudioState(const HostSession& session) {
  const SettingsScene scene;
  StudioState state;
  state.tracks.assign(session.tracks.size(), ParamTrack{});
  state.layerSize = QSize(scene.width, scene.height);
  state.clock = scene.clock;
  state.lastFrame = static_cast<int>(defaultLastFrame);
  return state;
}

StudioWindow::StudioWindow(std::unique_ptr<HostSession> session, QWidget* parent)
    : QMainWindow(parent), session_(std::move(session)) {
  qRegisterMetaType<PreviewFrame>();
  session_->bitDepth = 8;
  session_->downsample = 1;
  undo_ = new QUndoStack(this);

  panel_ = new EffectPanel(*session_);
  finishingPanel_ = new FinishingPanel;
  // The effect's controls, then the host's finishing of its frames, in one scrolled column.
  auto* panels = new QWidget;
  auto* panelsLayout = new QVBoxLayout(panels);
  panelsLayout->setContentsMargins(0, 0, 0, 0);
  panelsLayout->addWidget(panel_);
  panelsLayout->addWidget(finishingPanel_);
  panelsLayout->addStretch(1);
  panelScroll_ = new QScrollArea;
  panelScroll_->setWidget(panels);
  panelScroll_->setWidgetResizable(true);
  // Never narrower than the widest row shown, so that no row hides its key button behind a
  // horizontal scroll bar.
  panelScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  panel_->installEventFilter(this);
  auto* helpLine = new QLabel(tr("Point at a control to read what it does."));
  helpLine->setObjectName(QStringLiteral("helpLine"));
  helpLine->setWordWrap(true);
  helpLine->setMinimumHeight(helpLine->fontMetrics().lineSpacing() * 4);
  helpLine->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  helpLine->setMargin(4);
  connect(panel_, &EffectPanel::helpChanged, helpLine, [helpLine, this](const QString& help) {
    helpLine->setText(help.isEmpty() ? tr("Point at a control to read what it does.") : help);
  });
  connect(finishingPanel_, &FinishingPanel::helpChanged, helpLine, &QLabel::setText);
  auto* controls = new QWidget;
  auto* controlsLayout = new QVBoxLayout(controls);
  controlsLayout->setContentsMargins(0, 0, 0, 0);
  controlsLayout->addWidget(panelScroll_, 1);
  controlsLayout->addWidget(helpLine);
  view_ = new PreviewView;
  view_->setObjectName(QStringLiteral("preview"));
  renderInfo_ = new QLabel;
  renderInfo_->setObjectName(QStringLiteral("renderInfo"));
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
  auto* saveLookButton = new QPushButton(tr("Save Look..."));
  saveLookButton->setObjectName(QStringLiteral("saveLook"));
  saveLookButton->setToolTip(
      tr("Keeps the controls and the emitter as a look of your own, in %1").arg(userLookFolder()));
  connect(saveLookButton, &QPushButton::clicked, this, [this] {
    bool ok = false;
    QString name = QInputDialog::getText(this, tr("Save Look"), tr("Name of the look:"), QLineEdit::Normal,
                                         QString(), &ok);
    if (!ok) {
      return;
    }
    const QFileInfo existing(QDir(userLookFolder()).filePath(name.trimmed() + QStringLiteral(".json")));
    if (!name.trimmed().isEmpty() && existing.exists()) {
      QMessageBox ask(QMessageBox::Warning, tr("Save Look"),
                      tr("A look named %1 exists already. Replace it?").arg(name.trimmed()),
                      QMessageBox::Yes | QMessageBox::Cancel, this);
      ask.setObjectName(QStringLiteral("replaceLook"));
      ask.button(QMessageBox::Yes)->setText(tr("Replace"));
      ask.setDefaultButton(QMessageBox::Cancel);
      if (ask.exec() != QMessageBox::Yes) {
        return;
      }
    }
    QString error = saveLook(name);
    if (!error.isEmpty()) {
      QMessageBox::warning(this, tr("Save Look"), error);
    }
  });
  auto* looks = new QWidget;
  auto* looksLayout = new QVBoxLayout(looks);
  looksLayout->setContentsMargins(0, 0, 0, 0);
  looksLayout->addWidget(presets_, 1);
  looksLayout->addWidget(saveLookButton);
  auto* presetDock = new QDockWidget(tr("Looks"));
  presetDock->setObjectName(QStringLiteral("presetDock"));
  presetDock->setWidget(looks);
  presetDock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
  addDockWidget(Qt::RightDockWidgetArea, presetDock);
  // Thumbnails are rendered once the browser is first seen, at the layer's shape then.
  connect(presetDock, &QDockWidget::visibilityChanged, this, [this](bool visible) {
    if (visible && !presets_->foldersShown()) {
      presets_->showFolders({presetFolder(), userLookFolder().toStdString()}, *session_);
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
  connect(finishingPanel_, &FinishingPanel::dragStarted, this, [this] { ++drags_; });
  connect(finishingPanel_, &FinishingPanel::valueEdited, this, &StudioWindow::editFinishing);
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

  restoreState(defaultStudioState(*session_));
  showSettingsPath(QString());
}

bool StudioWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == panel_ && (event->type() == QEvent::Show || event->type() == QEvent::LayoutRequest)) {
    // As wide as the panel with everything open, measured once it is shown in its style: a group
    // that opens or shuts leaves the width as it is, rather than jumping. Later, only wider.
    const int panelWidth =
        event->type() == QEvent::Show ? panel_->widestMinimumWidth() : panel_->minimumSizeHint().width();
    const int needed =
        panelWidth + panelScroll_->verticalScrollBar()->sizeHint().width() + 2 * panelScroll_->frameWidth();
    if (needed > panelScroll_->minimumWidth()) {
      panelScroll_->setMinimumWidth(needed);
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// The browser is a child widget, destroyed after the session: its thumbnails stop first.
StudioWindow::~StudioWindow() { presets_->stopThumbnails(); }

void StudioWindow::refreshStatus() {
  layerInfo_->setText(tr("%1 \u00D7 %2").arg(session_->layerWidth).arg(session_->layerHeight));
  frameInfo_->setText(tr("Frame %1 of 0\u2013%2").arg(frame_).arg(lastFrame_->value()));
  const QString zoom = QStringLiteral("%1%").arg(std::lround(view_->zoom() * 100.0));
  zoomInfo_->setText(view_->fitted() ? tr("Fit (%1)").arg(zoom) : zoom);
}

void StudioWindow::refreshNotice() {
  const int layer = layerParamNamed(*session_, "Emitter Layer");
  const bool layerWanted = layer >= 0 && !isGreyedOut(*session_, layer);
  view_->setNotice(layerWanted && !emitter_ && emitterChoice_.text.isEmpty()
                       ? tr("The Source takes its flames from the Emitter Layer, which is empty: choose an "
                            "image or type a text under Emitter.")
                       : QString());
}

QSize StudioWindow::layerSize() const { return QSize(session_->layerWidth, session_->layerHeight); }

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
  return StudioState{session_->tracks, layerSize(), session_->clock, lastFrame, loopFrames_, emitterChoice_, finishing_};
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
  finishing_ = state.finishing;
  finishingPanel_->show(finishing_);
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
  } else if (!choice.text.isEmpty()) {
    // Until the text is drawn as it reads now, the last drawing of it shows, if it fits the layer.
    const bool fits = choice.image && choice.image->width == session_->layerWidth &&
                      choice.image->height == session_->layerHeight;
    emitter_ = fits ? choice.image : nullptr;
    if (!textImageCurrent()) {
      drawEmitterTextInBackground();
    }
  } else {
    emitter_ = choice.image;
  }
  const QString description = !choice.text.isEmpty() ? tr("Text")
                              : file                  ? QFileInfo(choice.path).fileName()
                                                      : tr("This layer");
  panel_->showEmitter(description, choice.text, choice.textStyle, choice.placement, file);
}

bool StudioWindow::textImageCurrent() const {
  const EmitterChoice& choice = emitterChoice_;
  return choice.image && choice.drawnText == choice.text && choice.drawnStyle == choice.textStyle &&
         choice.image->width == session_->layerWidth && choice.image->height == session_->layerHeight;
}

void StudioWindow::drawEmitterTextInBackground() {
  const EmitterChoice wanted = emitterChoice_;
  const int width = session_->layerWidth;
  const int height = session_->layerHeight;
  // The drawing under way is this one already.
  if (textDrawingPending_ && pendingText_ == wanted.text && pendingStyle_ == wanted.textStyle &&
      pendingSize_ == QSize(width, height)) {
    return;
  }
  const quint64 drawing = ++textDrawings_;
  textDrawingPending_ = true;
  pendingText_ = wanted.text;
  pendingStyle_ = wanted.textStyle;
  pendingSize_ = QSize(width, height);
  QPointer<StudioWindow> window(this);
  // The application's pool: quitting waits for a drawing under way (the fonts are the application's).
  QThreadPool::globalInstance()->start([window, drawing, wanted, width, height] {
    auto image = std::make_shared<const RgbaImage>(
        drawEmitterText(wanted.text.toStdString(), width, height, wanted.textStyle));
    QMetaObject::invokeMethod(
        qApp,
        [window, drawing, wanted, image] {
          if (!window || drawing != window->textDrawings_) {
            return;
          }
          window->textDrawingPending_ = false;
          EmitterChoice& choice = window->emitterChoice_;
          if (choice.text != wanted.text || choice.textStyle != wanted.textStyle ||
              window->layerSize() != QSize(image->width, image->height)) {
            return;
          }
          choice.image = image;
          choice.drawnText = wanted.text;
          choice.drawnStyle = wanted.textStyle;
          window->refreshEmitter();
          window->valuesChanged();
        },
        Qt::QueuedConnection);
  });
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

void StudioWindow::editFinishing(int id, double value) {
  // A drag's edits are one step; position 0 (the input layer, never edited) keys it apart from the
  // effect's controls within the drag.
  const int mergeKey =
      finishingPanel_->dragging() ? firstDragMergeKey + drags_ * static_cast<int>(session_->params.size()) : -1;
  changeState(tr("Change %1").arg(QString::fromStdString(finishingControlName(id))), mergeKey,
              [&] { setFinishingValue(finishing_, id, value); });
  // A reset or a clamped value shows as it is kept.
  finishingPanel_->show(finishing_);
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
  drafts_.clear();
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
  auto draft = drafts_.find(frame_);
  if (draft != drafts_.end()) {
    view_->showImage(*draft, layerSize());
    renderInfo_->setText(tr("draft, cached"));
    if (drafting()) {
      return;
    }
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
  request.outputAlpha = outputAlpha_;
  request.finishing = finishing_;
  // Playback and scrubbing show one reduced pass; a stop refines.
  if (drafting()) {
    request.downsamples = {draftDownsample_};
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
  } else {
    drafts_.insert(frame.frame, frame.image);
    if (drafting()) {
      adaptDraftSize(frame.seconds);
    }
  }
  if (frame.frame != frame_) {
    return;
  }
  opaqueLook_ = frame.opaqueLook;
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
  if (!screenshotPath_.isEmpty() && !textDrawingPending_) {
    QString path = screenshotPath_;
    screenshotPath_.clear();
    saveScreenshot(path);
  }
}

void StudioWindow::setOutputAlpha(OutputAlpha mode) {
  outputAlpha_ = mode;
  valuesChanged();
}

void StudioWindow::adaptDraftSize(double seconds) {
  const double frameSeconds = static_cast<double>(session_->clock.timeStep) / session_->clock.timeScale;
  if (seconds > frameSeconds && draftDownsample_ < 8) {
    draftDownsample_ *= 2;
  } else if (seconds < frameSeconds / 4.0 && draftDownsample_ > 2) {
    draftDownsample_ /= 2;
  }
}

void StudioWindow::saveScreenshot(const QString& path, int thumbnailWaits) {
  // The looks' thumbnails belong in the picture too, but a look that is slow to read or render
  // holds the picture back for a minute at most. After this event, so that the view has painted
  // the frame.
  constexpr int thumbnailWaitMilliseconds = 50;
  constexpr int largestThumbnailWaits = 60000 / thumbnailWaitMilliseconds;
  const bool waiting = !presets_->thumbnailsDone() && thumbnailWaits < largestThumbnailWaits;
  QTimer::singleShot(waiting ? thumbnailWaitMilliseconds : 0, this, [this, path, thumbnailWaits] {
    if (!presets_->thumbnailsDone() && thumbnailWaits < largestThumbnailWaits) {
      saveScreenshot(path, thumbnailWaits + 1);
      return;
    }
    if (!presets_->thumbnailsDone()) {
      std::fprintf(stderr, "vortelline-studio: some looks' thumbnails did not come in time; the picture shows "
                           "them without\n");
    }
    bool saved = grab().save(path);
    if (!saved) {
      std::fprintf(stderr, "vortelline-studio: cannot write the screenshot %s\n", qPrintable(path));
    }
    QApplication::exit(saved ? 0 : 1);
  });
}

void StudioWindow::setLayerSize(QSize size) {
  if (size == layerSize()) {
    return;
  }
  changeState(tr("Layer size %1 \u00D7 %2").arg(size.width()).arg(size.height()), -1, [&] {
    // A text keeps the part of the layer it covers, as it does rendered at another size.
    emitterChoice_.textStyle = emitterTextStyleForLayer(emitterChoice_.textStyle, session_->layerWidth,
                                                        session_->layerHeight, size.width(), size.height());
    session_->layerWidth = size.width();
    session_->layerHeight = size.height();
    refreshEmitter();
  });
}

void StudioWindow::setEmitterImage(const QString& path) {
  if (path.isEmpty()) {
    if (emitterChoice_.image || !emitterChoice_.text.isEmpty()) {
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
                                         emitterChoice_.placement, QString(), emitterChoice_.textStyle, QString(), {}};
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
    refreshEmitter();
  });
}

void StudioWindow::setEmitterTextStyle(const EmitterTextStyle& style) {
  if (style == emitterChoice_.textStyle) {
    return;
  }
  changeState(tr("Text style"), textStyleMergeKey, [&] {
    emitterChoice_.textStyle = style;
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
          finishing_ = scene.finishing;
          finishingPanel_->show(finishing_);
          if (!scene.emitterText.empty()) {
            // A look's text is drawn again for the layer size in use, covering the same part of it.
            emitterChoice_ = EmitterChoice{
                nullptr, QString(), EmitterPlacement{}, QString::fromStdString(scene.emitterText),
                emitterTextStyleForLayer(scene.emitterTextStyle, scene.width, scene.height, session_->layerWidth,
                                         session_->layerHeight),
                QString(), {}};
            refreshEmitter();
          } else if (result.value.emitter) {
            emitterChoice_ = EmitterChoice{result.value.emitter, QString::fromStdString(scene.emitterPath),
                                           scene.emitterPlacement, QString(), emitterChoice_.textStyle, QString(), {}};
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
