#include "studio/render_dialog.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "authoring/render_job.h"
#include "media/frame_output.h"
#include "media/frame_writer.h"
#include "media/image_files.h"
#include "media/movie_file.h"
#include "session/program_errors.h"

namespace {

QString depthLabel(int bitDepth) {
  return bitDepth == 32 ? QObject::tr("32-bit float") : QObject::tr("%1 bits per channel").arg(bitDepth);
}

// The depths, in bits per channel, that the format of a file name holds and the effect renders;
// the format's usual one first; none for a name of no format. PNG stores 8 or 16 bits; OpenEXR
// stores float, from a float render or, when asked, a 16-bit one; ProRes and FFV1 keep more than 8
// bits from a 16-bit render, VP9 and H.264 are written at 8.
std::vector<int> depthsFor(const std::string& name, const HostSession& session) {
  std::vector<int> depths;
  if (std::optional<MovieContainer> container = movieContainerForPath(name)) {
    depths = *container == MovieContainer::mov || *container == MovieContainer::mkv ? std::vector<int>{8, 16}
                                                                                    : std::vector<int>{8};
  } else if (lowercaseExtension(name) == ".png") {
    depths = {8, 16};
  } else if (lowercaseExtension(name) == ".exr") {
    depths = {32, 16};
  }
  std::erase_if(depths, [&](int depth) { return !effectRendersDepth(session, depth); });
  return depths;
}

// Why a depth is refused for a file name, with the depths its format takes.
std::string refusedDepthText(const std::string& name, const std::vector<int>& depths, int bitDepth) {
  const std::string files = lowercaseExtension(name) + " files";
  if (depths.empty()) {
    return "the effect renders no depth that " + files + " hold";
  }
  std::string offered;
  for (int depth : depths) {
    offered += (offered.empty() ? "" : " or ") + depthLabel(depth).toStdString();
  }
  return files + " are written at " + offered + ", not at " + depthLabel(bitDepth).toStdString();
}

// Each failure's message on a line of its own, without the program's name: the dialog is the program.
QString failureText(std::exception_ptr failure) {
  QStringList lines;
  for (const FailureReport& report : describeFailures(failure)) {
    QString line = QString::fromStdString(report.message);
    lines.push_back(line.startsWith(QStringLiteral("vortelline: ")) ? line.mid(12) : line);
  }
  return lines.join('\n');
}

}  // namespace

RenderDialog::RenderDialog(const HostSession& session, std::shared_ptr<const RgbaImage> emitter, long lastFrame,
                           LoopSettings loop,
                           QWidget* parent)
    : QDialog(parent), session_(session), emitter_(std::move(emitter)), loop_(loop) {
  setWindowTitle(tr("Render"));
  pattern_ = new QLineEdit(QStringLiteral("flames_####.png"));
  pattern_->setObjectName(QStringLiteral("pattern"));
  auto* browse = new QPushButton(tr("Browse..."));
  connect(browse, &QPushButton::clicked, this, [this] {
    QString path = QFileDialog::getSaveFileName(this, tr("Render to"), pattern_->text(),
                                                tr("PNG (*.png);;OpenEXR (*.exr);;ProRes 4444 movie (*.mov);;"
                                                   "FFV1 lossless movie (*.mkv);;VP9 movie (*.webm);;"
                                                   "H.264 movie, no alpha (*.mp4)"));
    if (!path.isEmpty()) {
      pattern_->setText(path);
    }
  });
  depth_ = new QComboBox;
  depth_->setObjectName(QStringLiteral("depth"));
  connect(pattern_, &QLineEdit::textChanged, this, &RenderDialog::offerDepths);
  offerDepths();
  auto* patternRow = new QHBoxLayout;
  patternRow->addWidget(pattern_, 1);
  patternRow->addWidget(browse);
  first_ = new QSpinBox;
  last_ = new QSpinBox;
  for (QSpinBox* frame : {first_, last_}) {
    frame->setRange(0, 999999);
  }
  first_->setObjectName(QStringLiteral("firstFrame"));
  last_->setObjectName(QStringLiteral("lastFrame"));
  last_->setValue(static_cast<int>(lastFrame));
  progress_ = new QProgressBar;
  status_ = new QLabel(tr("Each run of # in the name becomes the frame number; .mov, .mkv, .webm and .mp4 write one movie."));
  render_ = new QPushButton(tr("Render"));
  cancel_ = new QPushButton(tr("Close"));
  cancel_->setObjectName(QStringLiteral("cancel"));
  render_->setObjectName(QStringLiteral("render"));
  connect(render_, &QPushButton::clicked, this,
          [this] { start(pattern_->text(), first_->value(), last_->value(), depth_->currentData().toInt()); });
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (running()) {
      stop();
    } else {
      reject();
    }
  });

  auto* form = new QFormLayout;
  form->addRow(tr("Files"), patternRow);
  form->addRow(tr("Depth"), depth_);
  form->addRow(tr("First frame"), first_);
  form->addRow(tr("Last frame"), last_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(render_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(progress_);
  layout->addWidget(status_);
  layout->addLayout(buttons);
}

RenderDialog::~RenderDialog() {
  if (worker_) {
    stopRequested_ = true;
    worker_->wait();
  }
}

void RenderDialog::offerDepths() {
  const int chosen = depth_->currentData().toInt();
  const std::vector<int> depths = depthsFor(pattern_->text().toStdString(), session_);
  depth_->clear();
  for (int depth : depths) {
    depth_->addItem(depthLabel(depth), depth);
  }
  depth_->setCurrentIndex(std::max(0, depth_->findData(chosen)));
  depth_->setEnabled(!depths.empty());
}

bool RenderDialog::start(const QString& pattern, long first, long last, int bitDepth) {
  if (running()) {
    return false;
  }
  auto job = std::make_shared<HostSession>(session_);
  std::shared_ptr<FrameWriter> writer;
  const std::string files = pattern.toStdString();
  try {
    const bool movie = movieContainerForPath(files).has_value();
    if (!movie) {
      imageFormatForPath(files);
    }
    if (last < first) {
      throw UsageError("the last frame comes before the first");
    }
    if (!movie && last > first && !patternNamesFrames(files)) {
      throw UsageError("several frames need a # in the file name for the frame number, such as flames_####.png");
    }
    std::vector<int> depths = depthsFor(files, session_);
    if (std::find(depths.begin(), depths.end(), bitDepth) == depths.end()) {
      throw UsageError(refusedDepthText(files, depths, bitDepth));
    }
    job->bitDepth = bitDepth;
    job->downsample = 1;
    job->stopRequested = &stopRequested_;
    placeLayers(*job, nullptr, emitter_.get());
    writer = std::make_shared<FrameWriter>(openFrameWriter(files, MovieCodecChoice{}, movieFramesOf(*job)));
  } catch (...) {
    status_->setText(failureText(std::current_exception()));
    return false;
  }
  stopRequested_ = false;
  progress_->setRange(0, static_cast<int>(last - first + 1));
  progress_->setValue(0);
  status_->setText(writer->keepsAlpha() ? tr("Rendering...")
                                        : tr("Rendering over black: the file keeps no alpha..."));
  render_->setEnabled(false);
  cancel_->setText(tr("Cancel"));
  worker_ = QThread::create([this, job, writer, first, last] {
    bool completed = false;
    QString message;
    std::vector<long> frames;
    for (long frame = first; frame <= last; ++frame) {
      frames.push_back(frame);
    }
    try {
      renderFramesInto(
          *job, *writer, frames, RenderPath::smart,
          [this] { QMetaObject::invokeMethod(this, &RenderDialog::frameWritten, Qt::QueuedConnection); }, loop_);
      completed = true;
      message = tr("Done.");
    } catch (const Cancelled&) {
      message = tr("Cancelled.");
    } catch (...) {
      message = failureText(std::current_exception());
    }
    QMetaObject::invokeMethod(this, [this, completed, message] { workerEnded(completed, message); },
                              Qt::QueuedConnection);
  });
  worker_->start();
  return true;
}

void RenderDialog::stop() { stopRequested_ = true; }

void RenderDialog::frameWritten() { progress_->setValue(progress_->value() + 1); }

void RenderDialog::workerEnded(bool completed, const QString& message) {
  worker_->wait();
  delete worker_;
  worker_ = nullptr;
  status_->setText(message);
  render_->setEnabled(true);
  cancel_->setText(tr("Close"));
  emit finished(completed, message);
}
