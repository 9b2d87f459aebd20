// CompanyMainConfig.exe
#include <cstddef>
#include <string>
#include <vector>

#include "common/CodePage_win.h"
#include "tool/ToolSystem_win.h"

// po/zh_CN.po compiled by msgfmt, made part of the program at build time.
extern const char kChineseCatalog[];
extern const std::size_t kChineseCatalog_SIZE;

int wmain(int argc, wchar_t** argv) {
  TWinConfigToolSystem system(std::string_view(kChineseCatalog, kChineseCatalog_SIZE));
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8FromWide(argv[i]));
  return RunConfigTool(args, system);
}
