#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/CodePage.h"
#include "common/IniText.h"

// The installation's "Config" folder beside the program, as the launch reads it: the narrow
// view of the file system that the launch flow and the identity source need (and that their
// tests replace).
class TConfigFolder {
 public:
  virtual ~TConfigFolder() = default;
  // The full path of a file in the folder; "" when the program's own folder cannot be told
  // (never a path relative to the working directory).
  virtual std::string PathOf(std::string_view fileName) = 0;
  // A file, not a folder, exists at the path.
  virtual bool FileExists(const std::string& path) = 0;
  // Values of one section, read as the private-profile reader reads them, in the ANSI code
  // page; nullopt when the path is not a regular file this process can read.
  virtual std::optional<TIniValues> ReadIniValues(const std::string& path, std::string_view section,
                                                  const std::vector<std::string>& keys) = 0;
};

// The real folder: "Config" in the program's folder (TSysOper::GetAppPath), or in the folder
// given, read through TFileOper.
class TProgramConfigFolder final : public TConfigFolder {
 public:
  explicit TProgramConfigFolder(const TCodePage& codePage);
  // programFolder ends with the platform's path separator.
  TProgramConfigFolder(const TCodePage& codePage, std::string programFolder);

  std::string PathOf(std::string_view fileName) override;
  bool FileExists(const std::string& path) override;
  std::optional<TIniValues> ReadIniValues(const std::string& path, std::string_view section,
                                          const std::vector<std::string>& keys) override;

 private:
  const TCodePage& codePage_;
  std::string programFolder_;
};
