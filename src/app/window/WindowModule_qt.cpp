// The window module: Qt for the launcher, behind the C interface of WindowModule.h.
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>
#include <memory>
#include <string>

#include "launch/Messages.h"
#include "launch/WindowModule.h"
#include "window/CompanyMain_qt.h"
#include "qt/MessageBox_qt.h"

namespace {

// The toolkit and the window, for the one run of the program.
struct TState {
  CompanyMainWindowHost host{};
  std::string programName;
  int argc = 1;
  char* argv[2] = {nullptr, nullptr};
  std::unique_ptr<QApplication> application;
  std::unique_ptr<QTranslator> qtTexts;
  std::unique_ptr<TFrm_CompanyMainQt> window;
  std::unique_ptr<QSocketNotifier> activation;
};
TState* state = nullptr;

QtMessageHandler qtMessages = nullptr;

// A display that answered the launcher's check but that Qt still cannot use makes Qt give up
// with a fatal message and abort: the launcher says why, with the message that was to be
// shown, and ends with exit code 1.
void StartupMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg || state == nullptr || state->host.fail == nullptr) {
    qtMessages(type, context, text);
    return;
  }
  state->host.fail(state->host.launcher, text.simplified().toUtf8().constData());
}

// The desktop knows the program by its menu entry and its icon; the icon's sizes are those a
// title bar or a task list draws (a dock takes the theme's icon through the menu entry).
void PresentToDesktop() {
  QGuiApplication::setDesktopFileName(QStringLiteral("companymain"));
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64})
    icon.addFile(QStringLiteral(":/CompanyMain/icons/companymain-%1.png").arg(size),
                 QSize(size, size));
  QApplication::setWindowIcon(icon);
}

void Open(const CompanyMainWindowHost* host, int withMainWindow) {
  if (state == nullptr) {
    state = new TState;
  }
  state->host = *host;  // the latest: the browser started since the first call, say
  if (state->application == nullptr) {
    state->programName = host->programName != nullptr ? host->programName : "CompanyMain";
    state->argv[0] = state->programName.data();
    // The class part of WM_CLASS, which is how the window is known to the desktop.
    QCoreApplication::setApplicationName(QStringFromUtf8(kMainWindowClass));
    qtMessages = qInstallMessageHandler(StartupMessages);
    state->application = std::make_unique<QApplication>(state->argc, state->argv);
    qInstallMessageHandler(qtMessages);
    state->qtTexts = LoadQtTexts();
    PresentToDesktop();
    // Should the display go away later, Qt's platform plugin notices the broken connection
    // and ends the process with exit code 1; the lock dies with it.
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
      if (lent.acceptActivation(lent.launcher) != 0 && state->window != nullptr)
        state->window->ActivationRequested();
    });
  }
}

void WaitingForUser(bool waiting) {
  if (state != nullptr && state->host.waitingForUser != nullptr)
    state->host.waitingForUser(state->host.launcher, waiting ? 1 : 0);
}

// The main window, once it is on screen: the box then belongs to it.
QWidget* WindowOnScreen() {
  return state != nullptr && state->window != nullptr && state->window->isVisible()
             ? state->window.get()
             : nullptr;
}

void ShowMessage(const char* utf8Text) {
  ShowProgramMessageBox(utf8Text, WaitingForUser, WindowOnScreen());
}

// With the window up, xdg-open is given a moment to find and start the browser: a quick
// failure is told, one still running when the moment is over is left to itself.
void WatchBrowser(QTimer& poll, QElapsedTimer& elapsed) {
  const CompanyMainWindowHost host = state->host;
  const auto look = [&poll, &elapsed, host] {
    if (!poll.isActive()) return;  // told already
    const int browser = host.browserState(host.launcher);
    if (browser == 0 && elapsed.elapsed() < host.browserPatience) return;
    poll.stop();
    if (browser == 2) ShowProgramMessageBox(kMsgBrowserFailed, WaitingForUser, WindowOnScreen());
    QCoreApplication::quit();
  };
  poll.setInterval(50);
  QObject::connect(&poll, &QTimer::timeout, look);
  elapsed.start();
  poll.start();
  // At once, too: usually xdg-open has ended before the window is up.
  QTimer::singleShot(0, &poll, look);
}

void Close() {
  if (state == nullptr) return;
  state->activation.reset();
  state->window.reset();
  state->qtTexts.reset();
  state->application.reset();
  delete state;
  state = nullptr;
}

int Run(int endRequested) {
  state->window->ShowAtStart();
  QTimer poll;
  QElapsedTimer elapsed;
  if (endRequested != 0 && state->host.browserState != nullptr) {
    WatchBrowser(poll, elapsed);
  } else if (endRequested != 0) {
    // A direct quit() before exec() would be lost: it is posted.
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
