#pragma once

#include <string>
#include <string_view>

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
};

class TFileOper {
 public:
  // The key's value from the INI file, "" when the file, section or key is missing or the
  // file cannot be read; errors other than those pass to the caller.
  static std::string ReadIniString(const std::string& fileName, std::string_view section,
                                   std::string_view key);
};
