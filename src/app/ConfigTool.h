#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/CodePage.h"

// What the configuration tool needs of the platform. Texts are UTF-8; paths too.
class TConfigToolSystem {
 public:
  virtual ~TConfigToolSystem() = default;

  // The ANSI code page the launcher reads its files in, on this machine and for this user.
  [[nodiscard]] virtual const TCodePage& AnsiCodePage() const = 0;
  // A folder given on the command line as a full path ending with the path separator.
  virtual std::string FullFolder(const std::string& folder) = 0;
  // Makes the folder when it is missing; false when there is no folder there afterwards.
  virtual bool MakeFolder(const std::string& path) = 0;
  // Puts the bytes at the path in one step: whoever reads it sees the old file or the whole
  // new one. On failure nothing has changed and error says why.
  virtual bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& error) = 0;
  // The first bytes of a file, to tell its encoding; nullopt when it cannot be read.
  virtual std::optional<std::string> FileStart(const std::string& path) = 0;
  // The version the launcher in the folder carries; "" when there is none to be found.
  virtual std::string LauncherVersion(const std::string& folder) = 0;

  // Standard output and standard error, in whatever the console takes.
  virtual void Out(std::string_view utf8) = 0;
  virtual void Err(std::string_view utf8) = 0;
  // The address exactly as the launcher hands it over (bytes in the ANSI code page).
  virtual void OutAddress(std::string_view ansi) = 0;
  // Output for programs (JSON): UTF-8 whatever the console's encoding.
  virtual void OutUtf8(std::string_view utf8) = 0;
};

// Exit codes.
inline constexpr int kToolOk = 0;
inline constexpr int kToolLauncherWouldRefuse = 1;  // check: the launcher would show a message
inline constexpr int kToolRefused = 2;              // bad command line or a value refused
inline constexpr int kToolWriteFailed = 3;

// companymain-config: writes an installation's configuration with the launcher's own rules,
// and shows what the launcher will do with it. args are the command line without the
// program's name, as UTF-8.
int RunConfigTool(const std::vector<std::string>& args, TConfigToolSystem& system);
