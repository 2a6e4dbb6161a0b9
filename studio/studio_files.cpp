// The studio window's settings files: opening, saving, starting anew, and what happens to unsaved
// changes on the way.
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSpinBox>
#include <QStatusBar>
#include <QUndoStack>
#include <algorithm>
#include <cstdio>

#include "authoring/presets.h"
#include "session/program_errors.h"
#include "studio/background_read.h"
#include "studio/effect_panel.h"
#include "studio/preset_browser.h"
#include "studio/studio_window.h"

QString StudioWindow::saveSettings(const QString& path) {
  QString error = writeSettings(path);
  if (!error.isEmpty()) {
    return error;
  }
  undo_->setClean();
  showSettingsPath(QFileInfo(path).absoluteFilePath());
  statusBar()->showMessage(tr("Saved %1").arg(path), 5000);
  return QString();
}

QString userLookFolder() { return QString::fromStdString(userLookFolderPath().string()); }

QString StudioWindow::saveLook(const QString& name) {
  // The name becomes the file's: one that could leave the folder or hide is refused.
  if (name.trimmed().isEmpty() || name.contains('/') || name.startsWith('.')) {
    return tr("A look's name is not empty, has no / and does not start with a dot.");
  }
  if (!QDir().mkpath(userLookFolder())) {
    return tr("Cannot make the folder %1").arg(userLookFolder());
  }
  QString error = writeSettings(QDir(userLookFolder()).filePath(name.trimmed() + QStringLiteral(".json")));
  if (error.isEmpty()) {
    presets_->showFolders({presetFolder(), userLookFolder().toStdString()}, *session_);
    statusBar()->showMessage(tr("Saved the look %1 in %2").arg(name.trimmed(), userLookFolder()), 5000);
  }
  return error;
}

QString StudioWindow::writeSettings(const QString& path) {
  SettingsScene scene;
  scene.width = session_->layerWidth;
  scene.height = session_->layerHeight;
  scene.clock = session_->clock;
  scene.frame = frame_;
  scene.lastFrame = lastFrame_->value();
  scene.loopLength = loopFrames_;
  scene.finishing = finishing_;
  scene.emitterPath = emitterChoice_.path.toStdString();
  scene.emitterText = emitterChoice_.text.toStdString();
  scene.emitterTextStyle = emitterChoice_.textStyle;
  scene.emitterPlacement = emitterChoice_.placement;
  try {
    if (!emitterChoice_.text.isEmpty()) {
      scene.emitterPlacement = EmitterPlacement{};
      // A renderer without fonts reads the drawn text as an image beside the settings.
      QFileInfo info(path);
      QString imageName = info.completeBaseName() + QStringLiteral(".emitter.png");
      // Saved just after an edit, before its drawing came: drawn here, so that the image matches the text.
      std::shared_ptr<const RgbaImage> drawn =
          textImageCurrent() ? emitterChoice_.image
                             : std::make_shared<const RgbaImage>(
                                   drawEmitterText(emitterChoice_.text.toStdString(), session_->layerWidth,
                                                   session_->layerHeight, emitterChoice_.textStyle));
      writeImageFile(info.dir().filePath(imageName).toStdString(), hostWorldFromImage(*drawn, 8).world, 8);
      scene.emitterPath = imageName.toStdString();
    }
    writeSettingsFile(path.toStdString(), *session_, scene);
  } catch (const std::exception& error) {
    return QString::fromStdString(error.what());
  }
  return QString();
}

bool StudioWindow::save() {
  if (windowFilePath().isEmpty()) {
    return saveWithDialog();
  }
  QString error = saveSettings(windowFilePath());
  if (!error.isEmpty()) {
    QMessageBox::warning(this, tr("Save Settings"), error);
    return false;
  }
  return true;
}

void StudioWindow::showSettingsPath(const QString& path) {
  setWindowFilePath(path);
  // The file's name first, as editors show it; [*] becomes the modified marker.
  const QString name = path.isEmpty() ? tr("Untitled") : QFileInfo(path).fileName();
  setWindowTitle(tr("%1[*] \u2014 Vortelline Studio").arg(name));
}

bool StudioWindow::saveWithDialog() {
  const QString suggested = windowFilePath().isEmpty() ? QStringLiteral("flames.vortelline.json") : windowFilePath();
  QString path = QFileDialog::getSaveFileName(this, tr("Save Settings As"), suggested, tr("Settings (*.json)"));
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
      return save();
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
  restoreState(defaultStudioState(*session_));
  setFrame(0);
  undo_->clear();
  showSettingsPath(QString());
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
  // A text comes with the image it was drawn as; the image is used as it is, or the text drawn
  // again when the image is missing or not of the file's layer size.
  const QString text = QString::fromStdString(file.scene.emitterText);
  if (!text.isEmpty() && emitter && (emitter->width != file.scene.width || emitter->height != file.scene.height)) {
    emitter = nullptr;  // drawn again off the window's thread, at the file's size
  }
  // Files saved before the timeline's end was kept show at least the default range.
  const long lastFrame = file.scene.lastFrame.value_or(std::max<long>(defaultLastFrame, file.scene.frame));
  StudioState state{opened.tracks,
                    QSize(file.scene.width, file.scene.height),
                    file.scene.clock,
                    static_cast<int>(lastFrame),
                    file.scene.loopLength,
                    {emitter, text.isEmpty() ? QString::fromStdString(file.scene.emitterPath) : QString(),
                     file.scene.emitterPlacement, text, file.scene.emitterTextStyle, emitter ? text : QString(),
                     file.scene.emitterTextStyle},
                    file.scene.finishing};
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
  showSettingsPath(QFileInfo(path).absoluteFilePath());
  emit settingsOpened(QString());
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
