#include "app/CheckOutInfo_win.h"

#include "address/CodePage_win.h"
#include "app/Messages.h"

bool TWinInstanceLock::AlreadyExists() {
  const std::wstring name = WideFromUtf8(kInstanceLockName);
  mutex_.Reset(CreateMutexW(nullptr, TRUE, name.c_str()));
  // Read at once: nothing may run between the creation and this test.
  return GetLastError() == ERROR_ALREADY_EXISTS;
}

void TWinInstanceLock::ActivateRunningCopy() {
  const std::wstring className = WideFromUtf8(kMainWindowClass);
  const std::wstring caption = WideFromUtf8(kAppTitle);
  HWND running = FindWindowW(className.c_str(), caption.c_str());
  if (running == nullptr) return;
  // Let the running copy come to the foreground: it has no input of its own to earn it.
  DWORD processId = 0;
  GetWindowThreadProcessId(running, &processId);
  if (processId != 0) AllowSetForegroundWindow(processId);
  ShowWindowAsync(running, SW_MAXIMIZE);
}

void TWinInstanceLock::ShowMessage(std::string_view utf8Text) {
  ShowProgramMessage(nullptr, utf8Text);
}

void ShowProgramMessage(HWND owner, std::string_view utf8Text) {
  const std::wstring text = WideFromUtf8(utf8Text);
  const std::wstring caption = WideFromUtf8(kMessageCaption);
  MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
}
