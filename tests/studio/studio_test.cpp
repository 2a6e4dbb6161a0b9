// The studio's window against the real module: what the panel changes is what the preview and
// the command line render, the effect's greying reaches the panel, and a change stops a running
// render.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDial>
#include <QSlider>
#include <QUndoStack>
#include <QWheelEvent>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStatusBar>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QSemaphore>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "drawing/drawing_suites.h"
#include "media/frame_output.h"
#include "media/image_files.h"
#include "studio/effect_panel.h"
#include "studio/finishing_panel.h"
#include "studio/preset_browser.h"
#include "studio/preview_view.h"
#include "studio/remembered_choices.h"
#include "studio/render_dialog.h"
#include "studio/studio_window.h"
#include "drawing/emitter_text.h"
#include "studio/timeline_slider.h"
#include "tests/support/program_runner.h"

namespace {

constexpr int waitMilliseconds = 120000;  // a ceiling for slow sanitizer builds, never a measure

std::string fileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::unique_ptr<StudioWindow> openWindow(QSize layerSize, const char* quality = "Draft (64)") {
  auto window = std::make_unique<StudioWindow>(startSession(VORTELLINE_MODULE_PATH));
  window->setLayerSize(layerSize);
  auto* qualityPopup = qobject_cast<QComboBox*>(window->panel()->editor(QStringLiteral("Quality")));
  qualityPopup->setCurrentText(QString::fromUtf8(quality));
  return window;
}

bool waitForFinishedFrame(StudioWindow& window) {
  return QTest::qWaitFor(
      [&] { return !window.drawingEmitterText() && window.finishedGeneration() == window.generation(); },
      waitMilliseconds);
}

// What openSettings reported: empty when the file is on show.
QString openAndWait(StudioWindow& window, const QString& path) {
  QSignalSpy opened(&window, &StudioWindow::settingsOpened);
  window.openSettings(path);
  if (!QTest::qWaitFor([&] { return opened.count() == 1; }, waitMilliseconds)) {
    return QStringLiteral("never opened");
  }
  return opened.first().at(0).toString();
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

void setNumber(StudioWindow& window, const char* control, double value) {
  auto* number = qobject_cast<QDoubleSpinBox*>(window.panel()->editor(QString::fromUtf8(control)));
  ASSERT_NE(number, nullptr) << control;
  number->setValue(value);
}

TEST(Studio, PreviewShowsWhatTheCommandLineRenders) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(48, 27));
  ASSERT_TRUE(waitForFinishedFrame(*window));
  const QImage before = window->finishedImage();

  setNumber(*window, "Density", 1.7);
  setNumber(*window, "Noise Flow/Y", -0.8);
  ASSERT_TRUE(waitForFinishedFrame(*window));
  ASSERT_EQ(window->finishedImage().size(), QSize(48, 27));
  EXPECT_NE(window->finishedImage(), before);

  const std::string folder = makeScratchFolder();
  writeImageFile(folder + "/studio.png", hostWorldFromQImage(window->finishedImage()).world, 8);
  ASSERT_EQ(window->saveSettings(QString::fromStdString(folder + "/look.json")), QString());
  struct Case {
    const char* name;
    std::vector<std::string> options;
  };
  const Case cases[] = {
      {"options", {"--size", "48x27", "--set", "Quality=Draft (64)", "--set", "Density=1.7", "--set",
                   "Noise Flow/Y=-0.8"}},
      {"settings", {"--settings", folder + "/look.json"}},
  };
  for (const Case& test : cases) {
    std::vector<std::string> arguments{"render", "--quiet", "-o", folder + "/" + test.name + ".png"};
    arguments.insert(arguments.end(), test.options.begin(), test.options.end());
    ProgramRun run = runProgram(arguments, folder);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(fileBytes(folder + "/" + test.name + ".png"), fileBytes(folder + "/studio.png")) << test.name;
  }
}

// The text and its style travel in the settings file: the command line renders the studio's frame
// from the image saved beside the file, and, with that image gone, from the text it draws itself.
TEST(Studio, TextEmitterSavesAndRendersTheSame) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(64, 36));
  qobject_cast<QComboBox*>(window->panel()->editor(QStringLiteral("Emitter/Source")))->setCurrentText("Layer Alpha");
  window->setEmitterText(QStringLiteral("VO"));
  EmitterTextStyle style;
  style.pixelSize = 20;
  style.anchorX = 0.1;
  style.alignment = TextAlignment::left;
  window->setEmitterTextStyle(style);
  ASSERT_TRUE(waitForFinishedFrame(*window));
  const std::string folder = makeScratchFolder();
  writeImageFile(folder + "/studio.png", hostWorldFromQImage(window->finishedImage()).world, 8);
  ASSERT_EQ(window->saveSettings(QString::fromStdString(folder + "/title.json")), QString());
  for (bool withImage : {true, false}) {
    if (!withImage) {
      ASSERT_EQ(std::remove((folder + "/title.emitter.png").c_str()), 0);
    }
    ProgramRun run = runProgram(
        {"render", "--quiet", "--settings", folder + "/title.json", "-o", folder + "/cli.png"}, folder);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(fileBytes(folder + "/cli.png"), fileBytes(folder + "/studio.png")) << withImage;
  }
  // The studio opens the file without its image as it was saved.
  std::unique_ptr<StudioWindow> opened = openWindow(QSize(16, 9));
  ASSERT_EQ(openAndWait(*opened, QString::fromStdString(folder + "/title.json")), QString());
  ASSERT_TRUE(waitForFinishedFrame(*opened));
  EXPECT_EQ(opened->finishedImage(), window->finishedImage());
  EXPECT_EQ(opened->panel()->findChild<QComboBox*>(QStringLiteral("textAlignment"))->currentText(), "Left");
  // At another layer size, the studio and the command line draw the text for that size alike.
  window->setLayerSize(QSize(96, 54));
  ASSERT_TRUE(waitForFinishedFrame(*window));
  writeImageFile(folder + "/studio_large.png", hostWorldFromQImage(window->finishedImage()).world, 8);
  ProgramRun large = runProgram({"render", "--quiet", "--settings", folder + "/title.json", "--size", "96x54", "-o",
                                 folder + "/cli_large.png"},
                                folder);
  ASSERT_EQ(large.exitCode, 0) << large.err;
  EXPECT_EQ(fileBytes(folder + "/cli_large.png"), fileBytes(folder + "/studio_large.png"));
  window->setLayerSize(QSize(64, 36));
  ASSERT_TRUE(waitForFinishedFrame(*window));
  // Flames rise from the letters: the frame is not empty.
  const QImage& image = window->finishedImage();
  int lit = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      lit += qAlpha(image.pixel(x, y)) > 0;
    }
  }
  EXPECT_GT(lit, 0);
}

TEST(Studio, TheEffectGreysWhatTheSourceDoesNotUse) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 9));
  auto* source = qobject_cast<QComboBox*>(window->panel()->editor(QStringLiteral("Emitter/Source")));
  ASSERT_NE(source, nullptr);
  const char* layerControls[] = {"Emitter/Emitter Layer", "Emitter/Rise Height", "Emitter/Rise Speed"};
  const char* volumeControls[] = {"Step Size", "Sphere Radius", "View/Camera Distance"};
  struct Case {
    const char* source;
    bool layerSource;
  };
  for (const Case& test : {Case{"Original Volume", false}, Case{"Layer Alpha", true}, Case{"Layer Luma", true},
                           Case{"Original Volume", false}}) {
    source->setCurrentText(QString::fromUtf8(test.source));
    for (const char* control : layerControls) {
      EXPECT_EQ(window->panel()->row(QString::fromUtf8(control))->isEnabled(), test.layerSource)
          << test.source << ": " << control;
    }
    for (const char* control : volumeControls) {
      EXPECT_EQ(window->panel()->row(QString::fromUtf8(control))->isEnabled(), !test.layerSource)
          << test.source << ": " << control;
    }
  }
}

TEST(Studio, HueDialsFollowTheirKeyframedSliders) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 9));
  const QString hue = QStringLiteral("Inner Color/Hue");
  auto* dial = qobject_cast<QDoubleSpinBox*>(window->panel()->editor(hue));
  auto* key = window->panel()->findChild<QToolButton*>(hue + QStringLiteral(" key"));
  ASSERT_NE(dial, nullptr);
  ASSERT_NE(key, nullptr);
  auto* swatch = window->panel()->findChild<QToolButton*>(hue + QStringLiteral(" swatch"));
  ASSERT_NE(swatch, nullptr);
  // Turn the dial at frame 0 and key it; turn it again at frame 10, which keys it there too.
  dial->setValue(100.0);
  key->click();
  window->setFrame(10);
  dial->setValue(200.0);
  EXPECT_TRUE(key->isChecked());

  struct Case {
    long frame;
    double shown;
  };
  for (const Case& test : {Case{5, 150.0}, Case{0, 100.0}, Case{20, 200.0}, Case{10, 200.0}}) {
    window->setFrame(test.frame);
    EXPECT_EQ(dial->value(), test.shown) << test.frame;
    EXPECT_TRUE(swatch->styleSheet().contains(QColor::fromHsv(static_cast<int>(test.shown), 255, 255).name()))
        << test.frame << " " << swatch->styleSheet().toStdString();
    EXPECT_EQ(key->isChecked(), test.frame == 0 || test.frame == 10) << test.frame;
  }
  // Removing the key at frame 10 leaves 100 everywhere.
  key->click();
  window->setFrame(20);
  EXPECT_EQ(dial->value(), 100.0);
}

TEST(Studio, TheTimelineMarksKeysAndJumpsBetweenThem) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 9));
  window->show();
  EffectPanel* panel = window->panel();
  auto* timeline = window->findChild<TimelineSlider*>(QStringLiteral("timeline"));
  auto* previous = window->findChild<QToolButton*>(QStringLiteral("previousKey"));
  auto* next = window->findChild<QToolButton*>(QStringLiteral("nextKey"));
  auto* densityKey = panel->findChild<QToolButton*>(QStringLiteral("Density key"));
  auto* hueKey = panel->findChild<QToolButton*>(QStringLiteral("Inner Color/Hue key"));
  ASSERT_TRUE(timeline && previous && next && densityKey && hueKey);
  auto clickLabel = [&](const char* control) {
    QLabel* label = panel->row(QString::fromUtf8(control))->findChild<QLabel*>();
    QTest::mouseClick(label, Qt::LeftButton);
  };

  window->setFrame(10);
  densityKey->click();
  window->setFrame(30);
  hueKey->click();  // the dial's key sits on its hidden slider
  // Turning the dial keys the hue alone: the effect's answer to the change names no other control.
  window->setFrame(20);
  qobject_cast<QDoubleSpinBox*>(panel->editor(QStringLiteral("Inner Color/Hue")))->setValue(90.0);
  struct Shown {
    long frame;
    bool densityKeyed;
  };
  for (const Shown& shown : {Shown{30, false}, Shown{20, false}, Shown{10, true}, Shown{11, false}}) {
    window->setFrame(shown.frame);
    EXPECT_EQ(densityKey->isChecked(), shown.densityKeyed) << shown.frame;
    EXPECT_EQ(densityKey->text() == QStringLiteral("\u25C6"), shown.densityKeyed) << shown.frame;
  }

  // The keys of the control last worked on or clicked, or of all when a second click clears it.
  struct Selection {
    const char* clicked;
    std::vector<long> marked;
  };
  EXPECT_EQ(timeline->visibleMarkedFrames(), (std::vector<long>{20, 30})) << "after turning the hue";
  for (const Selection& selection : {Selection{"Density", {10}}, Selection{"Density", {10, 20, 30}},
                                     Selection{"Inner Color/Hue", {20, 30}}, Selection{"Quality", {}},
                                     Selection{"Quality", {10, 20, 30}}}) {
    clickLabel(selection.clicked);
    EXPECT_EQ(timeline->visibleMarkedFrames(), selection.marked) << selection.clicked;
  }
  const QImage drawn = timeline->grab().toImage();
  for (long frame : {10L, 15L, 20L, 30L}) {
    EXPECT_EQ(drawn.pixel(timeline->markerCentre(frame)) == TimelineSlider::markerColour, frame != 15) << frame;
  }

  struct Jump {
    QToolButton* button;
    long frame;
  };
  window->setFrame(0);
  EXPECT_FALSE(previous->isEnabled());
  for (const Jump& jump : {Jump{next, 10}, Jump{next, 20}, Jump{next, 30}, Jump{previous, 20}}) {
    jump.button->click();
    EXPECT_EQ(window->frame(), jump.frame);
    EXPECT_EQ(previous->isEnabled(), jump.frame > 10) << jump.frame;
    EXPECT_EQ(next->isEnabled(), jump.frame < 30) << jump.frame;
  }

  // Keys stay on their frames at another frame rate, and past the last frame they are not shown.
  auto* rate = window->findChild<QLineEdit*>(QStringLiteral("frameRate"));
  rate->setText(QStringLiteral("30000/1001"));
  QTest::keyClick(rate, Qt::Key_Return);
  EXPECT_EQ(timeline->visibleMarkedFrames(), (std::vector<long>{10, 20, 30}));
  window->findChild<QSpinBox*>(QStringLiteral("lastFrame"))->setValue(25);
  EXPECT_EQ(timeline->visibleMarkedFrames(), (std::vector<long>{10, 20}));
  EXPECT_FALSE(next->isEnabled());
}

TEST(Studio, AChangeStopsTheRunningRender) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(64, 36), "Original (256)");
  QSignalSpy stopped(&window->renderer(), &PreviewRenderer::passStopped);
  const quint64 slowGeneration = window->generation();
  // The full-resolution pass waits, once started, until the user has changed a value, so that the
  // change always comes while it runs, however fast the renderer is; the change must stop it at
  // the effect's next abort check rather than let it finish.
  QSemaphore changed;
  QObject::connect(
      &window->renderer(), &PreviewRenderer::passStarted, window.get(),
      [&](quint64 generation, int downsample) {
        if (generation != slowGeneration || downsample != 1) {
          return;
        }
        QMetaObject::invokeMethod(window.get(), [&] {
          setNumber(*window, "Density", 0.5);
          changed.release();
        });
        changed.acquire();
      },
      Qt::DirectConnection);
  // Earlier passes may have been stopped too, by the window's own set-up.
  auto stoppedSlowPass = [&] {
    return std::any_of(stopped.begin(), stopped.end(), [&](const QList<QVariant>& pass) {
      return pass.at(0).value<quint64>() == slowGeneration && pass.at(1).toInt() == 1;
    });
  };
  ASSERT_TRUE(QTest::qWaitFor(stoppedSlowPass, waitMilliseconds));
  ASSERT_TRUE(waitForFinishedFrame(*window));
  EXPECT_NE(window->finishedGeneration(), slowGeneration);
}

TEST(Studio, AboutOpensAndCloses) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 9));
  window->show();
  QString shown;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      shown = modal->windowTitle();
      for (QLabel* label : modal->findChildren<QLabel*>()) {
        shown += "\n" + label->text();
      }
      modal->close();
    }
  });
  closer.start(20);
  auto* about = window->menuBar()->findChild<QAction*>(QStringLiteral("aboutAction"));
  ASSERT_NE(about, nullptr);
  about->trigger();
  EXPECT_TRUE(shown.contains(QStringLiteral("Vortelline"))) << shown.toStdString();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}


TEST(Studio, RenderDialogWritesTheRangeOrStopsOnCancel) {
  const std::string folder = makeScratchFolder();
  struct Case {
    const char* name;
    QSize size;
    const char* quality;
    bool cancel;
  };
  // The cancelled render is slow enough that Cancel comes before its last frame.
  for (const Case& test : {Case{"done", QSize(24, 14), "Draft (64)", false},
                           Case{"cancel", QSize(320, 180), "Original (256)", true}}) {
    std::unique_ptr<StudioWindow> window = openWindow(test.size, test.quality);
    RenderDialog dialog(window->session(), nullptr, 2);
    QSignalSpy finished(&dialog, &RenderDialog::finished);
    const QString pattern = QString::fromStdString(folder + "/" + test.name + "_#.png");
    ASSERT_TRUE(dialog.start(pattern, 0, 2, 8));
    if (test.cancel) {
      dialog.findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, waitMilliseconds));
    EXPECT_EQ(finished.first().at(0).toBool(), !test.cancel) << test.name;
    // A cancelled render stops within its first frames: the last one is never written.
    for (int frame = test.cancel ? 2 : 0; frame <= 2; ++frame) {
      QString file = QString::fromStdString(folder + "/" + test.name + "_" + std::to_string(frame) + ".png");
      EXPECT_EQ(QFileInfo::exists(file), !test.cancel) << file.toStdString();
    }
  }
  // What cannot be rendered is refused before anything starts.
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 9));
  RenderDialog dialog(window->session(), nullptr, 2);
  EXPECT_FALSE(dialog.start(QString::fromStdString(folder + "/no_number.png"), 0, 2, 8));
  EXPECT_FALSE(dialog.start(QString::fromStdString(folder + "/frame.tiff"), 0, 0, 8));
  EXPECT_FALSE(dialog.start(QString::fromStdString(folder + "/float.png"), 0, 0, 32));
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(folder + "/float.png")));
}

TEST(Studio, RenderDialogOffersTheFormatsDepthsAndWritesThemAsTheCommandLineDoes) {
  const std::string folder = makeScratchFolder();
  std::unique_ptr<StudioWindow> window = openWindow(QSize(24, 14));
  RenderDialog dialog(window->session(), nullptr, 3);
  auto* pattern = dialog.findChild<QLineEdit*>(QStringLiteral("pattern"));
  auto* depth = dialog.findChild<QComboBox*>(QStringLiteral("depth"));
  ASSERT_NE(pattern, nullptr);
  ASSERT_NE(depth, nullptr);
  struct Offer {
    const char* name;
    std::vector<int> depths;
  };
  for (const Offer& offer : {Offer{"f_#.png", {8, 16}}, Offer{"F_#.EXR", {32, 16}}, Offer{"f_#.tiff", {}},
                             Offer{"f.mov", {8, 16}}, Offer{"f.mkv", {8, 16}}, Offer{"f.webm", {8}},
                             Offer{"f.MP4", {8}}}) {
    pattern->setText(QString::fromUtf8(offer.name));
    std::vector<int> offered;
    for (int item = 0; item < depth->count(); ++item) {
      offered.push_back(depth->itemData(item).toInt());
    }
    EXPECT_EQ(offered, offer.depths) << offer.name;
  }

  // 16 bits chosen for a PNG stays chosen for an EXR and a lossless movie, which the studio writes
  // byte for byte as the command line does.
  pattern->setText(QStringLiteral("f_#.png"));
  depth->setCurrentIndex(depth->findData(16));
  dialog.findChild<QSpinBox*>(QStringLiteral("firstFrame"))->setValue(3);
  for (const char* file : {"deep_#.png", "deep_#.exr", "deep.mkv"}) {
    pattern->setText(QString::fromStdString(folder + "/studio_" + file));
    ASSERT_EQ(depth->currentData().toInt(), 16) << file;
    QSignalSpy finished(&dialog, &RenderDialog::finished);
    dialog.findChild<QPushButton*>(QStringLiteral("render"))->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, waitMilliseconds));
    ASSERT_TRUE(finished.first().at(0).toBool()) << finished.first().at(1).toString().toStdString();

    const std::string cliPattern = folder + "/cli_" + file;
    ProgramRun run = runProgram({"render", "--quiet", "--size", "24x14", "--set", "Quality=Draft (64)", "--depth",
                                 "16", "--frame", "3", "-o", cliPattern},
                                folder);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string studioFile = expandFramePattern(folder + "/studio_" + file, 3);
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(studioFile))) << studioFile;
    EXPECT_TRUE(fileBytes(studioFile) == fileBytes(expandFramePattern(cliPattern, 3))) << file;
  }
}


// Render pressed over existing files asks first: Cancel leaves every byte, Replace renders. A movie's
// codec and quality are the command line's --codec and --quality.
TEST(Studio, RenderAsksBeforeReplacingAndOffersTheCodecs) {
  const std::string folder = makeScratchFolder();
  std::unique_ptr<StudioWindow> window = openWindow(QSize(24, 14));
  RenderDialog dialog(window->session(), nullptr, 1);
  auto* pattern = dialog.findChild<QLineEdit*>(QStringLiteral("pattern"));
  EXPECT_TRUE(QFileInfo(pattern->text()).isAbsolute()) << pattern->text().toStdString();
  struct Case {
    const char* name;  // an existing file or frame; "" for none
    const char* files;
    QMessageBox::StandardButton answer;  // NoButton: no question expected
    bool rendered;
  };
  const Case cases[] = {
      {"", "fresh_#.png", QMessageBox::NoButton, true},
      {"seq_1.png", "seq_#.png", QMessageBox::Cancel, false},
      {"seq_1.png", "seq_#.png", QMessageBox::Yes, true},
      {"old.mp4", "old.mp4", QMessageBox::Cancel, false},
      {"old.mp4", "old.mp4", QMessageBox::Yes, true},
  };
  dialog.findChild<QSpinBox*>(QStringLiteral("lastFrame"))->setValue(1);
  for (const Case& test : cases) {
    const std::string existing = folder + "/" + test.name;
    if (*test.name) {
      writeText(existing, "precious");
    }
    pattern->setText(QString::fromStdString(folder + "/" + test.files));
    if (std::string(test.files) == "old.mp4") {
      dialog.findChild<QComboBox*>(QStringLiteral("codec"))->setCurrentText(QStringLiteral("libx264"));
      dialog.findChild<QSpinBox*>(QStringLiteral("quality"))->setValue(30);
    }
    int questions = 0;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        ++questions;
        EXPECT_EQ(box->objectName(), QStringLiteral("replaceFiles"));
        box->button(test.answer == QMessageBox::NoButton ? QMessageBox::Cancel : test.answer)->click();
      }
    });
    answerer.start(20);
    QSignalSpy finished(&dialog, &RenderDialog::finished);
    dialog.findChild<QPushButton*>(QStringLiteral("render"))->click();
    if (test.rendered) {
      ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, waitMilliseconds)) << test.files;
      EXPECT_TRUE(finished.first().at(0).toBool()) << finished.first().at(1).toString().toStdString();
      EXPECT_TRUE(dialog.findChild<QLabel*>(QStringLiteral("status"))->text().contains("2 of 2 frames"))
          << dialog.findChild<QLabel*>(QStringLiteral("status"))->text().toStdString();
    }
    EXPECT_EQ(questions, test.answer == QMessageBox::NoButton ? 0 : 1) << test.files;
    if (*test.name) {
      EXPECT_EQ(fileBytes(existing) == "precious", !test.rendered) << test.files;
    }
  }
  // The movie equals the command line's with the same codec and quality.
  ProgramRun run = runProgram({"render", "--quiet", "--size", "24x14", "--set", "Quality=Draft (64)", "--frames",
                               "0-1", "--codec", "libx264", "--quality", "30", "-o", folder + "/cli.mp4"},
                              folder);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(fileBytes(folder + "/old.mp4") == fileBytes(folder + "/cli.mp4"));
  // The next dialog starts with the last render's file, codec and depth.
  RenderDialog next(window->session(), nullptr, 1);
  EXPECT_EQ(next.findChild<QLineEdit*>(QStringLiteral("pattern"))->text().toStdString(), folder + "/old.mp4");
}

TEST(Studio, OpenedSettingsShowWhatWasSaved) {
  const std::string folder = makeScratchFolder();
  const QString path = QString::fromStdString(folder + "/look.json");
  QImage saved;
  {
    std::unique_ptr<StudioWindow> window = openWindow(QSize(40, 22));
    qobject_cast<QComboBox*>(window->panel()->editor(QStringLiteral("Emitter/Source")))->setCurrentText("Layer Luma");
    window->setEmitterText(QStringLiteral("A"));
    auto* key = window->panel()->findChild<QToolButton*>(QStringLiteral("Density key"));
    key->click();
    window->setFrame(8);
    setNumber(*window, "Density", 1.9);
    window->setFrame(3);
    ASSERT_TRUE(waitForFinishedFrame(*window));
    saved = window->finishedImage();
    ASSERT_EQ(window->saveSettings(path), QString());
  }
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 9));
  ASSERT_EQ(openAndWait(*window, path), QString());
  ASSERT_TRUE(waitForFinishedFrame(*window));
  EXPECT_EQ(window->layerSize(), QSize(40, 22));
  EXPECT_EQ(window->finishedImage(), saved);
  // The opened values drive the panel too: the layer source greys the volume's controls.
  EXPECT_FALSE(window->panel()->row(QStringLiteral("Step Size"))->isEnabled());
  // A file that is not settings changes nothing.
  EXPECT_NE(openAndWait(*window, QString::fromStdString(folder + "/missing.json")), QString());
  EXPECT_EQ(window->layerSize(), QSize(40, 22));
}


TEST(Studio, TheEffectDrawsItsBannerAtThePanelsTop) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 9));
  window->show();
  QWidget* banner = window->panel()->findChild<QWidget*>(QStringLiteral("customControl"));
  ASSERT_NE(banner, nullptr);
  const QImage picture = banner->grab().toImage();
  ASSERT_FALSE(picture.isNull());
  // Drawn by the effect: a picture, not one flat colour or an error text on the background.
  QSet<QRgb> colours;
  for (int y = 0; y < picture.height(); y += 2) {
    for (int x = 0; x < picture.width(); x += 2) {
      colours.insert(picture.pixel(x, y));
    }
  }
  EXPECT_GT(colours.size(), 50);
}

TEST(Studio, CommandLineScreenshotEndsWithTheFirstFramesOutcome) {
  const std::string folder = makeScratchFolder();
  struct Case {
    const char* name;
    const char* settings;
    int status;
  };
  const Case cases[] = {
      {"fine", R"({"vortelline_settings": 1, "layer": {"width": 16, "height": 9}, "frame": 100})", 0},
      // Within the host's range, beyond what the effect animates: its first frame fails.
      {"late", R"({"vortelline_settings": 1, "layer": {"width": 16, "height": 9}, "frame": 2147483646})", 1},
      {"nan", R"({"vortelline_settings": 1, "layer": {"width": 16, "height": 9}, "controls": {"Density": "nan"}})", 1},
      {"frame", R"({"vortelline_settings": 1, "layer": {"width": 16, "height": 9}, "frame": 2147483647})", 1},
      {"ntsc", R"({"vortelline_settings": 1, "layer": {"width": 16, "height": 9}, "fps": "30000/1001",
                  "frame": 2145338})", 1},
      {"missing", nullptr, 1},
  };
  for (const Case& test : cases) {
    const std::string settings = folder + "/" + test.name + ".json";
    const std::string picture = folder + "/" + test.name + ".png";
    if (test.settings) {
      writeText(settings, test.settings);
    }
    int status = -1;
    {
      auto window = std::make_unique<StudioWindow>(startSession(VORTELLINE_MODULE_PATH));
      startFromCommandLine(*window, QString::fromStdString(settings), QString::fromStdString(picture));
      window->show();
      // Only a run that never ends reaches this.
      QTimer ceiling;
      ceiling.setSingleShot(true);
      QObject::connect(&ceiling, &QTimer::timeout, [] { QApplication::exit(99); });
      ceiling.start(waitMilliseconds);
      status = QApplication::exec();
    }
    EXPECT_EQ(status, test.status) << test.name;
    EXPECT_EQ(QFileInfo::exists(QString::fromStdString(picture)), test.status == 0) << test.name;
    // The command line draws the same line between frames it renders and frames it refuses.
    if (test.settings) {
      ProgramRun run = runProgram({"render", "--quiet", "--settings", settings, "-o", folder + "/cli.png"}, folder);
      EXPECT_EQ(run.exitCode != 0, test.status != 0) << test.name << ": " << run.err;
    }
  }
  // Without --screenshot the user is at the window, maybe started from a file manager: the
  // failure shows there and the studio stays open.
  auto window = std::make_unique<StudioWindow>(startSession(VORTELLINE_MODULE_PATH));
  const QString missing = QString::fromStdString(folder + "/missing.json");
  startFromCommandLine(*window, missing, QString());
  window->show();
  QPointer<QMessageBox> shown;
  ASSERT_TRUE(QTest::qWaitFor([&] { return (shown = window->findChild<QMessageBox*>()) && shown->isVisible(); },
                              waitMilliseconds));
  EXPECT_TRUE(shown->text().contains(missing)) << shown->text().toStdString();
  EXPECT_TRUE(window->isVisible());
}

// A FIFO delivers only when someone writes to it: the window goes on meanwhile, and shows what
// arrives once it does.
TEST(Studio, FilesThatWaitForAWriterLeaveTheWindowWorking) {
  const std::string folder = makeScratchFolder();
  std::unique_ptr<StudioWindow> window = openWindow(QSize(32, 18));
  const std::string source = folder + "/look.json";
  {
    auto other = openWindow(QSize(24, 14));
    setNumber(*other, "Density", 1.3);
    ASSERT_EQ(other->saveSettings(QString::fromStdString(source)), QString());
  }
  RgbaImage emitterImage = drawEmitterText("F", 32, 18);
  writeImageFile(folder + "/emitter.png", hostWorldFromImage(emitterImage, 8).world, 8);

  struct Case {
    const char* name;
    std::string bytes;  // what the writer sends once the window is shown to work
    std::function<void(const QString&)> read;
    std::function<QSize()> shown;
    QSize expected;
    double density;  // an edit made while the read waits
  };
  QSignalSpy settingsOpened(window.get(), &StudioWindow::settingsOpened);
  QSignalSpy emitterRead(window.get(), &StudioWindow::emitterRead);
  QSignalSpy presetApplied(window.get(), &StudioWindow::presetApplied);
  QSignalSpy backgroundRead(window.get(), &StudioWindow::backgroundRead);
  // Read once the writer came: a signal without an error, shown as the emitter's size.
  auto readWithoutError = [](const QSignalSpy& spy) {
    return [&spy] { return spy.size() == 1 && spy.first().at(0).toString().isEmpty() ? QSize(32, 18) : QSize(); };
  };
  const Case cases[] = {
      {"settings.fifo", fileBytes(source), [&](const QString& path) { window->openSettings(path); },
       [&] { return window->layerSize(); }, QSize(24, 14), 2.1},
      {"emitter.fifo", fileBytes(folder + "/emitter.png"), [&](const QString& path) { window->setEmitterImage(path); },
       readWithoutError(emitterRead), QSize(32, 18), 2.3},
      {"look.fifo", fileBytes(source), [&](const QString& path) { window->applyPreset(path); },
       readWithoutError(presetApplied), QSize(32, 18), 2.5},
      {"background.fifo", fileBytes(folder + "/emitter.png"),
       [&](const QString& path) { window->setBackgroundImage(path); }, readWithoutError(backgroundRead),
       QSize(32, 18), 2.7},
  };
  for (const Case& test : cases) {
    const std::string fifo = folder + "/" + test.name;
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    test.read(QString::fromStdString(fifo));
    // Still working: an edit renders a new frame while the read waits.
    setNumber(*window, "Density", test.density);
    ASSERT_TRUE(waitForFinishedFrame(*window)) << test.name;
    EXPECT_NE(test.shown(), test.expected) << test.name;
    std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << test.bytes; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return test.shown() == test.expected; }, waitMilliseconds)) << test.name;
    writer.join();
  }
  EXPECT_EQ(settingsOpened.count(), 1);
}

// The program itself, with a FIFO for its remembered choices, a FIFO among the user's looks and a
// look whose emitter is a FIFO: the screenshot comes, with the looks that can be shown.
TEST(Studio, ScreenshotWithLooksAndConfigurationThatNeverDeliver) {
  const std::string folder = makeScratchFolder();
  const std::string configuration = folder + "/config/vortelline";
  const std::string looks = folder + "/data/vortelline/looks";
  std::filesystem::create_directories(configuration);
  std::filesystem::create_directories(looks);
  ASSERT_EQ(mkfifo((configuration + "/vortelline-studio.conf").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((looks + "/pipe.json").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((looks + "/stuck.png").c_str(), 0600), 0);
  writeText(looks + "/stuck.json",
            R"({"vortelline_settings": 1, "emitter": "stuck.png", "controls": {"Source": "Layer Alpha"}})");
  writeText(folder + "/small.json", R"({"vortelline_settings": 1, "layer": {"width": 32, "height": 18}})");
  ProgramRun run = runCommand({"env", "QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + folder + "/config",
                               "XDG_DATA_HOME=" + folder + "/data", "timeout", "120", VORTELLINE_STUDIO_PATH,
                               "--screenshot", folder + "/window.png", folder + "/small.json"},
                              folder);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(folder + "/window.png")));
}

// Every kind of change, then undo to the start and redo to the end: each state shows again the
// very frame it showed first, byte for byte, and a drag is one step.
TEST(Studio, UndoAndRedoRestoreEveryRenderExactly) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(40, 22));
  window->setFrame(5);
  EffectPanel* panel = window->panel();
  QUndoStack* undo = window->undoStack();
  undo->clear();
  auto slider = [&](const char* control) { return panel->row(QString::fromUtf8(control))->findChild<QSlider*>(); };
  auto popup = [&](const char* control) { return qobject_cast<QComboBox*>(panel->editor(QString::fromUtf8(control))); };
  struct Edit {
    const char* name;
    std::function<void()> edit;
    bool visible = true;  // whether frame 5 changes
  };
  const std::vector<Edit> edits = {
      {"value", [&] { setNumber(*window, "Density", 1.6); }},
      {"drag",
       [&] {
         QSlider* radius = slider("Sphere Radius");
         radius->setSliderDown(true);
         for (int step : {100, 300, 450}) {
           radius->setValue(step);
         }
         radius->setSliderDown(false);
       }},
      {"key",
       [&] {
         window->setFrame(0);
         panel->findChild<QToolButton*>(QStringLiteral("Noise Flow/Y key"))->click();
         window->setFrame(5);
       },
       false},
      {"keyed value", [&] {
         window->setFrame(9);
         setNumber(*window, "Noise Flow/Y", -1.0);
         window->setFrame(5);
       }},
      {"hue", [&] { setNumber(*window, "Inner Color/Hue", 220.0); }},
      {"reset control",
       [&] { QTest::mouseDClick(panel->row(QStringLiteral("Density"))->findChild<QLabel*>(), Qt::LeftButton); }},
      {"reset group", [&] { panel->resetRequested(panel->groupPositions(18), QStringLiteral("Noise Flow")); }},
      {"layer size", [&] { window->setLayerSize(QSize(36, 24)); }},
      {"source", [&] { popup("Emitter/Source")->setCurrentText(QStringLiteral("Layer Alpha")); }},
      {"emitter", [&] { window->setEmitterText(QStringLiteral("Hi")); }},
      {"emitter again", [&] { window->setEmitterText(QStringLiteral("Hi!")); }},
  };
  std::vector<QImage> shown;
  ASSERT_TRUE(waitForFinishedFrame(*window));
  shown.push_back(window->finishedImage());
  for (const Edit& edit : edits) {
    edit.edit();
    ASSERT_TRUE(waitForFinishedFrame(*window)) << edit.name;
    EXPECT_EQ(window->finishedImage() != shown.back(), edit.visible) << edit.name;
    shown.push_back(window->finishedImage());
  }
  // Typing a title in two goes is one step.
  ASSERT_EQ(undo->count(), static_cast<int>(edits.size()) - 1);
  shown.erase(shown.end() - 2);
  auto expectShown = [&](size_t step, const char* direction) {
    ASSERT_TRUE(waitForFinishedFrame(*window)) << direction << step;
    EXPECT_TRUE(window->finishedImage() == shown[step]) << direction << " to step " << step;
  };
  for (size_t step = shown.size() - 1; step-- > 0;) {
    undo->undo();
    expectShown(step, "undo");
  }
  EXPECT_FALSE(window->hasUnsavedChanges());
  EXPECT_EQ(window->layerSize(), QSize(40, 22));
  for (size_t step = 1; step < shown.size(); ++step) {
    undo->redo();
    expectShown(step, "redo");
  }
  EXPECT_EQ(window->frame(), 5);
}

TEST(Studio, TheWheelTurnsOnlyTheFocusedEditor) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 9));
  window->undoStack()->clear();
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  EffectPanel* panel = window->panel();
  // Whether the editor took the wheel; one it leaves goes on to the scroll area around the panel.
  auto wheel = [](QWidget* widget) {
    const QPointF centre(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(centre, widget->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
    return event.isAccepted();
  };
  struct Case {
    const char* control;
    std::function<QWidget*()> editor;
    std::function<double()> value;
  };
  auto* density = panel->row(QStringLiteral("Density"))->findChild<QSlider*>();
  auto* gain = qobject_cast<QDoubleSpinBox*>(panel->editor(QStringLiteral("Tint/Red")));
  auto* dial = panel->row(QStringLiteral("Main Color/Hue"))->findChild<QDial*>();
  auto* quality = qobject_cast<QComboBox*>(panel->editor(QStringLiteral("Quality")));
  const Case cases[] = {
      {"slider", [&] { return density; }, [&] { return density->value(); }},
      {"number", [&] { return gain; }, [&] { return gain->value(); }},
      {"dial", [&] { return dial; }, [&] { return dial->value(); }},
      {"popup", [&] { return quality; }, [&] { return quality->currentIndex(); }},
  };
  for (const Case& test : cases) {
    QWidget* editor = test.editor();
    ASSERT_NE(editor, nullptr) << test.control;
    window->setFocus();
    const double before = test.value();
    const quint64 generation = window->generation();
    EXPECT_FALSE(wheel(editor)) << test.control << " should leave the wheel to the panel";
    EXPECT_EQ(test.value(), before) << test.control;
    EXPECT_EQ(window->generation(), generation) << test.control;
    editor->setFocus();
    EXPECT_TRUE(wheel(editor)) << test.control;
    EXPECT_NE(test.value(), before) << test.control << " has the focus";
  }
  EXPECT_EQ(window->undoStack()->count(), 4);
}

// Quitting, opening and starting anew ask first when there are unsaved changes, and only then.
TEST(Studio, UnsavedChangesAreNotLostWithoutAsking) {
  const std::string folder = makeScratchFolder();
  struct Case {
    const char* name;
    bool edited;
    bool saved;
    QMessageBox::StandardButton answer;  // NoButton: no question expected
    bool closes;
  };
  const Case cases[] = {
      {"untouched", false, false, QMessageBox::NoButton, true},
      {"cancelled", true, false, QMessageBox::Cancel, false},
      {"discarded", true, false, QMessageBox::Discard, true},
      {"saved", true, true, QMessageBox::NoButton, true},
  };
  for (const Case& test : cases) {
    std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 9));
    window->undoStack()->clear();
    window->show();
    if (test.edited) {
      setNumber(*window, "Density", 0.4);
    }
    if (test.saved) {
      ASSERT_EQ(window->saveSettings(QString::fromStdString(folder + "/saved.json")), QString());
    }
    int questions = 0;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        ++questions;
        EXPECT_EQ(box->objectName(), QStringLiteral("unsavedChanges"));
        box->button(test.answer == QMessageBox::NoButton ? QMessageBox::Cancel : test.answer)->click();
      }
    });
    answerer.start(20);
    EXPECT_EQ(window->close(), test.closes) << test.name;
    EXPECT_EQ(questions, test.answer == QMessageBox::NoButton ? 0 : 1) << test.name;
    // Starting anew asks the same, and keeps the values when cancelled.
    if (test.answer == QMessageBox::Cancel) {
      for (QAction* action : window->menuBar()->actions().first()->menu()->actions()) {
        if (action->shortcut() == QKeySequence(QKeySequence::New)) {
          action->trigger();
        }
      }
      EXPECT_EQ(questions, 2) << test.name;
      EXPECT_EQ(qobject_cast<QDoubleSpinBox*>(window->panel()->editor(QStringLiteral("Density")))->value(), 0.4);
    }
  }
}

TEST(Studio, TransportKeysAndEditsDuringPlayback) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 9));
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  window->findChild<QSpinBox*>(QStringLiteral("lastFrame"))->setValue(20);
  window->setFocus();
  struct Key {
    Qt::Key key;
    long frame;
  };
  window->setFrame(10);
  for (const Key& press : {Key{Qt::Key_Right, 11}, Key{Qt::Key_Left, 10}, Key{Qt::Key_End, 20},
                           Key{Qt::Key_Right, 20}, Key{Qt::Key_Home, 0}, Key{Qt::Key_Left, 0}}) {
    QTest::keyClick(window.get(), press.key);
    EXPECT_EQ(window->frame(), press.frame) << press.key;
  }
  // A number field keeps its own keys.
  auto* density = qobject_cast<QDoubleSpinBox*>(window->panel()->editor(QStringLiteral("Density")));
  density->setFocus();
  QTest::keyClick(density, Qt::Key_End);
  EXPECT_EQ(window->frame(), 0);

  window->setFocus();
  QTest::keyClick(window.get(), Qt::Key_Space);
  ASSERT_TRUE(window->playing());
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->frame() >= 2; }, waitMilliseconds));
  // The edit keys the frame on show, and playback stays there.
  window->panel()->findChild<QToolButton*>(QStringLiteral("Density key"))->click();
  EXPECT_FALSE(window->playing());
  const long keyed = window->frame();
  QTest::qWait(100);
  EXPECT_EQ(window->frame(), keyed);
  EXPECT_EQ(keyedFrames(window->session(), 11), std::vector<long>{keyed});
  QTest::keyClick(window.get(), Qt::Key_Space);
  EXPECT_TRUE(window->playing());
  QTest::keyClick(window.get(), Qt::Key_Space);
  EXPECT_FALSE(window->playing());
}

TEST(Studio, ThePreviewSaysWhatItCannotShowAndZooms) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(64, 36));
  window->show();
  PreviewView* view = window->view();
  auto* source = qobject_cast<QComboBox*>(window->panel()->editor(QStringLiteral("Emitter/Source")));
  struct Case {
    const char* source;
    const char* text;
    bool notice;
  };
  for (const Case& test : {Case{"Layer Alpha", "", true}, Case{"Layer Alpha", "A", false},
                           Case{"Layer Luma", "", true}, Case{"Original Volume", "", false}}) {
    source->setCurrentText(QString::fromUtf8(test.source));
    window->setEmitterText(QString::fromUtf8(test.text));
    EXPECT_EQ(!view->notice().isEmpty(), test.notice) << test.source << " '" << test.text << "'";
  }

  // A failed read is said until the next change makes it stale.
  const std::string folder = makeScratchFolder();
  writeText(folder + "/notes.png", "not a picture");
  QSignalSpy read(window.get(), &StudioWindow::emitterRead);
  window->setEmitterImage(QString::fromStdString(folder + "/notes.png"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return read.count() == 1; }, waitMilliseconds));
  const QString problem = read.first().at(0).toString();
  EXPECT_TRUE(problem.contains(QStringLiteral("notes.png"))) << problem.toStdString();
  EXPECT_EQ(window->statusBar()->currentMessage(), problem);
  setNumber(*window, "Density", 1.2);
  EXPECT_EQ(window->statusBar()->currentMessage(), QString());

  auto* zoomInfo = window->findChild<QLabel*>(QStringLiteral("zoomInfo"));
  EXPECT_TRUE(zoomInfo->text().startsWith(QStringLiteral("Fit")));
  EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("layerInfo"))->text(), QStringLiteral("64 \u00D7 36"));
  view->setZoom(1.0);
  EXPECT_EQ(zoomInfo->text(), QStringLiteral("100%"));
  QWheelEvent in(QPointF(10, 10), view->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, 240), Qt::NoButton,
                 Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(view, &in);
  EXPECT_EQ(zoomInfo->text(), QStringLiteral("156%"));
  view->zoomToFit();
  EXPECT_TRUE(view->fitted());
}

// The placement the panel sets is the one the command line applies, from the saved file or from
// its own options; a typed title takes effect without Enter, in the chosen style.
TEST(Studio, EmitterPlacementAndTextStyleRenderAsTheCommandLineDoes) {
  const std::string folder = makeScratchFolder();
  RgbaImage logo = drawEmitterText("LOGO", 48, 20);
  writeImageFile(folder + "/logo.png", hostWorldFromImage(logo, 8).world, 8);
  std::unique_ptr<StudioWindow> window = openWindow(QSize(40, 22));
  EffectPanel* panel = window->panel();
  qobject_cast<QComboBox*>(panel->editor(QStringLiteral("Emitter/Source")))->setCurrentText("Layer Alpha");
  QSignalSpy read(window.get(), &StudioWindow::emitterRead);
  window->setEmitterImage(QString::fromStdString(folder + "/logo.png"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return read.count() == 1; }, waitMilliseconds));
  struct Case {
    const char* fit;
    double scale;
    double offsetX, offsetY;
  };
  for (const Case& test : {Case{"fit", 1.0, 0, 0}, Case{"fill", 0.5, 4, -3}, Case{"centre", 1.0, -2, 5}}) {
    auto* fit = panel->findChild<QComboBox*>(QStringLiteral("imageFit"));
    ASSERT_TRUE(fit->isVisible() || !window->isVisible());
    fit->setCurrentText(QString::fromUtf8(test.fit));
    panel->findChild<QDoubleSpinBox*>(QStringLiteral("imageScale"))->setValue(test.scale);
    panel->findChild<QDoubleSpinBox*>(QStringLiteral("imageOffsetX"))->setValue(test.offsetX);
    panel->findChild<QDoubleSpinBox*>(QStringLiteral("imageOffsetY"))->setValue(test.offsetY);
    ASSERT_TRUE(waitForFinishedFrame(*window));
    const std::string name = folder + "/" + test.fit;
    writeImageFile(name + "_studio.png", hostWorldFromQImage(window->finishedImage()).world, 8);
    ASSERT_EQ(window->saveSettings(QString::fromStdString(name + ".json")), QString());
    const std::string offset = std::to_string(static_cast<int>(test.offsetX)) + "," +
                               std::to_string(static_cast<int>(test.offsetY));
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--settings", name + ".json"},
          std::vector<std::string>{"--size", "40x22", "--set", "Quality=Draft", "--set", "Source=Layer Alpha",
                                   "--emitter", folder + "/logo.png", "--emitter-fit", test.fit, "--emitter-scale",
                                   std::to_string(test.scale), "--emitter-offset=" + offset}}) {
      std::vector<std::string> arguments{"render", "--quiet", "-o", name + "_cli.png"};
      arguments.insert(arguments.end(), options.begin(), options.end());
      ProgramRun run = runProgram(arguments, folder);
      ASSERT_EQ(run.exitCode, 0) << run.err;
      EXPECT_EQ(fileBytes(name + "_cli.png"), fileBytes(name + "_studio.png")) << test.fit << " " << options[0];
    }
  }

  auto* text = panel->findChild<QLineEdit*>(QStringLiteral("emitterText"));
  QTest::keyClicks(text, QStringLiteral("Hot"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->undoStack()->undoText() == QStringLiteral("Emitter text"); },
                              waitMilliseconds));
  ASSERT_TRUE(waitForFinishedFrame(*window));
  const QImage centred = window->finishedImage();
  panel->findChild<QComboBox*>(QStringLiteral("textAlignment"))->setCurrentText(QStringLiteral("Left"));
  panel->findChild<QDoubleSpinBox*>(QStringLiteral("textX"))->setValue(5.0);
  ASSERT_TRUE(waitForFinishedFrame(*window));
  EXPECT_NE(window->finishedImage(), centred);
  // The style's edits are one step.
  window->undoStack()->undo();
  ASSERT_TRUE(waitForFinishedFrame(*window));
  EXPECT_EQ(window->finishedImage(), centred);
}

// A look from the library renders as the command line renders it by name, at the user's layer
// size, and one undo takes it back.
TEST(Studio, ALookIsOneStepAndRendersAsTheCommandLineDoes) {
  const std::string folder = makeScratchFolder();
  std::unique_ptr<StudioWindow> window = openWindow(QSize(48, 27));
  window->show();
  PresetBrowser* presets = window->presets();
  ASSERT_TRUE(QTest::qWaitFor([&] { return presets->count() > 0 && presets->thumbnailsDone(); }, waitMilliseconds));
  ASSERT_TRUE(waitForFinishedFrame(*window));
  const QImage before = window->finishedImage();
  const int steps = window->undoStack()->count();
  for (const char* look : {"candle", "gas-burner-blue", "burning-text"}) {
    QList<QListWidgetItem*> items = presets->findItems(QString::fromUtf8(look), Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << look;
    EXPECT_FALSE(items.first()->icon().isNull()) << look;
    QSignalSpy applied(window.get(), &StudioWindow::presetApplied);
    emit presets->presetChosen(items.first()->data(Qt::UserRole).toString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return applied.count() == 1; }, waitMilliseconds)) << look;
    ASSERT_EQ(applied.first().at(0).toString(), QString()) << look;
    ASSERT_TRUE(waitForFinishedFrame(*window));
    writeImageFile(folder + "/studio.png", hostWorldFromQImage(window->finishedImage()).world, 8);
    ProgramRun run =
        runProgram({"render", "--quiet", "--preset", look, "--size", "48x27", "-o", folder + "/cli.png"}, folder);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(fileBytes(folder + "/cli.png"), fileBytes(folder + "/studio.png")) << look;
    EXPECT_EQ(window->undoStack()->count(), steps + 1) << look;
    window->undoStack()->undo();
    ASSERT_TRUE(waitForFinishedFrame(*window));
    EXPECT_EQ(window->finishedImage(), before) << look;
  }
}

// The loop's frames are the command line's --loop frames; the loop is one undo step.
TEST(Studio, ALoopLengthRendersAsTheCommandLinesLoop) {
  const std::string folder = makeScratchFolder();
  std::unique_ptr<StudioWindow> window = openWindow(QSize(32, 18));
  window->findChild<QSpinBox*>(QStringLiteral("loopLength"))->setValue(12);
  EXPECT_EQ(window->findChild<QSpinBox*>(QStringLiteral("lastFrame"))->value(), 11);
  ASSERT_TRUE(waitForFinishedFrame(*window));
  for (long frame : {5L, 8L, 11L}) {
    QSignalSpy finished(window.get(), &StudioWindow::previewFinished);
    window->setFrame(frame);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, waitMilliseconds));
    writeImageFile(folder + "/studio.png", hostWorldFromQImage(window->finishedImage()).world, 8);
    ProgramRun run = runProgram({"render", "--quiet", "--size", "32x18", "--set", "Quality=Draft", "--loop", "12",
                                 "--frame", std::to_string(frame), "-o", folder + "/cli.png"},
                                folder);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fileBytes(folder + "/cli.png") == fileBytes(folder + "/studio.png")) << frame;
  }
  // Render... writes the loop's frames too.
  RenderDialog dialog(window->session(), nullptr, 11, window->loop());
  QSignalSpy rendered(&dialog, &RenderDialog::finished);
  ASSERT_TRUE(dialog.start(QString::fromStdString(folder + "/dialog_#.png"), 11, 11, 8));
  ASSERT_TRUE(QTest::qWaitFor([&] { return rendered.count() == 1; }, waitMilliseconds));
  EXPECT_TRUE(fileBytes(folder + "/dialog_11.png") == fileBytes(folder + "/cli.png"));

  const QImage looped = window->finishedImage();
  window->undoStack()->undo();
  ASSERT_TRUE(waitForFinishedFrame(*window));
  EXPECT_NE(window->finishedImage(), looped);
  EXPECT_EQ(window->findChild<QSpinBox*>(QStringLiteral("loopLength"))->value(), 0);
}

// Save writes to the file on show without asking; the title names it and marks changes; the
// file keeps the timeline's last frame and the loop.
TEST(Studio, SaveKeepsTheFileTheRangeAndTheLoop) {
  const std::string folder = makeScratchFolder();
  const QString path = QString::fromStdString(folder + "/clip.vortelline.json");
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 9));
  window->findChild<QSpinBox*>(QStringLiteral("loopLength"))->setValue(30);
  window->findChild<QSpinBox*>(QStringLiteral("lastFrame"))->setValue(99);
  ASSERT_EQ(window->saveSettings(path), QString());
  EXPECT_TRUE(window->windowTitle().startsWith(QStringLiteral("clip.vortelline.json[*]")))
      << window->windowTitle().toStdString();
  EXPECT_FALSE(window->isWindowModified());
  setNumber(*window, "Density", 0.4);
  EXPECT_TRUE(window->isWindowModified());
  window->findChild<QAction*>(QStringLiteral("saveAction"))->trigger();
  EXPECT_FALSE(window->isWindowModified());
  EXPECT_NE(fileBytes(path.toStdString()).find("\"Density\": 0.4"), std::string::npos);

  std::unique_ptr<StudioWindow> opened = openWindow(QSize(16, 9));
  ASSERT_EQ(openAndWait(*opened, path), QString());
  EXPECT_EQ(opened->findChild<QSpinBox*>(QStringLiteral("lastFrame"))->value(), 99);
  EXPECT_EQ(opened->findChild<QSpinBox*>(QStringLiteral("loopLength"))->value(), 30);
  EXPECT_EQ(opened->loop().length, 30);
  EXPECT_EQ(opened->windowFilePath(), path);
}

// Playback shows drafts and a stop refines the frame on show; the panel is wide enough for the
// text emitter's rows; a look of the user's is saved into the Looks dock, whose selection keeps
// the thumbnail.
TEST(Studio, DraftsWhilePlayingAndTheLooksDock) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(64, 36));
  window->show();
  window->findChild<QToolButton*>(QStringLiteral("play"))->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->frame() >= 2; }, waitMilliseconds));
  // Only drafts render while playing.
  const QString shown = window->findChild<QLabel*>(QStringLiteral("renderInfo"))->text();
  EXPECT_TRUE(shown.startsWith(QStringLiteral("1/")) || shown.startsWith(QStringLiteral("draft")))
      << shown.toStdString();
  window->findChild<QToolButton*>(QStringLiteral("play"))->click();
  ASSERT_TRUE(waitForFinishedFrame(*window));
  EXPECT_EQ(window->finishedImage().size(), QSize(64, 36));

  qobject_cast<QComboBox*>(window->panel()->editor(QStringLiteral("Emitter/Source")))->setCurrentText("Layer Alpha");
  window->setEmitterText(QStringLiteral("Hot"));
  for (QToolButton* group : window->panel()->findChildren<QToolButton*>()) {
    if (group->isCheckable() && group->arrowType() == Qt::RightArrow) {
      group->click();
    }
  }
  // A narrow window squeezes the panel to its least width.
  window->resize(500, 600);
  QTest::qWait(50);
  // Every key button lies inside the panel's view.
  auto* scroll = window->findChild<QScrollArea*>();
  for (QToolButton* key : window->panel()->findChildren<QToolButton*>()) {
    if (key->isVisible() && key->objectName().endsWith(QStringLiteral(" key"))) {
      EXPECT_LE(key->mapTo(scroll->viewport(), QPoint(key->width(), 0)).x(), scroll->viewport()->width())
          << key->objectName().toStdString();
    }
  }

  PresetBrowser* presets = window->presets();
  ASSERT_TRUE(QTest::qWaitFor([&] { return presets->count() > 0 && presets->thumbnailsDone(); }, waitMilliseconds));
  const int builtIn = presets->count();
  ASSERT_EQ(window->saveLook(QStringLiteral("my title")), QString());
  EXPECT_TRUE(QFileInfo::exists(userLookFolder() + "/my title.json"));
  EXPECT_NE(window->saveLook(QStringLiteral("../escape")), QString());
  ASSERT_TRUE(QTest::qWaitFor([&] { return presets->count() == builtIn + 1 && presets->thumbnailsDone(); },
                              waitMilliseconds));
  QListWidgetItem* mine = presets->findItems(QStringLiteral("my title"), Qt::MatchExactly).value(0);
  ASSERT_NE(mine, nullptr);
  const QIcon icon = mine->icon();
  EXPECT_EQ(icon.pixmap(presets->iconSize(), QIcon::Selected).toImage(),
            icon.pixmap(presets->iconSize(), QIcon::Normal).toImage());
}

// The preview's alpha (View > Alpha) and Render...'s are the command line's --alpha: the default
// look is flames on black, whose own output is opaque.
TEST(Studio, AlphaFromLightAsTheCommandLineWritesIt) {
  const std::string folder = makeScratchFolder();
  std::unique_ptr<StudioWindow> window = openWindow(QSize(24, 14));
  RenderDialog dialog(window->session(), nullptr, 0);
  auto* alpha = dialog.findChild<QComboBox*>(QStringLiteral("alpha"));
  struct Case {
    const char* name;
    OutputAlpha mode;
  };
  for (const Case& test : {Case{"auto", OutputAlpha::automatic}, Case{"light", OutputAlpha::light},
                           Case{"effect", OutputAlpha::effect}}) {
    window->setOutputAlpha(test.mode);
    ASSERT_TRUE(waitForFinishedFrame(*window));
    writeImageFile(folder + "/preview.png", hostWorldFromQImage(window->finishedImage()).world, 8);
    alpha->setCurrentIndex(alpha->findData(static_cast<int>(test.mode)));
    QSignalSpy finished(&dialog, &RenderDialog::finished);
    ASSERT_TRUE(dialog.start(QString::fromStdString(folder + "/dialog.png"), 0, 0, 8));
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, waitMilliseconds));
    ProgramRun run = runProgram({"render", "--quiet", "--size", "24x14", "--set", "Quality=Draft (64)", "--alpha",
                                 test.name, "-o", folder + "/cli.png"},
                                folder);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fileBytes(folder + "/dialog.png") == fileBytes(folder + "/cli.png")) << test.name;
    EXPECT_TRUE(fileBytes(folder + "/preview.png") == fileBytes(folder + "/cli.png")) << test.name;
    // Only the effect's own alpha leaves the flames opaque.
    EXPECT_EQ(window->finishedImage().pixelColor(0, 0).alpha() == 255, test.mode == OutputAlpha::effect) << test.name;
  }
}

// The finishing panel's glow, flicker and emitter key: the preview, Render... and the command line
// (from its options and from the saved file) give the same bytes; undo gives the plain frame back.
TEST(Studio, FinishingShowsWhatTheCommandLineRendersAndUndoes) {
  const std::string folder = makeScratchFolder();
  std::unique_ptr<StudioWindow> window = openWindow(QSize(64, 36));
  window->setFrame(7);
  ASSERT_TRUE(waitForFinishedFrame(*window));
  const QImage plain = window->finishedImage();
  const int stepsBefore = window->undoStack()->count();

  struct Edit {
    const char* name;
    double value;
  };
  for (const Edit& edit : {Edit{"Glow/Amount", 120}, Edit{"Glow/Radius", 15}, Edit{"Flicker/Amount", 30}}) {
    auto* number = qobject_cast<QDoubleSpinBox*>(window->finishingPanel()->editor(QString::fromUtf8(edit.name)));
    ASSERT_NE(number, nullptr) << edit.name;
    number->setValue(edit.value);
  }
  auto* key = qobject_cast<QComboBox*>(window->finishingPanel()->editor(QStringLiteral("Emitter Key/Key")));
  ASSERT_NE(key, nullptr);
  key->setCurrentText(QStringLiteral("Levels"));
  ASSERT_TRUE(waitForFinishedFrame(*window));
  EXPECT_NE(window->finishedImage(), plain);
  writeImageFile(folder + "/studio.png", hostWorldFromQImage(window->finishedImage()).world, 8);
  ASSERT_EQ(window->saveSettings(QString::fromStdString(folder + "/look.json")), QString());

  RenderDialog dialog(window->session(), nullptr, 7);
  dialog.setFinishing(window->finishing());
  QSignalSpy finished(&dialog, &RenderDialog::finished);
  ASSERT_TRUE(dialog.start(QString::fromStdString(folder + "/dialog.png"), 7, 7, 8));
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, waitMilliseconds));
  EXPECT_TRUE(fileBytes(folder + "/dialog.png") == fileBytes(folder + "/studio.png"));

  struct Case {
    const char* name;
    std::vector<std::string> options;
  };
  const Case cases[] = {
      {"options", {"--size", "64x36", "--frame", "7", "--set", "Quality=Draft (64)", "--set", "Glow/Amount=120", "--set",
                   "Glow/Radius=15", "--set", "Flicker/Amount=30", "--set", "Emitter Key/Key=Levels"}},
      {"settings", {"--settings", folder + "/look.json"}},
  };
  for (const Case& test : cases) {
    std::vector<std::string> arguments{"render", "--quiet", "-o", folder + "/" + test.name + ".png"};
    arguments.insert(arguments.end(), test.options.begin(), test.options.end());
    ProgramRun run = runProgram(arguments, folder);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fileBytes(folder + "/" + test.name + ".png") == fileBytes(folder + "/studio.png")) << test.name;
  }

  ASSERT_EQ(window->undoStack()->count(), stepsBefore + 4) << "each edit is one step";
  // A double-click on a label resets its control, as one more step.
  for (QLabel* label : window->finishingPanel()->findChildren<QLabel*>()) {
    if (label->property("finishingId").isValid() && label->property("finishingId").toInt() == glowRadius) {
      QTest::mouseDClick(label, Qt::LeftButton);
    }
  }
  EXPECT_EQ(window->finishing()[glowRadius], finishingControls[glowRadius].defaultValue);
  EXPECT_EQ(qobject_cast<QDoubleSpinBox*>(window->finishingPanel()->editor(QStringLiteral("Glow/Radius")))->value(),
            finishingControls[glowRadius].defaultValue);
  EXPECT_EQ(window->undoStack()->count(), stepsBefore + 5);
  window->undoStack()->setIndex(stepsBefore);
  ASSERT_TRUE(waitForFinishedFrame(*window));
  EXPECT_EQ(window->finishedImage(), plain);
  EXPECT_EQ(window->finishing(), FinishingValues{});
  EXPECT_EQ(qobject_cast<QDoubleSpinBox*>(window->finishingPanel()->editor(QStringLiteral("Glow/Amount")))->value(), 0.0);
}

// A codec chosen stays chosen while the file name is edited, through names of no format and of
// others; the next dialog starts with the last render's file name and codec.
TEST(Studio, RenderDialogKeepsTheChosenCodecAndRemembersIt) {
  const std::string folder = makeScratchFolder();
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 10));
  RenderDialog dialog(window->session(), nullptr, 0);
  auto* pattern = dialog.findChild<QLineEdit*>(QStringLiteral("pattern"));
  auto* codec = dialog.findChild<QComboBox*>(QStringLiteral("codec"));
  pattern->setText(QString::fromStdString(folder + "/shot.mov"));
  ASSERT_EQ(codec->currentText(), QStringLiteral("prores_ks"));
  // As the user picks it: the keyboard on the closed popup.
  codec->setFocus();
  while (codec->currentText() != QStringLiteral("png") && codec->currentIndex() + 1 < codec->count()) {
    QTest::keyClick(codec, Qt::Key_Down);
  }
  ASSERT_EQ(codec->currentText(), QStringLiteral("png"));
  for (const char* typed : {"shot.mo", "shot.m", "shot.mkv", "shot.webm", "shot.mov"}) {
    pattern->setText(QString::fromStdString(folder + "/" + typed));
    const QString expected = codec->findText("png") >= 0 ? QStringLiteral("png") : codec->itemText(0);
    EXPECT_EQ(codec->currentText(), expected) << typed;
  }
  QSignalSpy finished(&dialog, &RenderDialog::finished);
  dialog.findChild<QPushButton*>(QStringLiteral("render"))->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, waitMilliseconds));
  ASSERT_TRUE(finished.first().at(0).toBool()) << finished.first().at(1).toString().toStdString();
  ProgramRun probe = runCommand({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0",
                                 folder + "/shot.mov"},
                                folder);
  EXPECT_EQ(probe.out, "png\n");
  RenderDialog next(window->session(), nullptr, 0);
  EXPECT_EQ(next.findChild<QLineEdit*>(QStringLiteral("pattern"))->text().toStdString(), folder + "/shot.mov");
  EXPECT_EQ(next.findChild<QComboBox*>(QStringLiteral("codec"))->currentText(), QStringLiteral("png"));
}

// The remembered choices' file is read and written off the window's thread, and only when it is a
// regular file of a configuration's size: a FIFO or a huge file leave the dialog at its defaults
// at once, and stay as they were.
TEST(Studio, RememberedChoicesComeFromAPlainFileOnly) {
  const std::string folder = makeScratchFolder();
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 10));
  const std::string plain = folder + "/plain.conf";
  writeText(plain, "[render]\nfolder=" + folder + "\nfile_name=take_##.exr\ndepth=16\n");
  const std::string fifo = folder + "/fifo.conf";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = folder + "/huge.conf";
  writeText(huge, "[render]\n");
  std::filesystem::resize_file(huge, 1u << 30);
  struct Case {
    const std::string* file;
    std::string pattern;  // what the dialog offers
    int depth;
  };
  const RenderChoices none;
  for (const Case& test : {Case{&plain, folder + "/take_##.exr", 16}, Case{&fifo, "", 0}, Case{&huge, "", 0}}) {
    rememberChoicesIn(QString());
    rememberRenderChoices(none);
    rememberChoicesIn(QString::fromStdString(*test.file));
    if (!test.pattern.empty()) {
      ASSERT_TRUE(QTest::qWaitFor([&] { return rememberedRenderChoices().depth == test.depth; }, waitMilliseconds));
    }
    RenderDialog dialog(window->session(), nullptr, 0);
    const QString offered = dialog.findChild<QLineEdit*>(QStringLiteral("pattern"))->text();
    if (!test.pattern.empty()) {
      EXPECT_EQ(offered.toStdString(), test.pattern);
      EXPECT_EQ(dialog.findChild<QComboBox*>(QStringLiteral("depth"))->currentData().toInt(), test.depth);
    } else {
      EXPECT_TRUE(offered.endsWith(QStringLiteral("flames_####.png"))) << offered.toStdString();
    }
    QSignalSpy finished(&dialog, &RenderDialog::finished);
    ASSERT_TRUE(dialog.start(QString::fromStdString(folder + "/out.mkv"), 0, 0, 8));
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, waitMilliseconds));
  }
  // The plain file took the last render's choices; the others are as they were.
  EXPECT_TRUE(QTest::qWaitFor([&] { return readRenderChoices(QString::fromStdString(plain)).fileName == "out.mkv"; },
                              waitMilliseconds));
  EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);
  EXPECT_EQ(std::filesystem::file_size(huge), 1u << 30);
  rememberChoicesIn(QString());
}

// Save Look over a look of the same name asks first; Cancel keeps its bytes.
TEST(Studio, SaveLookAsksBeforeReplacing) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 10));
  window->show();
  ASSERT_EQ(window->saveLook(QStringLiteral("twice")), QString());
  const std::string file = (userLookFolder() + "/twice.json").toStdString();
  setNumber(*window, "Density", 0.7);
  struct Case {
    const char* name;
    QMessageBox::StandardButton answer;  // NoButton: no question expected
    bool replaced;
  };
  for (const Case& test : {Case{"twice", QMessageBox::Cancel, false}, Case{"twice", QMessageBox::Yes, true},
                           Case{"once", QMessageBox::NoButton, true}}) {
    const std::string target = (userLookFolder() + "/" + test.name + ".json").toStdString();
    const std::string before = fileBytes(target);
    int questions = 0;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* input = qobject_cast<QInputDialog*>(modal)) {
        input->setTextValue(QString::fromUtf8(test.name));
        input->accept();
      } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        ++questions;
        EXPECT_EQ(box->objectName(), QStringLiteral("replaceLook"));
        box->button(test.answer == QMessageBox::NoButton ? QMessageBox::Cancel : test.answer)->click();
      }
    });
    answerer.start(20);
    window->findChild<QPushButton*>(QStringLiteral("saveLook"))->click();
    answerer.stop();
    EXPECT_EQ(questions, test.answer == QMessageBox::NoButton ? 0 : 1) << test.name;
    EXPECT_EQ(fileBytes(target) != before, test.replaced) << test.name;
  }
  EXPECT_NE(fileBytes(file).find("\"Density\": 0.7"), std::string::npos);
}

// Ctrl+Shift+S is Save As on every desktop; the panel keeps its width as its groups open and shut.
TEST(Studio, SaveAsShortcutAndAPanelThatKeepsItsWidth) {
  std::unique_ptr<StudioWindow> window = openWindow(QSize(16, 10));
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  bool asked = false;
  QTimer::singleShot(100, [&] {
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      asked = dialog->acceptMode() == QFileDialog::AcceptSave;
      dialog->reject();
    }
  });
  QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_TRUE(asked);

  auto* scroll = window->findChild<QScrollArea*>();
  QTest::qWait(50);
  const int width = scroll->width();
  std::vector<QToolButton*> groups;
  for (QToolButton* header : window->panel()->findChildren<QToolButton*>()) {
    if (header->isCheckable() && header->arrowType() != Qt::NoArrow) {
      groups.push_back(header);
    }
  }
  ASSERT_GT(groups.size(), 3u);
  // Each group open and shut in turn, then the text emitter's rows.
  for (int pass = 0; pass < 2; ++pass) {
    for (QToolButton* header : groups) {
      header->click();
      QTest::qWait(10);
      EXPECT_EQ(scroll->width(), width) << header->text().toStdString() << " pass " << pass;
    }
  }
  window->setEmitterText(QStringLiteral("A title"));
  QTest::qWait(10);
  EXPECT_EQ(scroll->width(), width);
}

// A text far longer than a layer can show, in a size far taller, is drawn off the window's thread
// as what the layer shows of it: its first characters, at most twice the layer's height tall.
TEST(Studio, AHugeTextIsDrawnOffTheWindowsThreadAsFarAsItShows) {
  const std::string folder = makeScratchFolder();
  std::string marks = "E";
  for (int mark = 0; mark < 90000; ++mark) {
    marks += "\xCC\x81";  // a combining acute accent
  }
  EmitterTextStyle huge;
  huge.pixelSize = 16384;
  EmitterTextStyle shown = huge;
  shown.pixelSize = 2 * 36;
  const std::string visible = marks.substr(0, 1 + 2 * 63);  // 64 characters for a 64-pixel layer
  EXPECT_EQ(drawEmitterText(marks, 64, 36, huge).rgba, drawEmitterText(visible, 64, 36, shown).rgba);
  const std::vector<float> drawn = drawEmitterText(visible, 64, 36, shown).rgba;
  EXPECT_TRUE(std::any_of(drawn.begin(), drawn.end(), [](float value) { return value > 0.0f; }));

  std::unique_ptr<StudioWindow> window = openWindow(QSize(64, 36));
  qobject_cast<QComboBox*>(window->panel()->editor(QStringLiteral("Emitter/Source")))->setCurrentText("Layer Alpha");
  window->setEmitterText(QString::fromStdString(marks));
  window->setEmitterTextStyle(huge);
  ASSERT_TRUE(waitForFinishedFrame(*window));
  ASSERT_EQ(window->saveSettings(QString::fromStdString(folder + "/marks.json")), QString());
  EXPECT_EQ(readImageFile(folder + "/marks.emitter.png").rgba,
            readImageFile((writeImageFile(folder + "/shown.png",
                                          hostWorldFromImage(drawEmitterText(visible, 64, 36, shown), 8).world, 8),
                           folder + "/shown.png"))
                .rgba);
}

// --version and --help need no display.
TEST(Studio, VersionAndHelpWithoutADisplay) {
  const std::string folder = makeScratchFolder();
  for (const char* option : {"--version", "--help"}) {
    ProgramRun run = runCommand({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                                 VORTELLINE_STUDIO_PATH, option},
                                folder);
    EXPECT_EQ(run.exitCode, 0) << option << run.err;
    EXPECT_NE(run.out.find("vortelline-studio"), std::string::npos) << option << run.out;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // The render dialog's remembered folder and the user's looks go to a scratch home.
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(makeScratchFolder()));
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(makeScratchFolder()));
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
