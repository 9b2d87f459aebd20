// The window module: Qt for the launcher, behind the C interface of WindowModule.h.
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <memory>
#include <string>

#include "app/CompanyMain_qt.h"
#include "app/MessageBox_qt.h"
#include "app/Messages.h"
#include "app/WindowModule.h"

namespace {

// The toolkit and the window, for the one run of the program.
struct TState {
  std::string programName;
  int argc = 1;
  char* argv[2] = {nullptr, nullptr};
  std::unique_ptr<QApplication> application;
  std::unique_ptr<TFrm_CompanyMainQt> window;
  std::unique_ptr<QSocketNotifier> activation;
};
TState* state = nullptr;

QtMessageHandler qtMessages = nullptr;

// A display that answered the launcher's check but that Qt still cannot use (a Wayland
// socket without Qt's Wayland plugin, say) makes Qt give up with a fatal message and abort:
// end as without a display instead, after Qt's own lines on the plugins it tried.
void StartupMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    qtMessages(type, context, text);
    return;
  }
  std::fputs(
      "CompanyMain: no display to show the window on (no Qt platform plugin could connect to "
      "it)\n",
      stderr);
  _exit(1);
}

void Open(const CompanyMainWindowHost* host, int withMainWindow) {
  if (state == nullptr) {
    state = new TState;
    state->programName = host->programName != nullptr ? host->programName : "CompanyMain";
    state->argv[0] = state->programName.data();
    // The class part of WM_CLASS, which is how the window is known to the desktop.
    QCoreApplication::setApplicationName(QStringFromUtf8(kMainWindowClass));
    qtMessages = qInstallMessageHandler(StartupMessages);
    state->application = std::make_unique<QApplication>(state->argc, state->argv);
    qInstallMessageHandler(qtMessages);
    // Should the display go away later, Qt's xcb plugin notices the broken connection and
    // ends the process with exit code 1; the lock dies with it.
  }
  if (withMainWindow == 0 || state->window != nullptr) return;
  state->window = std::make_unique<TFrm_CompanyMainQt>();
  // Requests that come before the window is on screen are taken and dropped: it is shown
  // maximized in a moment anyway.
  if (host->activationFd >= 0 && host->acceptActivation != nullptr) {
    state->activation =
        std::make_unique<QSocketNotifier>(host->activationFd, QSocketNotifier::Read);
    const CompanyMainWindowHost lent = *host;
    QObject::connect(state->activation.get(), &QSocketNotifier::activated, [lent] {
      if (lent.acceptActivation(lent.lock) != 0 && state->window != nullptr)
        state->window->ActivationRequested();
    });
  }
}

void ShowMessage(const char* utf8Text) {
  ShowProgramMessageBox(utf8Text);
}

void Close() {
  if (state == nullptr) return;
  state->activation.reset();
  state->window.reset();
  state->application.reset();
  delete state;
  state = nullptr;
}

int Run(int endRequested) {
  state->window->ShowAtStart();
  // A direct quit() before exec() would be lost: it is posted.
  if (endRequested != 0) {
    QMetaObject::invokeMethod(state->application.get(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
  }
  const int code = QApplication::exec();
  Close();
  return code;
}

constexpr CompanyMainWindowCalls kCalls = {kCompanyMainWindowVersion, Open, ShowMessage, Run,
                                           Close};

}  // namespace

extern "C" __attribute__((visibility("default"))) const CompanyMainWindowCalls*
CompanyMainWindowEntry(void) {
  return &kCalls;
}
