#include "studio/preset_browser.h"

#include <QPainter>
#include <QStyle>
#include <vector>

#include "authoring/emitter_key_layers.h"
#include "authoring/emitter_placement.h"
#include "authoring/presets.h"
#include "authoring/render_job.h"
#include "authoring/settings_file.h"
#include "media/image_files.h"
#include "session/program_errors.h"
#include "studio/preview_renderer.h"

namespace {

constexpr int thumbnailWidth = 160;  // pixels
// A second in, where a look's flames have formed.
constexpr long thumbnailFrame = 24;

// The preset's frame at 1/downsample of the layer, over the preview's dark grey; a null image
// when it cannot be rendered.
QImage renderThumbnail(const HostSession& base, const std::filesystem::path& file, int downsample) {
  HostSession session = base;
  session.downsample = downsample;
  try {
    SettingsFile preset = readSettingsFile(file.string());
    applyAssignments(session, preset.assignments, file.string());
    std::optional<RgbaImage> emitter;
    if (!preset.scene.emitterPath.empty()) {
      emitter = readImageFile(preset.scene.emitterPath);
      if (!leavesImageAsItIs(preset.scene.emitterPlacement)) {
        emitter = placeEmitterImage(*emitter, session.layerWidth, session.layerHeight, preset.scene.emitterPlacement);
      }
    }
    placeLayers(session, nullptr, emitter ? &*emitter : nullptr);
    keyEmitterLayers(session, preset.scene.finishing);
    HostWorld frame = renderFrame(session, thumbnailFrame, RenderPath::smart);
    finishFrame(frame, preset.scene.finishing,
                finishingFrameAt(session.clock, thumbnailFrame, 0, finishingLayerHeight(session)), OutputAlpha::effect);
    QImage flames = imageFromHostWorld(frame);
    QImage thumbnail(flames.size(), QImage::Format_ARGB32_Premultiplied);
    thumbnail.fill(QColor(0x23, 0x23, 0x23));
    QPainter(&thumbnail).drawImage(0, 0, flames);
    return thumbnail;
  } catch (const std::exception&) {
    return QImage();
  } catch (const Cancelled&) {
    return QImage();
  }
}

}  // namespace

PresetBrowser::PresetBrowser(QWidget* parent) : QListWidget(parent) {
  // One column of thumbnails, each name under its picture.
  setViewMode(QListView::IconMode);
  setFlow(QListView::TopToBottom);
  setWrapping(false);
  setMovement(QListView::Static);
  setResizeMode(QListView::Adjust);
  setIconSize(QSize(thumbnailWidth, thumbnailWidth * 9 / 16));
  setSpacing(4);
  setUniformItemSizes(true);
  setMinimumWidth(thumbnailWidth + 2 * frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 16);
  connect(this, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { emit presetChosen(item->data(Qt::UserRole).toString()); });
}

PresetBrowser::~PresetBrowser() { stopThumbnails(); }

void PresetBrowser::stopThumbnails() {
  stop_ = true;
  if (thumbnails_.joinable()) {
    thumbnails_.join();
  }
  stop_ = false;
}

void PresetBrowser::showFolders(const std::vector<std::filesystem::path>& folders, const HostSession& session) {
  stopThumbnails();
  clear();
  std::vector<PresetInfo> presets;
  for (const std::filesystem::path& folder : folders) {
    std::error_code unreadable;
    if (!std::filesystem::exists(folder, unreadable) && folder != folders.front()) {
      continue;
    }
    try {
      std::vector<PresetInfo> listed = listPresets(folder);
      presets.insert(presets.end(), listed.begin(), listed.end());
    } catch (const std::exception& error) {
      auto* item = new QListWidgetItem(QString::fromStdString(error.what()), this);
      item->setFlags(Qt::NoItemFlags);
    }
  }
  // Every control at its default: a preset sets the rest.
  HostSession base = session;
  base.tracks.assign(base.tracks.size(), ParamTrack{});
  base.stopRequested = &stop_;
  const int downsample = std::max(1, static_cast<int>(base.layerWidth) / thumbnailWidth);
  QPixmap placeholder(iconSize());
  placeholder.fill(QColor(0x23, 0x23, 0x23));
  const int firstPreset = count();
  for (const PresetInfo& preset : presets) {
    auto* item = new QListWidgetItem(QIcon(placeholder), QString::fromStdString(preset.name), this);
    item->setToolTip(QString::fromStdString(preset.description));
    item->setData(Qt::UserRole, QString::fromStdString(preset.file.string()));
  }
  thumbnailsLeft_ = static_cast<int>(presets.size());
  const int shown = ++shownFolders_;
  thumbnails_ = std::thread([this, presets, base = std::move(base), downsample, shown, firstPreset] {
    for (size_t index = 0; index < presets.size() && !stop_; ++index) {
      QImage thumbnail = renderThumbnail(base, presets[index].file, downsample);
      // Delivered to this browser's thread; the destructor joins this thread before the
      // browser goes, and Qt drops what is still queued for it then.
      QMetaObject::invokeMethod(this, [this, index, thumbnail, shown, firstPreset] {
        if (shown != shownFolders_) {
          return;
        }
        --thumbnailsLeft_;
        if (QListWidgetItem* shown = item(firstPreset + static_cast<int>(index)); shown && !thumbnail.isNull()) {
          // The same picture when selected: the style's tint would hide the look.
          QPixmap picture =
              QPixmap::fromImage(thumbnail.scaled(iconSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
          QIcon icon(picture);
          icon.addPixmap(picture, QIcon::Selected);
          shown->setIcon(icon);
        }
      });
    }
  });
}
