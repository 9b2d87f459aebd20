#pragma once

#include <QString>
#include <string_view>

#include "app/Desktop.h"

// The program's UTF-8 texts as Qt text.
inline QString QStringFromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The desktop of a Linux session, through Qt: message boxes, xdg-open, the event loop.
class TQtDesktop final : public TDesktop {
 public:
  explicit TQtDesktop(const TCodePage& codePage) : codePage_(codePage) {}

  std::string GetAppPath() override;
  [[nodiscard]] char PathSeparator() const override { return '/'; }
  bool FileExists(const std::string& path) override;
  std::optional<TIniValues> ReadIniValues(const std::string& file, std::string_view section,
                                          const std::vector<std::string>& keys) override;
  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }

  void ShowMessage(std::string_view utf8Text) override;
  // Starts xdg-open, found through PATH, with the address as its only argument, in a
  // session of its own, without a shell and without waiting for it.
  bool OpenBrowser(const std::string& address) override;
  // Posts the quit: a direct QCoreApplication::quit() before exec() would be lost.
  void RequestEnd() override;

 private:
  const TCodePage& codePage_;
};
