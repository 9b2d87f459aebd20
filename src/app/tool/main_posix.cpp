// companymain-config on Linux.
#include <clocale>
#include <csignal>
#include <string>
#include <vector>

#include "tool/ToolSystem_posix.h"

int main(int argc, char** argv) {
  // The user's language for our messages and the system's (strerror).
  std::setlocale(LC_ALL, "");
  BindConfigToolMessages();
  // A file size limit must make a write fail (EFBIG), which leaves the old file as it was,
  // not end the process in the middle of it.
  std::signal(SIGXFSZ, SIG_IGN);

  TPosixConfigToolSystem system;
  // As the system gave them: values are text in the locale, a folder is bytes.
  const std::vector<std::string> args(argv + 1, argv + argc);
  return RunConfigTool(args, system);
}
