#pragma once

#include <windows.h>

#include <memory>

#include "app/CompanyMain.h"
#include "app/Handles_win.h"
#include "app/LoadingPicture_win.h"

// The platform window of TFrm_CompanyMain: class "TFrm_CompanyMain", caption "企业信息管理",
// 1024 x 738 at 96 DPI, centred; the loading message and the animated picture on a bevelled
// panel. Its handle exists from Create() on, hidden, so a second copy finds it at once.
class TWinMainWindow {
 public:
  explicit TWinMainWindow(HINSTANCE instance);
  ~TWinMainWindow();
  TWinMainWindow(const TWinMainWindow&) = delete;
  TWinMainWindow& operator=(const TWinMainWindow&) = delete;

  // Registers the window class and creates the hidden window; false when either fails.
  bool Create();
  [[nodiscard]] HWND Handle() const { return window_.Get(); }
  // The launch logic whose show step the window runs.
  void Attach(TFrm_CompanyMain& form) { form_ = &form; }

  // The ordinary start runs the show step and then shows the window maximized. A minimized
  // start shows only the taskbar entry; the show step runs once the window is restored.
  void Show(bool startMinimized);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void ApplyDpi(UINT dpi);
  [[nodiscard]] int Scale(int designPixels) const;
  [[nodiscard]] RECT PictureRect() const;
  void Paint();
  void LoadPicture();
  void StartAnimation();

  HINSTANCE instance_;
  // Loaded at the first paint, after the browser has started; the window works without it.
  std::unique_ptr<TGdiplusSession> gdiplus_;
  std::unique_ptr<TLoadingPicture> picture_;  // goes before the GDI+ session it needs
  bool pictureLoaded_ = false;
  TFrm_CompanyMain* form_ = nullptr;
  ATOM class_ = 0;
  TUniqueWindow window_;
  TUniqueFont font_;
  UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
  bool waitingForRestore_ = false;
  bool animating_ = false;
};
