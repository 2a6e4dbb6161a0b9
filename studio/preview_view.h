// Shows the last finished preview image over a background of the user's choice (for display only:
// renders never see it), zoomed to fit or to a scale the wheel sets, panned by dragging, with a
// notice over it when the picture needs explaining.
#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPointF>
#include <QSize>
#include <QWidget>

enum class PreviewBackground { checkerboard, black, colour, image };

class PreviewView : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewView(QWidget* parent = nullptr);

  // layerSize is the frame's full-resolution size: a coarse image is shown at the same place.
  void showImage(const QImage& image, QSize layerSize);
  const QImage& image() const { return image_; }
  // A text drawn over the picture; empty for none.
  void setNotice(const QString& notice);
  const QString& notice() const { return notice_; }
  void setBackground(PreviewBackground background, QColor colour = QColor(), QImage picture = QImage());

  // The whole layer in the view, centred; it stays fitted as the view resizes.
  void zoomToFit();
  // Layer pixels per view pixel at the given scale (1 = 100 %), keeping the view's centre.
  void setZoom(double scale);
  double zoom() const;  // the scale on show, fitted or not
  bool fitted() const { return fitted_; }

 signals:
  void zoomChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  // Scales about a point of the view, which keeps showing the same layer pixel.
  void zoomAbout(QPointF anchor, double scale);
  QRectF layerRect() const;

  QImage image_;
  QSize layerSize_;
  QString notice_;
  PreviewBackground background_ = PreviewBackground::checkerboard;
  QColor colour_;
  QImage picture_;
  QPixmap checker_;
  bool fitted_ = true;
  double scale_ = 1.0;
  QPointF centre_;  // where the layer's centre is, relative to the view's centre, in view pixels
  QPointF dragFrom_;
};
