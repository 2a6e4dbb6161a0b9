// The library of looks: each preset as a thumbnail of one of its frames with its name, its
// description as a tooltip; the looks that come with the program, then the user's own. Thumbnails
// render one after another on a thread of their own, from a copy of the session taken when the
// folders are shown, at the layer's shape.
#pragma once

#include <QListWidget>
#include <QStringList>
#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "authoring/presets.h"
#include "session/host_session.h"

class PresetBrowser : public QListWidget {
  Q_OBJECT

 public:
  explicit PresetBrowser(QWidget* parent = nullptr);
  ~PresetBrowser() override;

  // Lists the folders' presets and renders their thumbnails, both on the thread (no file is read
  // on the GUI thread); what cannot be listed is said in the list. A folder that does not exist
  // (the user's, before the first look is saved) is skipped. A look whose emitter is not a plain
  // file (a FIFO that may never deliver) gets no thumbnail.
  void showFolders(const std::vector<std::filesystem::path>& folders, const HostSession& session);
  bool foldersShown() const { return shownFolders_ > 0; }
  // Whether the list is shown and every thumbnail is done (rendered or failed).
  bool thumbnailsDone() const { return !listing_ && thumbnailsLeft_ == 0; }

 // Stops rendering thumbnails and waits for the thread: before the session it copied goes.
  void stopThumbnails();

 signals:
  // Double-click or Enter on a preset.
  void presetChosen(const QString& path);

 private:
  void showList(const std::vector<PresetInfo>& presets, const QStringList& problems);

  std::thread thumbnails_;
  std::atomic<bool> stop_{false};
  bool listing_ = false;
  int thumbnailsLeft_ = 0;
  int shownFolders_ = 0;  // thumbnails of an earlier folder are dropped
};
