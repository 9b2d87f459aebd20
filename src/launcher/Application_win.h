#pragma once

#include <memory>
#include <string_view>

// The application window: a top-level window titled "企业信息管理" with the program's icon,
// of its own class (never the main window's, which a second copy looks for). It stands in the
// taskbar for a message box shown while no window of the program is on screen, so the box
// has one button, titled like the program, that brings it back. It has no size of its own and
// is made at the first such message: a start that shows none never creates it.
// Handles are passed as void* (HINSTANCE, HWND): this header brings no Windows headers along.
class TWinApplication {
 public:
  explicit TWinApplication(void* instance);
  ~TWinApplication();
  TWinApplication(const TWinApplication&) = delete;
  TWinApplication& operator=(const TWinApplication&) = delete;

  // The program's message box: caption "提示", OK with the exclamation icon (flags 0x30),
  // modal to the owner window (HWND), or to the application window when there is none. While
  // the owner is off screen, the application window carries the box's taskbar button.
  void ShowMessage(void* owner, std::string_view utf8Text);
  // The owner has come on screen with a taskbar button of its own: the stand-in goes.
  void OwnerShown();

 private:
  class TImpl;
  std::unique_ptr<TImpl> impl_;
};
