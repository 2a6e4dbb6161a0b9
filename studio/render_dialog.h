// Render...: a frame range into image files or one movie at a depth the file format holds (a
// movie in a codec and quality of the user's choice), with progress, the time left and cancel,
// through the host library's frame writer on a thread of its own. Files that a render would
// replace are named and replaced only when the user agrees. The folder, format and depth of the
// last render are the next one's defaults.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <memory>

#include "finishing/finishing_controls.h"
#include "media/movie_file.h"
#include "media/seamless_loop.h"
#include "session/host_session.h"

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

// The files of a frame range that exist already, in frame order: the movie, or each frame's file.
QStringList existingOutputFiles(const QString& pattern, long first, long last);

// "12 of 240 frames, 1:02 elapsed, about 19:38 left": the time left is the time per frame so far
// times the frames to go.
QString renderProgressText(int done, int total, qint64 elapsedMilliseconds);

class RenderDialog : public QDialog {
  Q_OBJECT

 public:
  // Renders the values the session has when Render is pressed, as frames of the loop if one is
  // given; session outlives the dialog.
  RenderDialog(const HostSession& session, std::shared_ptr<const RgbaImage> emitter, long lastFrame,
               LoopSettings loop = {}, QWidget* parent = nullptr);
  ~RenderDialog() override;

  // Starts rendering at bitDepth bits per channel (a movie in the codec chosen in the dialog);
  // false (with the reason shown) when the choices cannot be rendered. Replaces existing files
  // without asking: the Render button asks first.
  bool start(const QString& pattern, long first, long last, int bitDepth, const MovieCodecChoice& codec = {});
  bool running() const { return worker_ != nullptr; }
  // Glow, flicker and the emitter key for the frames, as the preview shows them.
  void setFinishing(const FinishingValues& finishing) { finishing_ = finishing; }
  // Says that the look's own output is opaque (flames on black), and what the alpha choice does.
  void noteOpaqueLook(bool opaque);

 signals:
  void finished(bool completed, const QString& message);

 private:
  // The depth choices for the format the file name asks for, keeping the chosen depth if offered;
  // the codecs and quality for a movie.
  void offerDepths();
  // Render pressed: asks before replacing files, then starts.
  void renderPressed();
  void stop();
  void frameWritten();
  void showProgress();
  void workerEnded(bool completed, const QString& message);

  const HostSession& session_;
  FinishingValues finishing_;
  std::shared_ptr<const RgbaImage> emitter_;
  LoopSettings loop_;
  QLineEdit* pattern_;
  QComboBox* depth_;
  QComboBox* alpha_;
  QLabel* alphaNote_;
  QComboBox* codec_;
  QSpinBox* quality_;
  QWidget* movieRow_;
  QFormLayout* form_;
  QSpinBox* first_;
  QSpinBox* last_;
  QProgressBar* progress_;
  QLabel* status_;
  QPushButton* render_;
  QPushButton* cancel_;
  QString notes_;  // what the status says besides the progress
  QElapsedTimer elapsed_;
  int framesDone_ = 0;
  QTimer* clock_;  // shows the elapsed time and the time left each second
  QThread* worker_ = nullptr;
  std::atomic<bool> stopRequested_{false};
};
