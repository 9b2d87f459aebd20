#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/ConfigTool.h"
#include "common/CodePage_posix.h"

// companymain-config's contact with a POSIX system: the locale's code page, files written by
// rename, the terminal in the locale's encoding.
class TPosixConfigToolSystem : public TConfigToolSystem {
 public:
  TPosixConfigToolSystem();
  explicit TPosixConfigToolSystem(TPosixCodePage codePage);

  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }
  std::string FullFolder(const std::string& folder) override;
  bool MakeFolder(const std::string& path) override;
  bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& error) override;
  std::optional<std::string> FileStart(const std::string& path) override;
  std::string LauncherVersion(const std::string& folder) override;
  void Out(std::string_view utf8) override;
  void Err(std::string_view utf8) override;
  void OutAddress(std::string_view ansi) override;
  void OutUtf8(std::string_view utf8) override;

 private:
  [[nodiscard]] std::string Ansi(std::string_view utf8) const;

  TPosixCodePage codePage_;
};
