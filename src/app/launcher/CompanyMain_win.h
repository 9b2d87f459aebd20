#pragma once

#include <memory>

#include "launch/CompanyMain.h"

class TWinApplication;

// The platform window of TFrm_CompanyMain: class "TFrm_CompanyMain", caption "企业信息管理",
// 1024 x 738 at 96 DPI, centred; the loading message and the animated picture on a bevelled
// panel. Its handle exists from Create() on, hidden, so a second copy finds it at once.
// Handles are passed as void* (HINSTANCE, HWND): this header brings no Windows headers along.
class TWinMainWindow {
 public:
  // The application window is told when this window comes on screen.
  TWinMainWindow(void* instance, TWinApplication& application);
  ~TWinMainWindow();
  TWinMainWindow(const TWinMainWindow&) = delete;
  TWinMainWindow& operator=(const TWinMainWindow&) = delete;

  // Registers the window class and creates the hidden window; false when either fails.
  bool Create();
  [[nodiscard]] void* Handle() const;
  // The launch logic whose show step the window runs.
  void Attach(TFrm_CompanyMain& form);

  // The ordinary start runs the show step and then shows the window maximized. A minimized
  // start shows only the taskbar entry; the show step runs once the window is restored.
  void Show(bool startMinimized);

 private:
  class TImpl;
  std::unique_ptr<TImpl> impl_;
};
