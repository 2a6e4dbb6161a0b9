// Reads that may never end (a FIFO waits for a writer) run on threads of their own, and their
// results come back to the GUI thread.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "authoring/settings_file.h"
#include "media/image_files.h"
#include "session/program_errors.h"

// Runs read on a thread of its own and hands its result to show on the GUI thread, unless the
// window is gone by then. The thread is detached: opening a FIFO waits for a writer that may never
// come, and neither the window nor quitting should wait for it.
template <typename Result, typename Window>
void readInBackground(Window* window, std::function<Result()> read, std::function<void(Result)> show) {
  QPointer<Window> receiver(window);
  std::thread([read = std::move(read), show = std::move(show), receiver]() mutable {
    Result result = read();
    QMetaObject::invokeMethod(
        qApp,
        [show = std::move(show), receiver, result = std::move(result)]() mutable {
          if (receiver) {
            show(std::move(result));
          }
        },
        Qt::QueuedConnection);
  }).detach();
}

// What a read found, or why it found nothing.
template <typename Value>
struct ReadResult {
  Value value;
  QString error;
};

template <typename Value>
ReadResult<Value> readCatching(const std::function<Value()>& read) {
  try {
    return {read(), QString()};
  } catch (const std::exception& error) {
    return {Value(), QString::fromStdString(error.what())};
  } catch (const Cancelled&) {
    return {Value(), QObject::tr("the read was stopped")};
  }
}

struct OpenedSettings {
  SettingsFile file;
  std::shared_ptr<const RgbaImage> emitter;
};

// Reads a settings file and the emitter image it names; meant for a background thread. A text
// whose image is missing (the file was moved without it) comes without one, to be drawn again.
inline ReadResult<OpenedSettings> readSettingsWithEmitter(const std::string& file) {
  return readCatching<OpenedSettings>([&] {
    OpenedSettings opened{readSettingsFile(file), nullptr};
    const SettingsScene& scene = opened.file.scene;
    std::error_code unreadable;
    const bool textWithoutImage =
        !scene.emitterText.empty() && !std::filesystem::is_regular_file(scene.emitterPath, unreadable);
    if (!scene.emitterPath.empty() && !textWithoutImage) {
      opened.emitter = std::make_shared<const RgbaImage>(readImageFile(opened.file.scene.emitterPath));
    }
    return opened;
  });
}
