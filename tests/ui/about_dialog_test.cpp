#include "ui/about_dialog.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <QtTest/QTest>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sdk/suites_sdk.h"
#include "tests/support/test_host.h"
#include "ui/about.h"
#include "ui/about_dialog_entry.h"

namespace {

PF_Boolean renderEngineAnswer = 0;
PF_Err isRenderEngine(PF_Boolean* answer) {
  *answer = renderEngineAnswer;
  return PF_Err_NONE;
}

TEST(AboutDialog, HostsWithoutADialogGetTheSixLineText) {
  TestHost host;
  PFAppSuite1 appSuite{};
  appSuite.PF_IsRenderEngine = isRenderEngine;
  host.provideSuite(kPFAppSuite, kPFAppSuiteVersion1, &appSuite);

  for (PF_Boolean renderEngine : {PF_Boolean(1), PF_Boolean(0)}) {
    renderEngineAnswer = renderEngine;
    std::memset(host.out_data.return_msg, 'x', sizeof host.out_data.return_msg);
    for (PF_Cmd cmd : {PF_Cmd_ABOUT, PF_Cmd_DO_DIALOG}) {
      ASSERT_EQ(host.command(cmd), PF_Err_NONE);
      const std::string text = host.out_data.return_msg;
      EXPECT_EQ(text, aboutText);
      EXPECT_EQ(text.rfind("Vortelline\rmake by Ternwick\r", 0), 0u);
      EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 5);
      EXPECT_EQ(text.find('\n'), std::string::npos);
      EXPECT_LE(text.size(), 255u);
    }
  }
  // A render engine is not asked for a window; otherwise the window query follows.
  EXPECT_EQ(host.callCount(HostCallback::GetPlatformData), 2);
  EXPECT_EQ(host.acquireCount(kPFAppSuite), 4);
  EXPECT_TRUE(host.suitesBalanced());
}

TEST(AboutDialog, WithoutOutDataTheTextHasNowhereToGo) {
  TestHost host;
  host.removeSuite(kPFAppSuite, kPFAppSuiteVersion1);
  EXPECT_EQ(EffectMain(PF_Cmd_ABOUT, &host.in_data, nullptr, nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(showAboutDialog(nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
  PF_OutData out{};
  EXPECT_EQ(showAboutDialog(nullptr, &out), PF_Err_NONE);
  EXPECT_STREQ(out.return_msg, aboutText);
}


// ---- Pure parts ----

TEST(AboutDialog, HostColoursRoundToTheNearest8BitStep) {
  struct Case {
    PF_App_Color host;
    QColor expected;
  };
  const Case cases[] = {
      {{65535, 0, 32896}, QColor(255, 0, 128)},
      {{32767, 32768, 32639}, QColor(127, 128, 127)},  // 32767 + 128 falls short of 128 * 257
      {{0x2323, 0xC3C3, 129}, QColor(35, 195, 1)},
  };
  for (const Case& c : cases) EXPECT_EQ(colourFromHost(c.host), c.expected) << c.host.red;
}

TEST(AboutDialog, MulDivRoundsHalvesAwayFromZeroLikeThePlatform) {
  struct Case {
    int number, numerator, denominator, expected;
  };
  const Case cases[] = {
      {1, 96, 96, 1},   {1, 120, 96, 1},  {1, 144, 96, 2},  {8, 120, 96, 10}, {-3, 1, 2, -2},
      {3, 1, -2, -2},   {-13, 10, 8, -16}, {7, 0, 96, 0},   {1, 1, 0, -1},
      {2147483647, 2, 1, -1},  // beyond int
      {2147483647, 3, 3, 2147483647},  // the product needs 64 bits
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mulDiv(c.number, c.numerator, c.denominator), c.expected)
        << c.number << " * " << c.numerator << " / " << c.denominator;
  }
  struct Metrics {
    int dpi, border, corner;
  };
  const Metrics metrics[] = {{96, 1, 8}, {120, 1, 10}, {144, 2, 12}, {192, 2, 16}};
  for (const Metrics& m : metrics) {
    EXPECT_EQ(buttonMetricsAt(m.dpi).borderWidth, m.border) << m.dpi;
    EXPECT_EQ(buttonMetricsAt(m.dpi).cornerSize, m.corner) << m.dpi;
  }
}

TEST(AboutDialog, PlacementCentresOnTheOwnerThenStaysInTheWorkArea) {
  const QRect workArea(0, 0, 1920, 1040);
  struct Case {
    const char* what;
    QSize dialog;
    QRect owner;
    QPoint expected;
  };
  const Case cases[] = {
      {"centred", {400, 200}, {100, 100, 1000, 800}, {400, 400}},
      {"past the right edge", {400, 200}, {1500, 100, 600, 400}, {1520, 200}},
      {"above the top", {400, 300}, {200, -500, 600, 400}, {300, 0}},
      {"wider than the work area", {2000, 200}, {100, 100, 1000, 800}, {0, 400}},
      // Halves round toward zero left of the primary screen: (-1600 - 1000 - 401) / 2 is -1500.
      {"odd sum, negative", {401, 200}, {-1600, 100, 600, 400}, {-1500, 200}},
  };
  for (const Case& c : cases) {
    const QRect area = c.owner.x() < 0 ? QRect(-1920, 0, 1920, 1040) : workArea;
    EXPECT_EQ(placeOverOwner(c.dialog, c.owner, area), c.expected) << c.what;
  }
}

// ---- The dialog itself, on Qt's offscreen platform ----

// The built module, which opens the dialog from the companion object beside it, as in a real host.
EffectEntry builtModuleEntry() {
  static void* module = dlopen(VORTELLINE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(module, nullptr) << dlerror();
  return module != nullptr ? reinterpret_cast<EffectEntry>(dlsym(module, "EffectMain")) : nullptr;
}

struct QtApplication {
  int argc = 1;
  char name[16] = "about_dialog";
  char* argv[2] = {name, nullptr};
  QApplication app{argc, argv};
};

// Acts on modal windows as they open: each step gets the active modal window once it differs from
// the one the previous step had. A window still open three seconds after the last step is closed
// with 99, so that a dialog that ignores its keys fails the test instead of hanging it.
class ModalScript {
 public:
  using Step = std::function<void(QWidget*)>;
  explicit ModalScript(std::vector<Step> steps) : steps_(std::move(steps)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start(10);
  }
  size_t stepsDone() const { return next_; }

 private:
  void poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal != previous_ && next_ < steps_.size()) {
      previous_ = modal;
      idleTicks_ = 0;
      // Run outside this timer's slot: a step that opens a nested modal loop must not stop the polling.
      QTimer::singleShot(0, modal, [this, modal, step = next_++] { steps_[step](modal); });
    } else if (modal != nullptr && ++idleTicks_ > 300) {
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->done(99);
    }
  }

  std::vector<Step> steps_;
  size_t next_ = 0;
  QWidget* previous_ = nullptr;
  int idleTicks_ = 0;
  QTimer timer_;
};

QAbstractButton* buttonNamed(QWidget* dialog, const QString& text) {
  for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

PF_Err hostColour(PF_App_ColorType type, PF_App_Color* colour) {
  *colour = type == PF_App_Color_PANEL_BACKGROUND ? PF_App_Color{65535, 0, 32896} : PF_App_Color{0, 65535, 0};
  return PF_Err_NONE;
}

TEST(AboutDialog, OpensOverTheMainWindowInHostColoursAndEveryCloseGivesZero) {
  QtApplication qt;
  QWidget mainWindow;
  mainWindow.setGeometry(100, 100, 640, 400);
  mainWindow.show();

  TestHost host(builtModuleEntry());
  PFAppSuite1 appSuite{};
  appSuite.PF_IsRenderEngine = isRenderEngine;
  appSuite.PF_AppGetColor = hostColour;
  renderEngineAnswer = 0;
  host.provideSuite(kPFAppSuite, kPFAppSuiteVersion1, &appSuite);
  host.mainWindow = &mainWindow;

  const std::vector<std::pair<const char*, ModalScript::Step>> closings = {
      {"Escape", [](QWidget* dialog) { QTest::keyClick(dialog->focusWidget(), Qt::Key_Escape); }},
      {"Enter on Close", [](QWidget* dialog) { QTest::keyClick(dialog->focusWidget(), Qt::Key_Return); }},
      {"Enter on Visit Website",
       [](QWidget* dialog) {
         QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
         QTest::keyClick(dialog->focusWidget(), Qt::Key_Enter);
       }},
      {"the close box", [](QWidget* dialog) { dialog->close(); }},
  };
  for (const auto& [how, close] : closings) {
    QString title, focused;
    QColor background, text;
    QRect frame;
    ModalScript script({[&, close = close](QWidget* dialog) {
      title = dialog->windowTitle();
      if (auto* button = qobject_cast<QAbstractButton*>(dialog->focusWidget())) focused = button->text();
      background = dialog->palette().color(QPalette::Window);
      text = dialog->palette().color(QPalette::WindowText);
      frame = dialog->frameGeometry();
      close(dialog);
    }});
    std::memset(host.out_data.return_msg, 0, sizeof host.out_data.return_msg);
    ASSERT_EQ(host.command(PF_Cmd_DO_DIALOG), PF_Err_NONE) << how;
    EXPECT_EQ(script.stepsDone(), 1u) << how;
    EXPECT_EQ(title, "About") << how;
    EXPECT_EQ(focused, "Close") << how;
    EXPECT_EQ(background, QColor(255, 0, 128)) << how;
    EXPECT_EQ(text, QColor(0, 255, 0)) << how;
    EXPECT_EQ(frame.center().x() / 4, mainWindow.frameGeometry().center().x() / 4) << how;
    EXPECT_STREQ(host.out_data.return_msg, "") << how;  // the dialog, not the text
  }
  EXPECT_TRUE(host.suitesBalanced());

  // The same closings give 0 from the dialog itself; a dialog that stayed open would give 99.
  for (const auto& [how, close] : closings) {
    std::unique_ptr<QDialog> dialog = makeAboutDialog(&mainWindow, AboutColours{});
    ModalScript script({close});
    EXPECT_EQ(dialog->exec(), 0) << how;
  }
}

TEST(AboutDialog, VisitWebsiteNeverClosesAndAFailedOpenSaysWhereToGo) {
  QtApplication qt;
  QWidget mainWindow;
  mainWindow.show();
  std::unique_ptr<QDialog> dialog = makeAboutDialog(&mainWindow, AboutColours{});
  QString caption, message;
  bool stillOpen = false;
  // The offscreen platform cannot open addresses, so the click takes the failure path.
  ModalScript script({
      [](QWidget* about) { QTest::mouseClick(buttonNamed(about, "Visit Website"), Qt::LeftButton); },
      [&](QWidget* box) {
        caption = box->windowTitle();
        if (auto* messageBox = qobject_cast<QMessageBox*>(box)) message = messageBox->text();
        box->close();
      },
      [&](QWidget* about) {
        stillOpen = about->isVisible();
        QTest::keyClick(about->focusWidget(), Qt::Key_Escape);
      },
  });
  EXPECT_EQ(dialog->exec(), 0);
  EXPECT_EQ(script.stepsDone(), 3u);
  EXPECT_EQ(caption, "Vortelline");
  EXPECT_EQ(message, QString("Please open %1 in your browser.").arg(makerWebsite));
  EXPECT_TRUE(stillOpen);
}

TEST(AboutDialog, TheFocusedButtonShowsItsLightBorderOnlyOnceTheKeyboardIsUsed) {
  QtApplication qt;
  QWidget mainWindow;
  mainWindow.show();
  std::unique_ptr<QDialog> dialog = makeAboutDialog(&mainWindow, AboutColours{});
  QRgb before = 0, after = 0;
  ModalScript script({[&](QWidget* about) {
    QAbstractButton* close = buttonNamed(about, "Close");
    before = close->grab().toImage().pixel(close->width() / 2, 0);
    QTest::keyClick(close, Qt::Key_Shift);
    after = close->grab().toImage().pixel(close->width() / 2, 0);
    QTest::keyClick(close, Qt::Key_Escape);
  }});
  dialog->exec();
  EXPECT_EQ(qRed(before), 54);
  EXPECT_EQ(qRed(after), 105);
}

TEST(AboutDialog, NoDialogWithoutAUsableMainWindowOrInARenderEngine) {
  QtApplication qt;
  QWidget mainWindow;
  int notAWidget = 0;
  TestHost host(builtModuleEntry());
  PFAppSuite1 appSuite{};
  appSuite.PF_IsRenderEngine = isRenderEngine;
  host.provideSuite(kPFAppSuite, kPFAppSuiteVersion1, &appSuite);
  struct Case {
    const char* what;
    void* window;
    PF_Boolean renderEngine;
  };
  const Case cases[] = {
      {"a render engine", &mainWindow, 1},
      {"a window that is no widget", &notAWidget, 0},
  };
  for (const Case& c : cases) {
    ModalScript script({[](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->done(0); }});
    host.mainWindow = c.window;
    renderEngineAnswer = c.renderEngine;
    std::memset(host.out_data.return_msg, 0, sizeof host.out_data.return_msg);
    EXPECT_EQ(host.command(PF_Cmd_ABOUT), PF_Err_NONE) << c.what;
    EXPECT_STREQ(host.out_data.return_msg, aboutText) << c.what;
    EXPECT_EQ(script.stepsDone(), 0u) << c.what;
  }
}

// A dialog that failed (the companion caught an exception) is one that could not be shown: the
// host gets the text and no error. A copy of the module opens the failing companion beside it.
TEST(AboutDialog, AFailedDialogFallsBackToTheText) {
  std::string folder = (std::filesystem::temp_directory_path() / "vortelline-about-XXXXXX").string();
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  const std::filesystem::path module = std::filesystem::path(folder) / "Vortelline.so";
  std::filesystem::copy_file(VORTELLINE_MODULE_PATH, module);
  std::filesystem::copy_file(VORTELLINE_FAILING_ABOUT_PATH, std::filesystem::path(folder) / kAboutDialogObject);
  // Kept open: the module keeps its companion for the life of the process.
  void* copy = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(copy, nullptr) << dlerror();

  QtApplication qt;
  QWidget mainWindow;
  mainWindow.show();
  TestHost host(reinterpret_cast<EffectEntry>(dlsym(copy, "EffectMain")));
  host.removeSuite(kPFAppSuite, kPFAppSuiteVersion1);
  host.mainWindow = &mainWindow;
  EXPECT_EQ(host.command(PF_Cmd_DO_DIALOG), PF_Err_NONE);
  EXPECT_STREQ(host.out_data.return_msg, aboutText);
  // The companion was opened and failed, rather than not found.
  EXPECT_NE(dlopen((std::filesystem::path(folder) / kAboutDialogObject).c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
  std::filesystem::remove_all(folder);
}

TEST(AboutDialog, WithoutAQApplicationTheMainWindowIsNotTouched) {
  TestHost host(builtModuleEntry());
  host.removeSuite(kPFAppSuite, kPFAppSuiteVersion1);
  int notAWidget = 0;
  host.mainWindow = &notAWidget;
  EXPECT_EQ(host.command(PF_Cmd_DO_DIALOG), PF_Err_NONE);
  EXPECT_STREQ(host.out_data.return_msg, aboutText);
}

}  // namespace
