#pragma once

#include <string>
#include <string_view>

#include "launch/Desktop.h"

class TWinApplication;

// The Windows desktop: message boxes, the shell and the message loop. Window handles are
// passed as void* so that including this header never brings <windows.h> along.
class TWinDesktop final : public TDesktop {
 public:
  TWinDesktop(const TCodePage& codePage, TWinApplication& application)
      : codePage_(codePage), application_(application) {}

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
  TWinApplication& application_;
  void* owner_ = nullptr;
};
