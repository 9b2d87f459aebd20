#include <unistd.h>

#include "common/ProgramFolder.h"

std::string ProgramFolder() noexcept {
  try {
    // Only Linux names the running program's file here.
    std::string exe(256, '\0');
    for (;;) {
      const ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size());
      if (n < 0) return {};
      if (static_cast<std::size_t>(n) < exe.size()) {
        exe.resize(static_cast<std::size_t>(n));
        break;
      }
      exe.resize(exe.size() * 2);  // the name may have been cut; try a larger buffer
    }
    const std::size_t slash = exe.rfind('/');
    if (exe.empty() || exe.front() != '/' || slash == std::string::npos) return {};
    return exe.substr(0, slash + 1);
  } catch (...) {
    return {};
  }
}

char PathSeparator() noexcept {
  return '/';
}
