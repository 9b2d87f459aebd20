#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/CodePage.h"
#include "common/IniText.h"

// Small stateless helpers called on the class itself. Each first empties its result.

class TStrOper {
 public:
  // Base64 of the bytes; any error gives "".
  static std::string EncodeStr(std::string_view bytes) noexcept;
  // Bytes of the (leniently read) base64 text; any error gives "".
  static std::string DecodeStr(std::string_view text) noexcept;
};

// These two touch the operating system; each platform provides them in its own file
// (PublicFunction_posix.cpp, PublicFunction_win.cpp). Paths are UTF-8 on every platform.
class TSysOper {
 public:
  // Folder of the running program, ending with the platform's separator; any error gives "".
  static std::string GetAppPath() noexcept;
  // The platform's path separator: "\\" on Windows, "/" elsewhere.
  static char PathSeparator() noexcept;
};

class TFileOper {
 public:
  // A file, not a folder, exists at the path (of any length).
  static bool FileExists(const std::string& fileName);
  // The values of some keys of one section of an INI file (the private-profile reader's
  // ReadIniString, for several keys at once), read in one pass that stops as
  // soon as they are known (see TIniScanner); values come in the ANSI code page whatever the
  // file's own encoding. nullopt when the file cannot be read; other errors pass to the caller.
  static std::optional<TIniValues> ReadIniValues(const std::string& fileName,
                                                 std::string_view section,
                                                 const std::vector<std::string>& keys,
                                                 const TCodePage& codePage);
};
