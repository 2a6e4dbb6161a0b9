// vortelline-studio: the effect's panel beside a live preview of its flames, as an interactive
// host for the same module that `vortelline` drives from the command line.
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <memory>

#include "session/effect_module.h"
#include "session/host_session.h"
#include "session/program_version.h"
#include "studio/remembered_choices.h"
#include "studio/studio_window.h"

namespace {

// --version and --help are answered in text: they need no display, and a GUI application started
// without one aborts.
bool asksOnlyForText(int argc, char** argv) {
  for (int index = 1; index < argc; ++index) {
    if (std::strcmp(argv[index], "--") == 0) {
      return false;
    }
    for (const char* option : {"--version", "-v", "--help", "-h", "--help-all", "-?"}) {
      if (std::strcmp(argv[index], option) == 0) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::unique_ptr<QCoreApplication> application =
      asksOnlyForText(argc, argv) ? std::make_unique<QCoreApplication>(argc, argv)
                                  : std::make_unique<QApplication>(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("vortelline"));
  QApplication::setApplicationName(QStringLiteral("vortelline-studio"));
  QApplication::setApplicationVersion(QString::fromLatin1(programVersion));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Procedural volumetric flames, live"));
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption moduleOption(QStringLiteral("module"), QStringLiteral("The effect module to load."),
                                  QStringLiteral("PATH"));
  QCommandLineOption screenshotOption(
      QStringLiteral("screenshot"),
      QStringLiteral("Save a picture of the window after the first full-resolution frame, then quit."),
      QStringLiteral("FILE"));
  parser.addOption(moduleOption);
  parser.addOption(screenshotOption);
  parser.addPositionalArgument(QStringLiteral("settings"), QStringLiteral("A settings file to open."),
                               QStringLiteral("[SETTINGS.json]"));
  parser.process(*application);

  std::string modulePath = parser.isSet(moduleOption) ? parser.value(moduleOption).toStdString()
                                                       : defaultModulePath(VORTELLINE_BUILT_MODULE_PATH);
  std::unique_ptr<HostSession> session;
  try {
    session = startSession(modulePath);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vortelline-studio: %s\n", error.what());
    // A studio started from the menu has no terminal to show stderr.
    if (!parser.isSet(screenshotOption)) {
      QMessageBox::critical(nullptr, QStringLiteral("Vortelline Studio"), QString::fromStdString(error.what()));
    }
    return 1;
  }

  rememberChoicesIn(defaultConfigurationFile());
  int status = 0;
  {
    StudioWindow window(std::move(session));
    // The effect shows its dialogs over this window.
    setHostMainWindow(static_cast<QWidget*>(&window));
    startFromCommandLine(window,
                         parser.positionalArguments().isEmpty() ? QString() : parser.positionalArguments().first(),
                         parser.isSet(screenshotOption) ? parser.value(screenshotOption) : QString());
    window.show();
    status = QApplication::exec();
    setHostMainWindow(nullptr);
  }
  return status;
}
