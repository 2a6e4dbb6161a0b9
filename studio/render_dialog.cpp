#include "studio/render_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "hostlib/frame_output.h"
#include "hostlib/image_files.h"
#include "hostlib/program_errors.h"
#include "hostlib/render_job.h"

RenderDialog::RenderDialog(const HostSession& session, std::shared_ptr<const RgbaImage> emitter, long lastFrame,
                           QWidget* parent)
    : QDialog(parent), session_(session), emitter_(std::move(emitter)) {
  setWindowTitle(tr("Render"));
  pattern_ = new QLineEdit(QStringLiteral("flames_####.png"));
  pattern_->setObjectName(QStringLiteral("pattern"));
  auto* browse = new QPushButton(tr("Browse..."));
  connect(browse, &QPushButton::clicked, this, [this] {
    QString path = QFileDialog::getSaveFileName(this, tr("Render to"), pattern_->text(),
                                                tr("PNG 8 bits (*.png);;OpenEXR 32-bit float (*.exr)"));
    if (!path.isEmpty()) {
      pattern_->setText(path);
    }
  });
  auto* patternRow = new QHBoxLayout;
  patternRow->addWidget(pattern_, 1);
  patternRow->addWidget(browse);
  first_ = new QSpinBox;
  last_ = new QSpinBox;
  for (QSpinBox* frame : {first_, last_}) {
    frame->setRange(0, 999999);
  }
  last_->setValue(static_cast<int>(lastFrame));
  progress_ = new QProgressBar;
  status_ = new QLabel(tr("Each run of # in the name becomes the frame number."));
  render_ = new QPushButton(tr("Render"));
  cancel_ = new QPushButton(tr("Close"));
  cancel_->setObjectName(QStringLiteral("cancel"));
  connect(render_, &QPushButton::clicked, this, [this] { start(pattern_->text(), first_->value(), last_->value()); });
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (running()) {
      stop();
    } else {
      reject();
    }
  });

  auto* form = new QFormLayout;
  form->addRow(tr("Files"), patternRow);
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

bool RenderDialog::start(const QString& pattern, long first, long last) {
  if (running()) {
    return false;
  }
  auto job = std::make_shared<HostSession>(session_);
  try {
    ImageFormat format = imageFormatForPath(pattern.toStdString());
    if (last < first) {
      throw UsageError("the last frame comes before the first");
    }
    if (last > first && !patternNamesFrames(pattern.toStdString())) {
      throw UsageError("several frames need a # in the file name for the frame number, such as flames_####.png");
    }
    job->bitDepth = format == ImageFormat::png ? 8 : 32;
    job->downsample = 1;
    job->stopRequested = &stopRequested_;
    placeLayers(*job, nullptr, emitter_.get());
  } catch (const std::exception& error) {
    status_->setText(QString::fromStdString(error.what()));
    return false;
  }
  stopRequested_ = false;
  progress_->setRange(0, static_cast<int>(last - first + 1));
  progress_->setValue(0);
  status_->setText(tr("Rendering..."));
  render_->setEnabled(false);
  cancel_->setText(tr("Cancel"));
  const std::string files = pattern.toStdString();
  worker_ = QThread::create([this, job, files, first, last] {
    bool completed = false;
    QString message;
    try {
      FrameFileWriter writer;
      for (long frame = first; frame <= last; ++frame) {
        renderFrameToFile(*job, writer, files, frame, RenderPath::smart);
        QMetaObject::invokeMethod(this, &RenderDialog::frameWritten, Qt::QueuedConnection);
      }
      writer.finish();
      completed = true;
      message = tr("Done.");
    } catch (const Cancelled&) {
      message = tr("Cancelled.");
    } catch (const std::exception& error) {
      message = QString::fromStdString(error.what());
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
