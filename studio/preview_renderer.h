// Renders the preview on a thread of its own, coarse then fine, as Qt's Mandelbrot example does:
// a new request stops the running pass through the host's abort callback and starts over, and the
// GUI thread only shows finished images.
#pragma once

#include <QImage>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "finishing/finishing.h"
#include "media/seamless_loop.h"
#include "session/host_session.h"

struct PreviewRequest {
  std::shared_ptr<const HostSession> session;  // a copy of the panel's values, never changed after
  std::shared_ptr<const RgbaImage> emitter;    // none: the Emitter Layer is the layer itself
  long frame = 0;
  LoopSettings loop;                   // none: frames as they are
  std::vector<int> downsamples{4, 1};  // the passes, coarse first
  quint64 generation = 0;              // which state of the values this shows
  OutputAlpha outputAlpha = OutputAlpha::automatic;  // as Render... and `vortelline render` write it
  FinishingValues finishing;                         // glow, flicker and the emitter key
};

struct PreviewFrame {
  QImage image;  // premultiplied, at 1/downsample of the layer's size
  long frame = 0;
  int downsample = 1;
  double seconds = 0.0;
  quint64 generation = 0;
  bool opaqueLook = false;  // the effect's own frame was opaque (flames on black)
};

class PreviewRenderer : public QThread {
  Q_OBJECT

 public:
  explicit PreviewRenderer(QObject* parent = nullptr);
  ~PreviewRenderer() override;

  // Replaces whatever is waiting or running.
  void render(PreviewRequest request);

 signals:
  void passStarted(quint64 generation, int downsample);
  void frameReady(const PreviewFrame& frame);
  // The pass was stopped at an abort check because a newer request came.
  void passStopped(quint64 generation, int downsample);
  void renderFailed(const QString& message, quint64 generation);

 protected:
  void run() override;

 private:
  std::optional<PreviewRequest> nextRequest();

  QMutex mutex_;
  QWaitCondition wake_;
  std::optional<PreviewRequest> pending_;
  bool quitting_ = false;
  // Read by the effect's abort checks on this thread, set by the GUI thread.
  std::atomic<bool> restart_{false};
};

// The 8-bit host world as a premultiplied QImage; hostWorldFromQImage turns it back, byte for byte.
QImage imageFromHostWorld(const HostWorld& world);
