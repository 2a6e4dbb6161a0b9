// Render...: a frame range into image files or one movie at a depth the file format holds, with
// progress and cancel, through the host library's frame writer on a thread of its own.
#pragma once

#include <QDialog>
#include <QThread>
#include <atomic>
#include <memory>

#include "media/seamless_loop.h"
#include "session/host_session.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

class RenderDialog : public QDialog {
  Q_OBJECT

 public:
  // Renders the values the session has when Render is pressed, as frames of the loop if one is
  // given; session outlives the dialog.
  RenderDialog(const HostSession& session, std::shared_ptr<const RgbaImage> emitter, long lastFrame,
               LoopSettings loop = {}, QWidget* parent = nullptr);
  ~RenderDialog() override;

  // Starts rendering at bitDepth bits per channel; false (with the reason shown) when the choices
  // cannot be rendered.
  bool start(const QString& pattern, long first, long last, int bitDepth);
  bool running() const { return worker_ != nullptr; }

 signals:
  void finished(bool completed, const QString& message);

 private:
  // The depth choices for the format the file name asks for, keeping the chosen depth if offered.
  void offerDepths();
  void stop();
  void frameWritten();
  void workerEnded(bool completed, const QString& message);

  const HostSession& session_;
  std::shared_ptr<const RgbaImage> emitter_;
  LoopSettings loop_;
  QLineEdit* pattern_;
  QComboBox* depth_;
  QSpinBox* first_;
  QSpinBox* last_;
  QProgressBar* progress_;
  QLabel* status_;
  QPushButton* render_;
  QPushButton* cancel_;
  QThread* worker_ = nullptr;
  std::atomic<bool> stopRequested_{false};
};
