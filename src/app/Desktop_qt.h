#pragma once

#include <QString>
#include <string_view>

#include "app/Desktop.h"

// The program's UTF-8 texts as Qt text.
inline QString QStringFromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The desktop of a Linux session: Qt's message boxes and event loop, and xdg-open.
class TQtDesktop final : public TDesktop {
 public:
  explicit TQtDesktop(const TCodePage& codePage) : codePage_(codePage) {}

  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }
  void ShowMessage(std::string_view utf8Text) override;
  bool OpenBrowser(const std::string& address) override;
  // Posts the quit: a direct QCoreApplication::quit() before exec() would be lost.
  void RequestEnd() override;

 private:
  const TCodePage& codePage_;
};
