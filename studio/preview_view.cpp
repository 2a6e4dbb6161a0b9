#include "studio/preview_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {

constexpr int checkerSquare = 8;  // pixels of the view
constexpr double minimumZoom = 1.0 / 32.0;
constexpr double maximumZoom = 32.0;
constexpr double zoomPerWheelNotch = 1.25;

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
  setToolTip(tr("Wheel: zoom; drag: pan; double-click: fit"));
}

void PreviewView::showImage(const QImage& image, QSize layerSize) {
  image_ = image;
  if (layerSize != layerSize_) {
    layerSize_ = layerSize;
    emit zoomChanged();
  }
  update();
}

void PreviewView::setNotice(const QString& notice) {
  if (notice != notice_) {
    notice_ = notice;
    update();
  }
}

void PreviewView::setBackground(PreviewBackground background, QColor colour, QImage picture) {
  background_ = background;
  colour_ = colour;
  picture_ = std::move(picture);
  update();
}

double PreviewView::zoom() const {
  if (!fitted_ || layerSize_.isEmpty()) {
    return scale_;
  }
  return std::min(static_cast<double>(width()) / layerSize_.width(),
                  static_cast<double>(height()) / layerSize_.height());
}

void PreviewView::zoomToFit() {
  fitted_ = true;
  centre_ = QPointF();
  update();
  emit zoomChanged();
}

void PreviewView::setZoom(double scale) { zoomAbout(QPointF(width() / 2.0, height() / 2.0), scale); }

void PreviewView::zoomAbout(QPointF anchor, double scale) {
  scale = std::clamp(scale, minimumZoom, maximumZoom);
  const double factor = scale / zoom();
  const QPointF viewCentre(width() / 2.0, height() / 2.0);
  // The layer point under the anchor stays there: its distance to the layer's centre grows by factor.
  const QPointF layerCentre = viewCentre + centre_;
  centre_ = anchor - (anchor - layerCentre) * factor - viewCentre;
  scale_ = scale;
  fitted_ = false;
  update();
  emit zoomChanged();
}

QRectF PreviewView::layerRect() const {
  const double scale = zoom();
  const QSizeF shown(layerSize_.width() * scale, layerSize_.height() * scale);
  const QPointF centre = QPointF(width() / 2.0, height() / 2.0) + centre_;
  return QRectF(centre - QPointF(shown.width() / 2.0, shown.height() / 2.0), shown);
}

void PreviewView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(0x23, 0x23, 0x23));
  if (!image_.isNull() && !layerSize_.isEmpty()) {
    const QRectF target = layerRect();
    switch (background_) {
      case PreviewBackground::checkerboard:
        painter.drawTiledPixmap(target, checker_, target.topLeft());
        break;
      case PreviewBackground::black:
        painter.fillRect(target, Qt::black);
        break;
      case PreviewBackground::colour:
        painter.fillRect(target, colour_);
        break;
      case PreviewBackground::image:
        painter.drawImage(target, picture_);
        break;
    }
    // Enlarged pixels stay sharp, so that single pixels can be judged.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, zoom() < 1.0);
    painter.drawImage(target, image_);
  }
  if (!notice_.isEmpty()) {
    QRect box = rect().adjusted(24, 24, -24, -24);
    QRect text = painter.boundingRect(box, Qt::AlignCenter | Qt::TextWordWrap, notice_).adjusted(-12, -8, 12, 8);
    painter.fillRect(text, QColor(0, 0, 0, 190));
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, notice_);
  }
}

void PreviewView::wheelEvent(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / 120.0;
  if (notches != 0.0) {
    zoomAbout(event->position(), zoom() * std::pow(zoomPerWheelNotch, notches));
  }
  event->accept();
}

void PreviewView::mousePressEvent(QMouseEvent* event) {
  dragFrom_ = event->position();
  setCursor(Qt::ClosedHandCursor);
}

void PreviewView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) {
    return;
  }
  centre_ += event->position() - dragFrom_;
  dragFrom_ = event->position();
  if (fitted_) {
    // Panning a fitted picture keeps its scale but no longer follows the view's size.
    scale_ = zoom();
    fitted_ = false;
    emit zoomChanged();
  }
  update();
}

void PreviewView::mouseReleaseEvent(QMouseEvent*) { unsetCursor(); }

void PreviewView::mouseDoubleClickEvent(QMouseEvent*) { zoomToFit(); }
