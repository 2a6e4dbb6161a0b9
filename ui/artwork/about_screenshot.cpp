// Remakes docs/about_dialog.png: the About dialog in the default panel colours, grabbed from the
// widget itself, so no display is needed:
//   cmake --build build --target vortelline_about_screenshot
//   QT_QPA_PLATFORM=offscreen build/ui/vortelline_about_screenshot docs/about_dialog.png
#include <QApplication>
#include <QDialog>
#include <QPixmap>

#include <cstdio>

#include "ui/about_dialog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: vortelline_about_screenshot OUTPUT.png\n");
    return 2;
  }
  QWidget mainWindow;
  mainWindow.resize(800, 600);
  mainWindow.show();
  std::unique_ptr<QDialog> dialog = makeAboutDialog(&mainWindow, AboutColours{});
  dialog->show();
  QApplication::processEvents();
  if (!dialog->grab().save(argv[1], "PNG")) {
    std::fprintf(stderr, "vortelline_about_screenshot: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
