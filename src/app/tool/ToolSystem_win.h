#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/CodePage_win.h"
#include "tool/ConfigTool.h"
#include "tool/MessageCatalog.h"

// CompanyMainConfig.exe's contact with Windows: the user's UI language and the catalog carried
// inside the program, the ANSI code page, wide paths, files changed on the folders opened once
// (ConfigChange_win.cpp), the registry, the console or a pipe.
class TWinConfigToolSystem final : public TConfigToolSystem {
 public:
  // catalog: the Chinese messages (a compiled .mo), used when the user's Windows speaks Chinese.
  explicit TWinConfigToolSystem(std::string_view catalog);

  std::string Translate(const char* english) override;
  [[nodiscard]] std::string ProgramName() const override { return "CompanyMainConfig.exe"; }
  std::string ElevationRemedy() override;
  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }
  // The arguments come as UTF-8 of the wide command line: text already.
  std::optional<std::string> ArgumentText(const std::string& argument) override { return argument; }
  std::string PathText(const std::string& path) override { return path; }

  [[nodiscard]] char PathSeparator() const override { return '\\'; }
  std::string ProgramFolder() override;
  std::string FullFolder(const std::string& folder) override;
  // The Config folder is a folder of its own on Windows.
  std::string RealPath(const std::string& path) override { return path; }

  TConfigFolder& Files() override { return files_; }
  TFailure ReadFailure(std::uint32_t error) override;
  // The folder's access list is the installer's (Program Files lets every user read); the
  // tool does not judge it.
  std::optional<TClosed> ClosedToOthers(const std::string&) override { return std::nullopt; }
  std::string LauncherVersion(const std::string& folder) override;

  std::unique_ptr<TChange> BeginChange(const std::string& config,
                                       const std::vector<std::string>& names,
                                       TFailure& failure) override;
  [[nodiscard]] bool HasRegistry() const override { return true; }
  bool RegistryTexts(const std::string& key, const std::vector<std::string>& names,
                     std::map<std::string, std::string>& texts, TFailure& failure) override;
  bool ReadInput(const std::string& path, std::size_t limit, std::string& bytes,
                 TFailure& failure) override;

  void Out(std::string_view utf8) override;
  void Err(std::string_view utf8) override;
  // The launcher widens the address with the ANSI code page before handing it over.
  void OutAddress(std::string_view ansi) override;
  // A console shows it as text; a pipe or a file gets UTF-8 anyway.
  void OutUtf8(std::string_view utf8) override { Out(utf8); }

 private:
  // ConfigChange_win.cpp: the way to the files opened once, by a rule of owners.
  class TWinChange;

  // The system's text for an error code (GetLastError, LSTATUS).
  [[nodiscard]] TFailure Failure(std::uint32_t error) const;

  bool chinese_;
  TMessageCatalog catalog_;
  TWinCodePage codePage_;
  TProgramConfigFolder files_;
};
