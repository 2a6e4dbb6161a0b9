#include "studio/render_dialog.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "authoring/emitter_key_layers.h"
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

// Where a new render goes: the folder of the last render (else the user's videos, else home) and
// a name in its format, absolute, so that it never depends on where the studio was started.
QString defaultPattern() {
  const QSettings remembered;
  QString folder = QDir::homePath();
  for (const QString& candidate : {remembered.value(QStringLiteral("render/folder")).toString(),
                                   QStandardPaths::writableLocation(QStandardPaths::MoviesLocation)}) {
    if (!candidate.isEmpty() && QFileInfo(candidate).isDir()) {
      folder = candidate;
      break;
    }
  }
  const QString extension = remembered.value(QStringLiteral("render/extension"), QStringLiteral(".png")).toString();
  const QString movie = QStringLiteral("flames") + extension;
  const QString frames = QStringLiteral("flames_####") + extension;
  return QDir(folder).absoluteFilePath(movieContainerForPath(movie.toStdString()) ? movie : frames);
}

QString durationText(qint64 milliseconds) {
  const qint64 seconds = milliseconds / 1000;
  return seconds >= 3600 ? QStringLiteral("%1:%2:%3")
                               .arg(seconds / 3600)
                               .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                               .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                         : QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

QStringList existingOutputFiles(const QString& pattern, long first, long last) {
  const std::string files = pattern.toStdString();
  QStringList existing;
  if (movieContainerForPath(files) || !patternNamesFrames(files)) {
    if (QFileInfo::exists(pattern)) {
      existing.push_back(pattern);
    }
    return existing;
  }
  for (long frame = first; frame <= last; ++frame) {
    QString file = QString::fromStdString(expandFramePattern(files, frame));
    if (QFileInfo::exists(file)) {
      existing.push_back(file);
    }
  }
  return existing;
}

QString renderProgressText(int done, int total, qint64 elapsedMilliseconds) {
  QString text = QObject::tr("%1 of %2 frames, %3 elapsed").arg(done).arg(total).arg(durationText(elapsedMilliseconds));
  if (done > 0 && done < total) {
    const qint64 left = elapsedMilliseconds * (total - done) / done;
    text += QObject::tr(", about %1 left").arg(durationText(left + 999));
  }
  return text;
}

RenderDialog::RenderDialog(const HostSession& session, std::shared_ptr<const RgbaImage> emitter, long lastFrame,
                           LoopSettings loop,
                           QWidget* parent)
    : QDialog(parent), session_(session), emitter_(std::move(emitter)), loop_(loop) {
  setWindowTitle(tr("Render"));
  pattern_ = new QLineEdit(defaultPattern());
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
  alpha_ = new QComboBox;
  alpha_->setObjectName(QStringLiteral("alpha"));
  alpha_->addItem(tr("Automatic: from the light where the look is opaque"), static_cast<int>(OutputAlpha::automatic));
  alpha_->addItem(tr("From the light"), static_cast<int>(OutputAlpha::light));
  alpha_->addItem(tr("The effect's own"), static_cast<int>(OutputAlpha::effect));
  alpha_->setToolTip(tr("As render --alpha: alpha from the light gives flames on black a true alpha, so that they "
                        "composite over other footage; over black they stay as they are"));
  alphaNote_ = new QLabel;
  alphaNote_->setObjectName(QStringLiteral("alphaNote"));
  alphaNote_->setWordWrap(true);
  alphaNote_->hide();
  codec_ = new QComboBox;
  codec_->setObjectName(QStringLiteral("codec"));
  codec_->setToolTip(tr("The encoder, as render --codec picks it; the first is the format's usual one"));
  quality_ = new QSpinBox;
  quality_->setObjectName(QStringLiteral("quality"));
  quality_->setToolTip(tr("Lower is better, as render --quality: CRF for libx264 and libvpx-vp9, the quantiser "
                          "for prores_ks"));
  movieRow_ = new QWidget;
  auto* movieLayout = new QHBoxLayout(movieRow_);
  movieLayout->setContentsMargins(0, 0, 0, 0);
  movieLayout->addWidget(codec_, 1);
  movieLayout->addWidget(new QLabel(tr("Quality")));
  movieLayout->addWidget(quality_);
  connect(codec_, &QComboBox::currentTextChanged, this, [this](const QString& codec) {
    std::optional<MovieQualityRange> range = movieQualityRange(codec.toStdString());
    // One below the best is the encoder's own default.
    quality_->setRange(range ? range->best - 1 : 0, range ? range->worst : 0);
    quality_->setSpecialValueText(tr("usual"));
    quality_->setValue(quality_->minimum());
    quality_->setEnabled(range.has_value());
  });
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
  progress_->setFormat(QStringLiteral("%p%"));
  status_ = new QLabel(tr("Each run of # in the name becomes the frame number; .mov, .mkv, .webm and .mp4 write one movie."));
  status_->setObjectName(QStringLiteral("status"));
  status_->setWordWrap(true);
  clock_ = new QTimer(this);
  clock_->setInterval(1000);
  connect(clock_, &QTimer::timeout, this, &RenderDialog::showProgress);
  render_ = new QPushButton(tr("Render"));
  cancel_ = new QPushButton(tr("Close"));
  cancel_->setObjectName(QStringLiteral("cancel"));
  render_->setObjectName(QStringLiteral("render"));
  connect(render_, &QPushButton::clicked, this, &RenderDialog::renderPressed);
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (running()) {
      stop();
    } else {
      reject();
    }
  });

  form_ = new QFormLayout;
  form_->addRow(tr("Files"), patternRow);
  form_->addRow(tr("Depth"), depth_);
  form_->addRow(tr("Codec"), movieRow_);
  form_->addRow(tr("Alpha"), alpha_);
  form_->addRow(QString(), alphaNote_);
  form_->addRow(tr("First frame"), first_);
  form_->addRow(tr("Last frame"), last_);
  connect(pattern_, &QLineEdit::textChanged, this, &RenderDialog::offerDepths);
  offerDepths();
  const int rememberedDepth = QSettings().value(QStringLiteral("render/depth")).toInt();
  if (depth_->findData(rememberedDepth) >= 0) {
    depth_->setCurrentIndex(depth_->findData(rememberedDepth));
  }
  setMinimumWidth(560);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(render_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form_);
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

  const std::optional<MovieContainer> container = movieContainerForPath(pattern_->text().toStdString());
  form_->setRowVisible(movieRow_, container.has_value());
  QStringList codecs;
  if (container) {
    for (const std::string& codec : movieCodecsFor(*container)) {
      codecs.push_back(QString::fromStdString(codec));
    }
  }
  QStringList offered;
  for (int item = 0; item < codec_->count(); ++item) {
    offered.push_back(codec_->itemText(item));
  }
  if (codecs != offered) {
    codec_->clear();
    codec_->addItems(codecs);
  }
}

void RenderDialog::renderPressed() {
  const QString pattern = QFileInfo(pattern_->text()).absoluteFilePath();
  const QStringList existing = existingOutputFiles(pattern, first_->value(), last_->value());
  if (!existing.isEmpty()) {
    const QString question =
        existing.size() == 1
            ? tr("%1 exists already (%2). Replace it?")
                  .arg(existing.first(), QLocale().formattedDataSize(QFileInfo(existing.first()).size()))
            : tr("%1 of the frames' files exist already, from %2 to %3. Replace them?")
                  .arg(existing.size())
                  .arg(QFileInfo(existing.first()).fileName(), QFileInfo(existing.last()).fileName());
    QMessageBox ask(QMessageBox::Warning, tr("Replace Files"), question, QMessageBox::Yes | QMessageBox::Cancel, this);
    ask.setObjectName(QStringLiteral("replaceFiles"));
    ask.button(QMessageBox::Yes)->setText(tr("Replace"));
    ask.setDefaultButton(QMessageBox::Cancel);
    if (ask.exec() != QMessageBox::Yes) {
      status_->setText(tr("Nothing rendered: the files are as they were."));
      return;
    }
  }
  MovieCodecChoice codec;
  if (movieContainerForPath(pattern.toStdString())) {
    codec.codec = codec_->currentText().toStdString();
    if (quality_->isEnabled() && quality_->value() != quality_->minimum()) {
      codec.quality = quality_->value();
    }
  }
  start(pattern, first_->value(), last_->value(), depth_->currentData().toInt(), codec);
}

bool RenderDialog::start(const QString& pattern, long first, long last, int bitDepth, const MovieCodecChoice& codec) {
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
    keyEmitterLayers(*job, finishing_);
    if (std::optional<MovieContainer> container = movieContainerForPath(files)) {
      chooseMovieCodec(*container, codec);
    }
    writer = std::make_shared<FrameWriter>(openFrameWriter(files, codec, movieFramesOf(*job)));
    writer->setOutputAlpha(static_cast<OutputAlpha>(alpha_->currentData().toInt()));
    writer->setFinishing(finishing_, job->clock, loop_.length, finishingLayerHeight(*job));
  } catch (...) {
    status_->setText(failureText(std::current_exception()));
    return false;
  }
  stopRequested_ = false;
  QSettings remembered;
  remembered.setValue(QStringLiteral("render/folder"), QFileInfo(pattern).absolutePath());
  remembered.setValue(QStringLiteral("render/extension"), QString::fromStdString(lowercaseExtension(files)));
  remembered.setValue(QStringLiteral("render/depth"), bitDepth);
  progress_->setRange(0, static_cast<int>(last - first + 1));
  progress_->setValue(0);
  framesDone_ = 0;
  elapsed_.start();
  clock_->start();
  notes_ = writer->keepsAlpha() ? QString() : tr("The file keeps no alpha: the flames are written over black.");
  showProgress();
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
      message = writer->keepsAlpha() && writer->wroteAlphaFromLight()
                    ? tr("Done. The look's own output is opaque (flames on black): the frames were written with "
                         "alpha from the light.")
                    : tr("Done.");
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

void RenderDialog::noteOpaqueLook(bool opaque) {
  alphaNote_->setText(tr("This look's own output is opaque (flames on black). Alpha from the light gives it a "
                         "true alpha; the effect's own keeps it opaque."));
  alphaNote_->setVisible(opaque);
}

void RenderDialog::stop() { stopRequested_ = true; }

void RenderDialog::frameWritten() {
  ++framesDone_;
  progress_->setValue(framesDone_);
  showProgress();
}

void RenderDialog::showProgress() {
  QString text = renderProgressText(framesDone_, progress_->maximum(), elapsed_.elapsed());
  status_->setText(notes_.isEmpty() ? text : text + '\n' + notes_);
}

void RenderDialog::workerEnded(bool completed, const QString& message) {
  worker_->wait();
  delete worker_;
  worker_ = nullptr;
  clock_->stop();
  status_->setText(message + ' ' + renderProgressText(framesDone_, progress_->maximum(), elapsed_.elapsed()));
  render_->setEnabled(true);
  cancel_->setText(tr("Close"));
  emit finished(completed, message);
}
