// vortelline-studio's main window: the effect's panel beside a live preview, a timeline below,
// settings files and a render dialog. The window owns the host session; previews and renders
// work on copies of it on other threads, so the panel never waits for a frame.
#pragma once

#include <QHash>
#include <QImage>
#include <QMainWindow>
#include <memory>

#include "hostlib/host_session.h"
#include "hostlib/settings_file.h"
#include "studio/preview_renderer.h"

class EffectPanel;
class PreviewView;
class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTimer;
class QToolButton;
class TimelineSlider;

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
  void setLayerSize(QSize size);
  void setFrame(long frame);
  // Empty: the layer itself. An image is read on a thread of its own; emitterRead tells how it went.
  void setEmitterImage(const QString& path);
  void setEmitterText(const QString& text);
  // Saves a picture of the window after the first full-resolution frame, then quits; quits with
  // status 1 when that frame fails.
  void takeScreenshotWhenReady(const QString& path);

  EffectPanel* panel() const { return panel_; }
  const HostSession& session() const { return *session_; }
  PreviewRenderer& renderer() { return renderer_; }
  // The last full-resolution frame shown, with the state of the values it shows.
  const QImage& finishedImage() const { return finishedImage_; }
  quint64 generation() const { return generation_; }
  quint64 finishedGeneration() const { return finishedGeneration_; }
  QSize layerSize() const;
  long frame() const { return frame_; }

 signals:
  void previewFinished(quint64 generation, long frame);
  void settingsOpened(const QString& error);  // empty when the file is on show
  void emitterRead(const QString& error);

 private:
  void buildMenus();
  QWidget* buildTimeline();
  void editValue(int position, double value);
  void toggleKey(int position);
  void valuesChanged();
  void showOpenedSettings(const QString& path, SettingsFile file, std::shared_ptr<const RgbaImage> emitter);
  void showRenderFailure(const QString& message, quint64 generation);
  // The last frame's range follows the clock: the host's time must hold every frame.
  void limitLastFrame();
  void requestPreview();
  void showFrame(const PreviewFrame& frame);
  void playTick();
  void setFrameRate(const QString& text);
  void showEffectDialog(bool optionsButton);
  void showRenderDialog();
  void runEffectCommand(const std::function<void()>& command);
  // The frame, its range, and the keys of the selected control (of every control when none is).
  void refreshTimeline();

  std::unique_ptr<HostSession> session_;
  PreviewRenderer renderer_;
  EffectPanel* panel_ = nullptr;
  PreviewView* view_ = nullptr;
  QLabel* renderInfo_ = nullptr;
  TimelineSlider* frameSlider_ = nullptr;
  QSpinBox* frameNumber_ = nullptr;
  QSpinBox* lastFrame_ = nullptr;
  QLineEdit* frameRate_ = nullptr;
  QToolButton* previousKey_ = nullptr;
  QToolButton* nextKey_ = nullptr;
  QToolButton* play_ = nullptr;
  QCheckBox* loop_ = nullptr;
  QTimer* playTimer_ = nullptr;

  long frame_ = 0;
  quint64 generation_ = 1;
  // Finished frames of the current values, for playback.
  QHash<long, QImage> cache_;
  QImage finishedImage_;
  quint64 finishedGeneration_ = 0;
  std::shared_ptr<const RgbaImage> emitter_;
  QString emitterPath_;
  QString emitterText_;
  QString screenshotPath_;
  // Only the newest of several reads in flight is shown.
  quint64 settingsReads_ = 0;
  quint64 emitterReads_ = 0;
};

// Opens the command line's settings file (if any) and takes the screenshot it asks for (if any),
// once that file's frame is on show. A file that cannot be opened ends the program with status 1.
void startFromCommandLine(StudioWindow& window, const QString& settingsPath, const QString& screenshotPath);
