#pragma once

#include <string>
#include <string_view>

#include "common/CodePage.h"

// What the launch flow asks of the desktop it runs on: the user's code page, the messages,
// the browser and the end of the program.
class TDesktop {
 public:
  virtual ~TDesktop() = default;

  // The ANSI code page the INI files and the identity are in.
  [[nodiscard]] virtual const TCodePage& AnsiCodePage() const = 0;
  // OLE for the GUI thread where the platform has it; a no-op elsewhere.
  virtual void InitializeOle() {}
  // Modal message, caption "提示", OK button and warning icon; returns once it is dismissed.
  virtual void ShowMessage(std::string_view utf8Text) = 0;
  // Hands the address to the web browser without waiting for it. False only when no
  // browser could be started at all.
  virtual bool OpenBrowser(const std::string& address) = 0;
  // Posts the end of the program; the event loop processes it later.
  virtual void RequestEnd() = 0;
};
