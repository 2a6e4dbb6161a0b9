#include "studio/remembered_choices.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <mutex>
#include <thread>

namespace {

// A few lines of choices; a larger file is not this program's, and is left alone.
constexpr qint64 largestConfigurationBytes = 64 * 1024;

struct Remembered {
  std::mutex lock;
  QString file;
  RenderChoices choices;
  // Counts the choices set in memory: a read that ends after one of them is stale.
  quint64 changes = 0;
};

Remembered& remembered() {
  static Remembered instance;
  return instance;
}

// QSettings reads the whole file, also before it writes: only a regular file of a configuration's
// size (or none yet) is handed to it.
bool usableConfiguration(const QString& file) {
  const QFileInfo info(file);
  return !info.exists() || (info.isFile() && info.size() <= largestConfigurationBytes);
}

void writeRenderChoices(const QString& file, const RenderChoices& choices) {
  if (!usableConfiguration(file)) {
    return;
  }
  QSettings settings(file, QSettings::NativeFormat);
  settings.setValue(QStringLiteral("render/folder"), choices.folder);
  settings.setValue(QStringLiteral("render/file_name"), choices.fileName);
  settings.setValue(QStringLiteral("render/depth"), choices.depth);
  settings.setValue(QStringLiteral("render/codec"), choices.codec);
}

}  // namespace

QString defaultConfigurationFile() {
  return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
      .filePath(QStringLiteral("vortelline/vortelline-studio.conf"));
}

RenderChoices readRenderChoices(const QString& file) {
  RenderChoices choices;
  if (!QFileInfo(file).isFile() || !usableConfiguration(file)) {
    return choices;
  }
  const QSettings settings(file, QSettings::NativeFormat);
  choices.folder = settings.value(QStringLiteral("render/folder")).toString();
  choices.fileName = settings.value(QStringLiteral("render/file_name")).toString();
  // Files of earlier versions kept only the format.
  if (choices.fileName.isEmpty() && settings.contains(QStringLiteral("render/extension"))) {
    choices.fileName = QStringLiteral("flames") + settings.value(QStringLiteral("render/extension")).toString();
  }
  choices.depth = settings.value(QStringLiteral("render/depth")).toInt();
  choices.codec = settings.value(QStringLiteral("render/codec")).toString();
  return choices;
}

void rememberChoicesIn(const QString& file) {
  quint64 changesBefore = 0;
  {
    std::lock_guard<std::mutex> guard(remembered().lock);
    remembered().file = file;
    changesBefore = remembered().changes;
  }
  if (file.isEmpty()) {
    return;
  }
  // Detached: neither the window nor quitting waits for a file system that does not answer.
  std::thread([file, changesBefore] {
    RenderChoices choices = readRenderChoices(file);
    std::lock_guard<std::mutex> guard(remembered().lock);
    if (remembered().changes == changesBefore && remembered().file == file) {
      remembered().choices = choices;
    }
  }).detach();
}

RenderChoices rememberedRenderChoices() {
  std::lock_guard<std::mutex> guard(remembered().lock);
  return remembered().choices;
}

void rememberRenderChoices(const RenderChoices& choices) {
  QString file;
  {
    std::lock_guard<std::mutex> guard(remembered().lock);
    remembered().choices = choices;
    ++remembered().changes;
    file = remembered().file;
  }
  if (!file.isEmpty()) {
    std::thread([file, choices] { writeRenderChoices(file, choices); }).detach();
  }
}
