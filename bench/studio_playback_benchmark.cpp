// How fast the studio plays a clip whose frames are not rendered yet: frames shown per second
// during the first pass of playback, on Qt's offscreen platform, at the default layer size.
//   vortelline_studio_playback_benchmark [QUALITY] [SECONDS]   (default "Original (256)", 20)
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <cstdio>
#include <cstdlib>

#include "studio/effect_panel.h"
#include "studio/studio_window.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  const QString quality = argc > 1 ? QString::fromUtf8(argv[1]) : QStringLiteral("Original (256)");
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;

  StudioWindow window(startSession(VORTELLINE_BUILT_MODULE_PATH));
  window.setLayerSize(QSize(960, 540));
  qobject_cast<QComboBox*>(window.panel()->editor(QStringLiteral("Quality")))->setCurrentText(quality);
  window.findChild<QSpinBox*>(QStringLiteral("lastFrame"))->setValue(999);
  window.show();
  // Start-up and the first frame are not playback.
  if (!QTest::qWaitFor([&] { return window.finishedGeneration() == window.generation(); }, 600000)) {
    std::fprintf(stderr, "the first frame never finished\n");
    return 1;
  }

  window.findChild<QToolButton*>(QStringLiteral("play"))->click();
  QElapsedTimer timer;
  timer.start();
  long shown = window.frame();
  int frames = 0;
  while (timer.elapsed() < seconds * 1000) {
    QTest::qWait(1);
    if (window.frame() != shown) {
      shown = window.frame();
      ++frames;
    }
  }
  const double elapsed = static_cast<double>(timer.elapsed()) / 1000.0;
  std::printf("%s, 960x540: %d frames in %.1f s, %.2f fps\n", qPrintable(quality), frames, elapsed, frames / elapsed);
  return 0;
}
