#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <memory>
#include <string>

#include "app/CompanyMain_qt.h"
#include "app/Desktop_qt.h"
#include "app/Display_posix.h"
#include "app/InstanceLock_posix.h"
#include "app/Messages.h"
#include "common/CodePage_posix.h"
#include "inputs/CompanyIdentity.h"
#include "inputs/ConfigFolder.h"

namespace {

void ReportNoDisplay(const std::string& reason) {
  const std::string line = "CompanyMain: no display to show the window on (" + reason + ")\n";
  std::fputs(line.c_str(), stderr);
}

QtMessageHandler qtMessages = nullptr;

// A window system that answered the check but that Qt still cannot use (a Wayland socket
// without Qt's Wayland plugin, say) makes Qt give up with a fatal message and abort: end the
// same way as without a display instead, after Qt's own lines on the plugins it tried.
// Nothing has been opened yet.
void StartupMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    qtMessages(type, context, text);
    return;
  }
  ReportNoDisplay("no Qt platform plugin could connect to it");
  _exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else: started from ssh or cron there is nothing to show a window on,
  // and Qt's own answer to that is abort().
  if (const std::string reason = MissingDisplayReason(); !reason.empty()) {
    ReportNoDisplay(reason);
    return 1;
  }

  // Read before QApplication exists: Qt moves LC_CTYPE to UTF-8 when it starts.
  const TPosixCodePage codePage = TPosixCodePage::ForUserLocale();

  // The class part of WM_CLASS, which is how the window is known to the desktop.
  QCoreApplication::setApplicationName(QStringFromUtf8(kMainWindowClass));
  // Arguments mean nothing to this program, and Qt must not act on any either.
  static char fallbackName[] = "CompanyMain";
  int qtArgc = 1;
  char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
  qtMessages = qInstallMessageHandler(StartupMessages);
  QApplication application(qtArgc, qtArgv);
  qInstallMessageHandler(qtMessages);
  // Should the display go away later, Qt's xcb plugin notices the broken connection and
  // ends the process with exit code 1; the lock dies with it.

  TQtDesktop desktop(codePage);
  TPosixInstanceLock lock([&desktop](std::string_view text) { desktop.ShowMessage(text); });
  if (TCheckOutInfo().CheckProgramRunning(lock)) {
    desktop.RequestEnd();
    return 0;
  }

  // Requests that come while the window is still being created are taken and dropped: it
  // is shown maximized in a moment anyway.
  TFrm_CompanyMainQt* window = nullptr;
  std::unique_ptr<QSocketNotifier> activation;
  if (lock.ActivationFd() >= 0) {
    activation = std::make_unique<QSocketNotifier>(lock.ActivationFd(), QSocketNotifier::Read);
    QObject::connect(activation.get(), &QSocketNotifier::activated, [&lock, &window] {
      if (lock.AcceptActivation() && window != nullptr) window->ActivationRequested();
    });
  }

  TProgramConfigFolder config(codePage);
  TIniCompanyIdentitySource identitySource(config);
  TFrm_CompanyMainQt mainWindow(desktop, config, identitySource);
  window = &mainWindow;
  mainWindow.ShowAtStart();
  QApplication::exec();
  window = nullptr;
  return 0;
}
