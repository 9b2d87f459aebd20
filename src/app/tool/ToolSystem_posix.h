#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/CodePage_posix.h"
#include "tool/ConfigTool.h"

// The message catalog of companymain-config (share/locale/<language>/LC_MESSAGES/).
inline constexpr const char* kConfigToolDomain = "companymain-config";
// Binds it, in UTF-8, for a program in the tool's folder (the tool, the settings window): the
// catalogs beside the program in the build folder, else where the installation puts them.
void BindConfigToolMessages();

// companymain-config's contact with a POSIX system: the locale's code page and messages
// (gettext, strerror), paths as bytes, files changed on folders opened once under a lock (flock),
// the terminal in the locale's encoding.
class TPosixConfigToolSystem : public TConfigToolSystem {
 public:
  TPosixConfigToolSystem();
  explicit TPosixConfigToolSystem(TPosixCodePage codePage);

  std::string Translate(const char* english) override;
  [[nodiscard]] std::string ProgramName() const override { return "companymain-config"; }
  std::string ElevationRemedy() override;
  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }
  std::optional<std::string> ArgumentText(const std::string& argument) override;
  std::string PathText(const std::string& path) override;

  [[nodiscard]] char PathSeparator() const override { return '/'; }
  std::string ProgramFolder() override;
  std::string FullFolder(const std::string& folder) override;
  std::string RealPath(const std::string& path) override;
  [[nodiscard]] bool StartedThroughPkexec() const override;

  TConfigFolder& Files() override { return files_; }
  TFailure ReadFailure(std::uint32_t error) override;
  std::optional<TClosed> ClosedToOthers(const std::string& path) override;
  std::string LauncherVersion(const std::string& folder) override;

  // ConfigChange_posix.cpp.
  std::unique_ptr<TChange> BeginChange(const std::string& config,
                                       const std::vector<std::string>& names,
                                       TFailure& failure) override;
  bool RegistryTexts(const std::string& key, const std::vector<std::string>& names,
                     std::map<std::string, std::string>& texts, TFailure& failure) override;
  bool ReadInput(const std::string& path, std::size_t limit, std::string& bytes,
                 TFailure& failure) override;

  void Out(std::string_view utf8) override;
  void Err(std::string_view utf8) override;
  void OutAddress(std::string_view ansi) override;
  void OutUtf8(std::string_view utf8) override;

 private:
  class TPosixChange;

  [[nodiscard]] std::string Ansi(std::string_view utf8) const;
  // The system's reason for the error number, in the user's language, as UTF-8.
  TFailure Failure(int error) const;

  TPosixCodePage codePage_;
  TProgramConfigFolder files_;
};
