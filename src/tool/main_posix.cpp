// companymain-config on Linux.
#include <libintl.h>
#include <sys/stat.h>

#include <clocale>
#include <csignal>
#include <string>
#include <vector>

#include "common/ProgramFolder.h"
#include "tool/ToolSystem_posix.h"

namespace {

// Where the message catalogs are: beside the program in the build folder, else where the
// installation puts them relative to the program's folder (COMPANYMAIN_LOCALE_FROM_PROGRAM).
std::string LocaleFolder() {
  const std::string program = ProgramFolder();
  if (program.empty()) return {};
  struct stat st {};
  if (stat((program + "locale").c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return program + "locale";
  return program + COMPANYMAIN_LOCALE_FROM_PROGRAM;
}

}  // namespace

int main(int argc, char** argv) {
  // The user's language for our messages and the system's (strerror).
  std::setlocale(LC_ALL, "");
  if (const std::string folder = LocaleFolder(); !folder.empty())
    bindtextdomain(kConfigToolDomain, folder.c_str());
  bind_textdomain_codeset(kConfigToolDomain, "UTF-8");  // the tool works in UTF-8
  // A file size limit must make a write fail (EFBIG), which leaves the old file as it was,
  // not end the process in the middle of it.
  std::signal(SIGXFSZ, SIG_IGN);

  TPosixConfigToolSystem system;
  // As the system gave them: values are text in the locale, a folder is bytes.
  const std::vector<std::string> args(argv + 1, argv + argc);
  return RunConfigTool(args, system);
}
