#include "inputs/ConfigFolder.h"

#include "common/PublicFunction.h"

TProgramConfigFolder::TProgramConfigFolder(const TCodePage& codePage)
    : TProgramConfigFolder(codePage, TSysOper::GetAppPath()) {}

TProgramConfigFolder::TProgramConfigFolder(const TCodePage& codePage, std::string programFolder)
    : codePage_(codePage), programFolder_(std::move(programFolder)) {}

std::string TProgramConfigFolder::PathOf(std::string_view fileName) {
  if (programFolder_.empty()) return {};
  return programFolder_ + "Config" + TSysOper::PathSeparator() + std::string(fileName);
}

bool TProgramConfigFolder::FileExists(const std::string& path) {
  return TFileOper::FileExists(path);
}

std::optional<TIniValues> TProgramConfigFolder::ReadIniValues(
    const std::string& path, std::string_view section, const std::vector<std::string>& keys) {
  return TFileOper::ReadIniValues(path, section, keys, codePage_);
}
