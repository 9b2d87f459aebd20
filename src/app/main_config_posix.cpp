// companymain-config on Linux.
#include <string>
#include <vector>

#include "app/ConfigTool_posix.h"
#include "common/Utf.h"

int main(int argc, char** argv) {
  TPosixConfigToolSystem system;
  // Arguments come in the locale's encoding; the tool works in UTF-8.
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.push_back(Utf16ToUtf8(system.AnsiCodePage().ToUtf16(argv[i])));
  return RunConfigTool(args, system);
}
