#include <QApplication>
#include <QSocketNotifier>
#include <memory>

#include "address/CodePage_posix.h"
#include "app/CheckOutInfo_posix.h"
#include "app/CompanyMain_qt.h"
#include "app/Desktop_qt.h"
#include "app/Messages.h"
#include "inputs/CompanyIdentity.h"

int main(int argc, char** argv) {
  // Read before QApplication exists: Qt moves LC_CTYPE to UTF-8 when it starts.
  const TPosixCodePage codePage = TPosixCodePage::ForUserLocale();

  // The class part of WM_CLASS, which is how the window is known to the desktop.
  QCoreApplication::setApplicationName(QStringFromUtf8(kMainWindowClass));
  // Arguments mean nothing to this program, and Qt must not act on any either.
  static char fallbackName[] = "CompanyMain";
  int qtArgc = 1;
  char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
  QApplication application(qtArgc, qtArgv);

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

  TIniCompanyIdentitySource identitySource(desktop);
  TFrm_CompanyMainQt mainWindow(desktop, identitySource);
  window = &mainWindow;
  mainWindow.ShowAtStart();
  QApplication::exec();
  window = nullptr;
  return 0;
}
