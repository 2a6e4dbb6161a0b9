#include "cli/banner_image.h"

#include <strings.h>

#include <filesystem>
#include <new>
#include <optional>

#include <QImage>
#include <QPainter>

#include "authoring/render_options.h"
#include "drawing/custom_control.h"
#include "drawing/drawing_suites.h"
#include "media/image_files.h"
#include "session/program_errors.h"

void writeCustomControlImage(const std::string& modulePath, const std::string& size, const std::string& outputPath) {
  // Asked before the format, whose message would offer .exr too.
  if (strcasecmp(std::filesystem::path(outputPath).extension().c_str(), ".png") != 0) {
    throw UsageError("the banner is written as PNG: give an output file ending in .png");
  }
  std::optional<FrameSize> requested;
  if (!size.empty()) {
    requested = parseFrameSize(size);
  }
  std::unique_ptr<HostSession> session = startSession(modulePath);
  SessionScope scope{*session};
  const int position = customControlPosition(*session);
  if (position < 0) {
    throw RunError("the effect declares no control that it draws itself");
  }
  const FrameSize frame =
      requested.value_or(FrameSize{session->params[position].def.ui_width, session->params[position].def.ui_height});
  if (frame.width < 1 || frame.height < 1) {
    throw UsageError("the effect's control declares no size: give one with --size");
  }
  QImage drawn(frame.width, frame.height, QImage::Format_ARGB32_Premultiplied);
  if (drawn.isNull()) {
    throw std::bad_alloc();
  }
  drawn.fill(Qt::transparent);
  QPainter painter(&drawn);
  drawCustomControl(*session, painter, PF_Rect{0, 0, frame.width, frame.height}, 0);
  painter.end();
  scope.end();

  HostWorld world = hostWorldFromQImage(drawn);
  writeImageFile(outputPath, world.world, 8);
}
