#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "launch/Desktop.h"

class TWindowModuleLoader;

// The launcher's desktop: xdg-open for the browser; the messages through the window module,
// which is loaded for them.
class TPosixDesktop final : public TDesktop {
 public:
  TPosixDesktop(const TCodePage& codePage, TWindowModuleLoader& window)
      : codePage_(codePage), window_(window) {}

  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }
  void ShowMessage(std::string_view utf8Text) override;
  bool OpenBrowser(const std::string& address) override;
  void RequestEnd() override { endRequested_ = true; }

  [[nodiscard]] bool EndRequested() const { return endRequested_; }
  // The xdg-open started for the page; -1 when none was.
  [[nodiscard]] pid_t Browser() const { return browser_; }

 private:
  const TCodePage& codePage_;
  TWindowModuleLoader& window_;
  bool endRequested_ = false;
  pid_t browser_ = -1;
};
