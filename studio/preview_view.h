// Shows the last finished preview image, zoomed to fit, over a checkerboard where it is
// transparent.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QWidget>

class PreviewView : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewView(QWidget* parent = nullptr);

  // layerSize is the frame's full-resolution size: a coarse image is shown at the same place.
  void showImage(const QImage& image, QSize layerSize);
  const QImage& image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;
  QSize layerSize_;
  QPixmap checker_;
};
