// vortelline-studio's main window: the effect's panel beside a live preview, a timeline below,
// settings files and a render dialog. The window owns the host session; previews and renders
// work on copies of it on other threads, so the panel never waits for a frame. Every change to
// what would be saved is one step of an undo history.
#pragma once

#include <QHash>
#include <QImage>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <vector>

#include "authoring/settings_file.h"
#include "session/host_session.h"
#include "studio/preview_renderer.h"
#include "drawing/emitter_text.h"

class EffectPanel;
class FinishingPanel;
class PresetBrowser;
class PreviewView;
class QCheckBox;
class QLabel;
class QLineEdit;
class QScrollArea;
class QSpinBox;
class QTimer;
class QToolButton;
class QUndoStack;
class TimelineSlider;

// What the Emitter Layer shows: an image file placed in the layer, a text drawn at the layer's
// size, or (no image) the layer itself.
struct EmitterChoice {
  std::shared_ptr<const RgbaImage> image;  // the file as read, or the text as drawn
  QString path;                            // the file, absolute
  EmitterPlacement placement;              // where the file's image sits in the layer
  QString text;
  EmitterTextStyle textStyle;
};

// Everything a settings file keeps and an undo restores; the frame on show and the view are not
// part of it.
struct StudioState {
  std::vector<ParamTrack> tracks;
  QSize layerSize;
  FrameClock clock;
  int lastFrame = 0;
  long loopLength = 0;  // frames of a seamless loop; 0: none
  EmitterChoice emitter;
  FinishingValues finishing;
};

// The state of a new window and of File > New.
StudioState defaultStudioState(const HostSession& session);
// The last frame of a new timeline, and the least a file's timeline shows.
constexpr long defaultLastFrame = 47;

class StudioWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit StudioWindow(std::unique_ptr<HostSession> session, QWidget* parent = nullptr);
  ~StudioWindow() override;

  // Reads the file on a thread of its own (it may be a FIFO that never delivers) and then shows
  // it; settingsOpened tells how it went. A failed open changes nothing.
  void openSettings(const QString& path);
  // Returns what went wrong, or an empty text.
  QString saveSettings(const QString& path);
  // The controls and the emitter as a look of the user's, named name, in the Looks dock from then
  // on. Returns what went wrong, or an empty text.
  QString saveLook(const QString& name);
  // Every control at its default, the default layer, no emitter, an empty undo history.
  void startAnew();
  void setLayerSize(QSize size);
  void setFrame(long frame);
  // Empty: the layer itself. An image is read on a thread of its own; emitterRead tells how it went.
  void setEmitterImage(const QString& path);
  void setEmitterText(const QString& text);
  void setEmitterTextStyle(const EmitterTextStyle& style);
  void setEmitterPlacement(const EmitterPlacement& placement);
  // Every control at its default, then the preset's values, and its emitter if it brings one: one
  // undo step. Read on a thread of its own; presetApplied tells how it went.
  void applyPreset(const QString& path);
  // Saves a picture of the window after the first full-resolution frame, then quits; quits with
  // status 1 when that frame fails.
  void takeScreenshotWhenReady(const QString& path);

  EffectPanel* panel() const { return panel_; }
  FinishingPanel* finishingPanel() const { return finishingPanel_; }
  const FinishingValues& finishing() const { return finishing_; }
  PresetBrowser* presets() const { return presets_; }
  PreviewView* view() const { return view_; }
  QUndoStack* undoStack() const { return undo_; }
  const HostSession& session() const { return *session_; }
  PreviewRenderer& renderer() { return renderer_; }
  // The preview's alpha: the effect's own, from the light, or (automatic) from the light where the
  // effect's frame is opaque, as Render... writes it by default.
  void setOutputAlpha(OutputAlpha mode);
  // The last full-resolution frame shown, with the state of the values it shows.
  const QImage& finishedImage() const { return finishedImage_; }
  quint64 generation() const { return generation_; }
  quint64 finishedGeneration() const { return finishedGeneration_; }
  QSize layerSize() const;
  long frame() const { return frame_; }
  bool playing() const;
  // Whether frames are shown as drafts: while playing or dragging the timeline.
  bool drafting() const;
  // The seamless loop the preview and Render... make; none without a loop length.
  LoopSettings loop() const;
  // Whether the state differs from the one last opened, saved or started anew.
  bool hasUnsavedChanges() const;

 signals:
  void previewFinished(quint64 generation, long frame);
  void settingsOpened(const QString& error);  // empty when the file is on show
  void emitterRead(const QString& error);
  void presetApplied(const QString& error);

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The panel's layout changed (a group opened, the emitter's text rows came): its scroll area
  // widens to its widest row.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Merge keys of changes that are one step however often they come in a row: typing a title,
  // spinning the last frame. A drag's key is its slider's position plus one more than the largest.
  enum MergeKey {
    emitterTextMergeKey,
    lastFrameMergeKey,
    textStyleMergeKey,
    placementMergeKey,
    loopLengthMergeKey,
    firstDragMergeKey
  };

  // Menus and the dialogs they open (studio_menus.cpp).
  void buildMenus();
  void chooseBackground();
  void showEffectDialog(bool optionsButton);
  void showRenderDialog();

  // The timeline and playback (studio_playback.cpp).
  QWidget* buildTimeline();
  // The frame, its range, and the keys of the selected control (of every control when none is).
  void refreshTimeline();
  // The last frame's range follows the clock: the host's time must hold every frame.
  void limitLastFrame();
  void playTick();
  void pausePlayback();
  // After playback or scrubbing: the frame on show at full size, unless it is already.
  void refineFrame();
  void stepFrame(long step);
  void setFrameRate(const QString& text);
  void setLastFrameShown(int last);
  void setLoopLength(int length);

  // Settings files (studio_files.cpp).
  void showOpenedSettings(const QString& path, SettingsFile file, std::shared_ptr<const RgbaImage> emitter);
  // Asks what to do with unsaved changes before they would be lost; true to go on.
  bool setChangesAside(const QString& action);
  // The state into a settings file; a text emitter's image beside it. Returns what went wrong.
  QString writeSettings(const QString& path);
  // Save: into the file on show, else as Save As...; false when cancelled or failed.
  bool save();
  // Save As... with a file dialog; false when cancelled or failed.
  bool saveWithDialog();
  // The file on show (empty: none) in the title, with the modified marker.
  void showSettingsPath(const QString& path);

  // Changes the state through change() as one undo step named text. Consecutive changes with the
  // same merge key (>= 0) are one step, as a slider's drag is.
  void changeState(const QString& text, int mergeKey, const std::function<void()>& change);
  StudioState state() const;
  void restoreState(const StudioState& state);
  // Places the emitter's image at the layer's size and shows the choice in the panel.
  void refreshEmitter();
  // Draws the emitter's text again, at the layer's size.
  void redrawEmitterText();
  void editValue(int position, double value);
  void editFinishing(int id, double value);
  void toggleKey(int position);
  void resetControls(const std::vector<int>& positions, const QString& what);
  void valuesChanged();
  void requestPreview();
  void showFrame(const PreviewFrame& frame);
  // A draft that took longer than a frame's time halves the next drafts' size; one that took less
  // than a quarter of it doubles it.
  void adaptDraftSize(double seconds);
  void saveScreenshot(const QString& path);
  void runEffectCommand(const std::function<void()>& command);
  void showRenderFailure(const QString& message, quint64 generation);
  // A message that stays until the state it describes changes.
  void showProblem(const QString& message);
  void refreshStatus();
  // What the preview alone cannot say: a layer source with no layer given.
  void refreshNotice();

  std::unique_ptr<HostSession> session_;
  PreviewRenderer renderer_;
  EffectPanel* panel_ = nullptr;
  FinishingPanel* finishingPanel_ = nullptr;
  QScrollArea* panelScroll_ = nullptr;
  PreviewView* view_ = nullptr;
  PresetBrowser* presets_ = nullptr;
  QUndoStack* undo_ = nullptr;
  QLabel* renderInfo_ = nullptr;
  QLabel* layerInfo_ = nullptr;
  QLabel* frameInfo_ = nullptr;
  QLabel* zoomInfo_ = nullptr;
  TimelineSlider* frameSlider_ = nullptr;
  QSpinBox* frameNumber_ = nullptr;
  QSpinBox* lastFrame_ = nullptr;
  QSpinBox* loopLength_ = nullptr;
  QLineEdit* frameRate_ = nullptr;
  QToolButton* previousKey_ = nullptr;
  QToolButton* nextKey_ = nullptr;
  QToolButton* play_ = nullptr;
  QCheckBox* loop_ = nullptr;
  QTimer* playTimer_ = nullptr;

  long frame_ = 0;
  long loopFrames_ = 0;  // the seamless loop's length; 0: none
  quint64 generation_ = 1;
  // Finished frames of the current values, for playback.
  QHash<long, QImage> cache_;
  // Frames of the current values at a reduced size, as playback and scrubbing show them.
  QHash<long, QImage> drafts_;
  // While playing or scrubbing, frames render at 1/draftDownsample_ of the layer's size (2 to 8),
  // chosen from the last draft's time so that drafts keep up with the frame rate; a stop refines
  // the frame on show to full size.
  int draftDownsample_ = 4;
  // The preview's alpha (View > Alpha); not part of the settings.
  OutputAlpha outputAlpha_ = OutputAlpha::automatic;
  // Whether the effect's own last frame was opaque: Render... says so.
  bool opaqueLook_ = false;
  QImage finishedImage_;
  quint64 finishedGeneration_ = 0;
  EmitterChoice emitterChoice_;
  // Glow, flicker and the emitter key, as the preview and Render... apply them.
  FinishingValues finishing_;
  // What the effect gets as its Emitter Layer: the choice's image, placed.
  std::shared_ptr<const RgbaImage> emitter_;
  QString screenshotPath_;
  QString problem_;  // the message on show that the next change makes stale
  // Each drag of a slider or dial is one undo step: its edits share a merge key.
  int drags_ = 0;
  // Only the newest of several reads in flight is shown.
  quint64 settingsReads_ = 0;
  quint64 emitterReads_ = 0;
  quint64 presetReads_ = 0;
};

// Where the user's own looks are kept: vortelline/looks in the user's data folder
// (~/.local/share/vortelline/looks).
QString userLookFolder();

// Opens the command line's settings file (if any) and takes the screenshot it asks for (if any),
// once that file's frame is on show. A file that cannot be opened ends the program with status 1.
void startFromCommandLine(StudioWindow& window, const QString& settingsPath, const QString& screenshotPath);
