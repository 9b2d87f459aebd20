#pragma once

#include <windows.h>

#include "app/Desktop.h"

// The Windows desktop: the program folder, the profile reader, message boxes and the shell.
class TWinDesktop final : public TDesktop {
 public:
  explicit TWinDesktop(const TCodePage& codePage) : codePage_(codePage) {}

  // The window that owns the message boxes and the browser launch.
  void SetOwner(HWND owner) { owner_ = owner; }

  std::string GetAppPath() override;
  [[nodiscard]] char PathSeparator() const override { return '\\'; }
  bool FileExists(const std::string& path) override;
  std::optional<TIniValues> ReadIniValues(const std::string& file, std::string_view section,
                                          const std::vector<std::string>& keys) override;
  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }

  void InitializeOle() override;
  void ShowMessage(std::string_view utf8Text) override;
  // "IExplore.exe" with the address as its parameters; where Internet Explorer is gone, the
  // default browser of a web address. False only when neither could be started.
  bool OpenBrowser(const std::string& address) override;
  void RequestEnd() override;

 private:
  const TCodePage& codePage_;
  HWND owner_ = nullptr;
};
