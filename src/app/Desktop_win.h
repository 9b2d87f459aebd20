#pragma once

#include <string>
#include <string_view>

#include "app/Desktop.h"

// The Windows desktop: message boxes, the shell and the message loop. Window handles are
// passed as void* so that including this header never brings <windows.h> along.
class TWinDesktop final : public TDesktop {
 public:
  explicit TWinDesktop(const TCodePage& codePage) : codePage_(codePage) {}

  // The window (HWND) that owns the message boxes and the browser launch.
  void SetOwner(void* window) { owner_ = window; }

  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }
  void InitializeOle() override;
  void ShowMessage(std::string_view utf8Text) override;
  // "IExplore.exe" with the address as its parameters; where Internet Explorer is gone, the
  // default browser of a web address. False only when neither could be started.
  bool OpenBrowser(const std::string& address) override;
  void RequestEnd() override;

 private:
  const TCodePage& codePage_;
  void* owner_ = nullptr;
};

// The program's message box: caption "提示", OK with the exclamation icon (flags 0x30), modal
// to the owner window (HWND; none before the main window exists).
void ShowProgramMessage(void* owner, std::string_view utf8Text);
