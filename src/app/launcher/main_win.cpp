#include <windows.h>

#include "common/CodePage_win.h"
#include "common/Handles_win.h"
#include "inputs/CompanyIdentity.h"
#include "inputs/ConfigFolder.h"
#include "launcher/Application_win.h"
#include "launch/CheckOutInfo.h"
#include "launch/CompanyMain.h"
#include "launcher/CompanyMain_win.h"
#include "launcher/Desktop_win.h"
#include "launcher/InstanceLock_win.h"

namespace {

// Show command 7 (minimized, not active) from whoever started the program; the command line
// itself is never read.
bool StartedMinimized() {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  return (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 && startup.wShowWindow == SW_SHOWMINNOACTIVE;
}

void RunMessageLoop() {
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void Run(HINSTANCE instance) {
  TWinApplication application(instance);
  // The lock lives until the process ends, also in a copy that is refused.
  TWinInstanceLock lock(application);
  if (TCheckOutInfo().CheckProgramRunning(lock)) return;

  const TComApartment com;
  const TWinCodePage codePage;
  TWinDesktop desktop(codePage, application);
  TProgramConfigFolder config;
  TIniCompanyIdentitySource identitySource(config, codePage);

  TWinMainWindow window(instance, application);
  if (!window.Create()) return;
  desktop.SetOwner(window.Handle());

  TFrm_CompanyMain form(desktop, config, identitySource);
  window.Attach(form);
  form.FormCreate();
  window.Show(StartedMinimized());
  RunMessageLoop();
  // The system takes back the window, GDI+, COM and the lock with the process. Destroying the
  // maximized window ourselves would only make the program linger (two seconds under Wine
  // without a window manager) after its work is done.
  ExitProcess(0);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    Run(instance);
  } catch (...) {
    // Only memory exhaustion gets here; there is nothing left to tell the user with.
  }
  return 0;
}
