// companymain-settings: the settings window on Linux. It runs as its user and reads and checks
// with the tool's own code in process (the installation's files are readable by all); only the
// write runs as root, through pkexec of the tool beside it.
#include <QApplication>
#include <QIcon>
#include <QTranslator>
#include <clocale>
#include <csignal>

#include "settings/SettingsWindow.h"
#include "settings/SettingsWriter_qt.h"
#include "tool/ToolSystem_posix.h"
#include "qt/MessageBox_qt.h"

int main(int argc, char** argv) {
  // The session's language for the tool's words and the system's (strerror).
  std::setlocale(LC_ALL, "");
  BindConfigToolMessages();
  // A writer that ends before it has read the values must not end the window with it.
  std::signal(SIGPIPE, SIG_IGN);
  // The class part of WM_CLASS, which the menu entry names.
  QCoreApplication::setApplicationName(QStringLiteral("companymain-settings"));
  QApplication application(argc, argv);
  const auto qtTexts = LoadQtTexts();
  QGuiApplication::setDesktopFileName(QStringLiteral("companymain-settings"));
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64})
    icon.addFile(
        QStringLiteral(":/CompanyMainSettings/icons/companymain-settings-%1.png").arg(size),
        QSize(size, size));
  QApplication::setWindowIcon(icon);

  TPosixConfigToolSystem system;
  TPkexecSettingsWriter writer(system.ProgramFolder() + system.ProgramName());
  return RunSettingsWindow(system, writer);
}
