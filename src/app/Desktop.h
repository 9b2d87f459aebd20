#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/CodePage.h"
#include "common/IniText.h"

// Everything the launch flow asks of the platform. Paths are UTF-8 on every platform;
// INI values and identity fields are bytes in the ANSI code page.
class TDesktop {
 public:
  virtual ~TDesktop() = default;

  // Folder of the running program, ending with PathSeparator(); "" when it cannot be told.
  virtual std::string GetAppPath() = 0;
  [[nodiscard]] virtual char PathSeparator() const = 0;
  // A file (not a folder) exists at the path.
  virtual bool FileExists(const std::string& path) = 0;
  // Values of one section, read like the private-profile reader does, in the ANSI code page;
  // nullopt when the file is not a regular file this process can read.
  virtual std::optional<TIniValues> ReadIniValues(const std::string& file, std::string_view section,
                                                  const std::vector<std::string>& keys) = 0;
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
