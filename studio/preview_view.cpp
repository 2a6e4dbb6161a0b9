#include "studio/preview_view.h"

#include <QPainter>

namespace {

constexpr int checkerSquare = 8;  // pixels of the view

QPixmap checkerboard() {
  QPixmap tile(2 * checkerSquare, 2 * checkerSquare);
  tile.fill(QColor(0x99, 0x99, 0x99));
  QPainter painter(&tile);
  painter.fillRect(0, 0, checkerSquare, checkerSquare, QColor(0x66, 0x66, 0x66));
  painter.fillRect(checkerSquare, checkerSquare, checkerSquare, checkerSquare, QColor(0x66, 0x66, 0x66));
  return tile;
}

}  // namespace

PreviewView::PreviewView(QWidget* parent) : QWidget(parent), checker_(checkerboard()) {
  setMinimumSize(320, 180);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PreviewView::showImage(const QImage& image, QSize layerSize) {
  image_ = image;
  layerSize_ = layerSize;
  update();
}

void PreviewView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(0x23, 0x23, 0x23));
  if (image_.isNull() || layerSize_.isEmpty()) {
    return;
  }
  QSize fitted = layerSize_.scaled(size(), Qt::KeepAspectRatio);
  QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
  painter.drawTiledPixmap(target, checker_);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, image_);
}
