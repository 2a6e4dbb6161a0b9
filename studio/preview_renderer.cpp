#include "studio/preview_renderer.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <new>

#include "authoring/emitter_key_layers.h"
#include "authoring/render_job.h"
#include "media/seamless_loop.h"
#include "session/program_errors.h"

PreviewRenderer::PreviewRenderer(QObject* parent) : QThread(parent) {}

PreviewRenderer::~PreviewRenderer() {
  {
    QMutexLocker lock(&mutex_);
    quitting_ = true;
    restart_ = true;
    wake_.wakeOne();
  }
  wait();
}

void PreviewRenderer::render(PreviewRequest request) {
  QMutexLocker lock(&mutex_);
  pending_ = std::move(request);
  restart_ = true;
  if (!isRunning()) {
    start();
  } else {
    wake_.wakeOne();
  }
}

std::optional<PreviewRequest> PreviewRenderer::nextRequest() {
  QMutexLocker lock(&mutex_);
  while (!pending_ && !quitting_) {
    wake_.wait(&mutex_);
  }
  if (quitting_) {
    return std::nullopt;
  }
  std::optional<PreviewRequest> request = std::move(pending_);
  pending_.reset();
  restart_ = false;
  return request;
}

void PreviewRenderer::run() {
  while (std::optional<PreviewRequest> request = nextRequest()) {
    for (int downsample : request->downsamples) {
      // Each pass renders from its own copy, so that nothing it reads changes under it.
      HostSession pass = *request->session;
      pass.downsample = downsample;
      pass.stopRequested = &restart_;
      emit passStarted(request->generation, downsample);
      try {
        placeLayers(pass, nullptr, request->emitter.get());
        keyEmitterLayers(pass, request->finishing);
        QElapsedTimer timer;
        timer.start();
        HostWorld world = renderLoopFrame(pass, request->frame, request->loop, RenderPath::smart);
        const bool opaque = isOpaque(world);
        finishFrame(world, request->finishing,
                    finishingFrameAt(pass.clock, request->frame, request->loop.length, finishingLayerHeight(pass)),
                    request->outputAlpha);
        double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        emit frameReady(PreviewFrame{imageFromHostWorld(world), request->frame, downsample, seconds,
                                     request->generation, opaque});
      } catch (const Cancelled&) {
        emit passStopped(request->generation, downsample);
        break;
      } catch (const std::exception& error) {
        emit renderFailed(QString::fromStdString(error.what()), request->generation);
        break;
      }
      if (restart_) {
        break;
      }
    }
  }
}

QImage imageFromHostWorld(const HostWorld& world) {
  QImage image(world.world.width, world.world.height, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < world.world.height; ++y) {
    const auto* pixel = reinterpret_cast<const uint8_t*>(pixelAddress(world.world, 0, y, 8));
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < world.world.width; ++x, pixel += 4) {
      line[x] = qRgba(pixel[1], pixel[2], pixel[3], pixel[0]);
    }
  }
  return image;
}

