#include <windows.h>

#include "address/CodePage_win.h"
#include "app/CheckOutInfo.h"
#include "app/CheckOutInfo_win.h"
#include "app/CompanyMain.h"
#include "app/CompanyMain_win.h"
#include "app/Desktop_win.h"
#include "app/Handles_win.h"
#include "app/LoadingPicture_win.h"
#include "app/Resources_win.h"
#include "inputs/CompanyIdentity.h"

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
  // The lock lives until the process ends, also in a copy that is refused.
  TWinInstanceLock lock;
  if (TCheckOutInfo().CheckProgramRunning(lock)) return;

  const TComApartment com;
  const TWinCodePage codePage;
  TWinDesktop desktop(codePage);
  TIniCompanyIdentitySource identitySource(desktop);

  const TGdiplusSession gdiplus;
  TLoadingPicture picture(instance, IDR_LOADING_GIF);
  TWinMainWindow window(instance, gdiplus.Ok() && picture.Valid() ? &picture : nullptr);
  if (!window.Create()) return;
  desktop.SetOwner(window.Handle());

  TFrm_CompanyMain form(desktop, identitySource);
  window.Attach(form);
  form.FormCreate();
  window.Show(StartedMinimized());
  RunMessageLoop();
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
