#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "address/CodePage_posix.h"
#include "common/IniText.h"
#include "common/PublicFunction.h"
#include "common/UniqueFd_posix.h"

namespace {

// The whole content of a regular file; false for anything else. A FIFO or a device given as
// the INI file must never block or be read from.
bool ReadRegularFile(const std::string& path, std::string& text) {
  const UniqueFd fd = OpenRegularFile(path);
  if (!fd.Valid()) return false;
  text.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

std::string TSysOper::GetAppPath() noexcept {
  try {
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

std::string TFileOper::ReadIniString(const std::string& fileName, std::string_view section,
                                     std::string_view key) {
  std::string text;
  if (!ReadRegularFile(fileName, text)) return {};
  if (IsUtf16LeText(text)) {
    std::u16string units;
    units.reserve(text.size() / 2);
    for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
      units += static_cast<char16_t>(static_cast<unsigned char>(text[i]) |
                                     (static_cast<unsigned char>(text[i + 1]) << 8));
    }
    text = TPosixCodePage::ForUserLocale().FromUtf16(units);
  }
  return IniReadString(text, section, key);
}
