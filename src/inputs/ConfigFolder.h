#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/CodePage.h"
#include "common/IniText.h"

// One reading of a section of an INI file.
struct TFileRead {
  enum class State { Missing, Read, Unreadable } state = State::Missing;
  TIniEncoding encoding = TIniEncoding::Ansi;  // when Read: what the file's start declares
  TIniValues values;                           // when Read
  // When Unreadable: the system's error number (errno, or GetLastError on Windows); 0 when
  // the path names something that is not a regular file, which is never opened for reading.
  std::uint32_t error = 0;

  [[nodiscard]] bool SectionFound() const { return state == State::Read && values.sectionFound; }
};

// The whole of one file, for a change that keeps every byte it does not change.
struct TFileBytes {
  TFileRead::State state = TFileRead::State::Missing;
  std::string bytes;        // when Read
  std::uint32_t error = 0;  // when Unreadable, as TFileRead's
};

// The installation's configuration folder beside the program: the narrow view of the file system
// that the launch and the configuration tool read through (and that their tests replace).
class TConfigFolder {
 public:
  virtual ~TConfigFolder() = default;
  // The full path of a file in the folder; "" when the program's own folder cannot be told
  // (never a path relative to the working directory).
  virtual std::string PathOf(std::string_view fileName) = 0;
  // A file, not a folder, exists at the path.
  virtual bool FileExists(const std::string& path) = 0;
  // Values of one section, read as the private-profile reader reads them. A file without a
  // byte order mark gives its values in the ANSI code page (ansi); a Unicode file gives them
  // converted into unicodeText: the launcher asks for the ANSI code page there too, the tool
  // for UTF-8, to keep them as they are (values in another code page than ansi are not cut to
  // kIniValueMax bytes). Errors other than the file's own pass to the caller.
  virtual TFileRead ReadSection(const std::string& path, std::string_view section,
                                const std::vector<std::string>& keys, const TCodePage& ansi,
                                const TCodePage& unicodeText) = 0;
  // The file's bytes, at most limit of them: a larger file is Unreadable with the system's
  // error for a file too large (EFBIG, ERROR_FILE_TOO_LARGE). Only a regular file is read.
  virtual TFileBytes ReadWhole(const std::string& path, std::size_t limit) = 0;
};

// The real folder, in the program's folder or in the folder given (see InstallationFiles.h).
// Reading is the platform's (ConfigFolder_linux.cpp, ConfigFolder_win.cpp).
class TProgramConfigFolder final : public TConfigFolder {
 public:
  TProgramConfigFolder();  // the running program's folder
  // programFolder ends with the platform's path separator.
  explicit TProgramConfigFolder(std::string programFolder);

  std::string PathOf(std::string_view fileName) override;
  bool FileExists(const std::string& path) override;
  TFileRead ReadSection(const std::string& path, std::string_view section,
                        const std::vector<std::string>& keys, const TCodePage& ansi,
                        const TCodePage& unicodeText) override;
  TFileBytes ReadWhole(const std::string& path, std::size_t limit) override;

 private:
  std::string programFolder_;
};

// The bytes of one file turned into a section's values, the same on every platform: the
// file's first bytes pick the encoding, and with it the code page the values come in.
class TSectionReading {
 public:
  TSectionReading(std::string_view section, const std::vector<std::string>& keys,
                  const TCodePage& ansi, const TCodePage& unicodeText)
      : section_(section), keys_(keys), ansi_(ansi), unicode_(unicodeText) {}

  // The file's first bytes: three, or fewer only when the file ends there.
  void Start(std::string_view start);
  // The next bytes; false once the rest of the file cannot change the values.
  bool Feed(std::string_view bytes);
  // A run of zero bytes (a hole in a sparse file) without its bytes: nullopt when the result
  // cannot be told that way, else whether to go on.
  std::optional<bool> FeedZeros(std::uint64_t count);
  // The values, once the file has ended (or Feed returned false).
  TFileRead Finish();

 private:
  std::string section_;
  std::vector<std::string> keys_;
  const TCodePage& ansi_;
  const TCodePage& unicode_;
  TIniEncoding encoding_ = TIniEncoding::Ansi;
  std::optional<TIniTextDecoder> decoder_;
  std::optional<TIniScanner> scanner_;
  std::string text_;
};
