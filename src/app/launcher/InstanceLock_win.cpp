#include "launcher/InstanceLock_win.h"

#include <windows.h>

#include "common/CodePage_win.h"
#include "common/Handles_win.h"
#include "launcher/Application_win.h"
#include "launch/Messages.h"

struct TWinInstanceLock::TMutex {
  TUniqueHandle handle;
};

TWinInstanceLock::TWinInstanceLock(TWinApplication& application)
    : mutex_(std::make_unique<TMutex>()), application_(application) {}
TWinInstanceLock::~TWinInstanceLock() = default;

bool TWinInstanceLock::AlreadyExists() {
  const std::wstring name = WideFromUtf8(kInstanceLockName);
  mutex_->handle.Reset(CreateMutexW(nullptr, TRUE, name.c_str()));
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
  // No window of ours exists: the application window owns the box.
  application_.ShowMessage(nullptr, utf8Text);
}
