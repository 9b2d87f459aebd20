#include "app/ConfigTool_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/Version.h"
#include "common/File_posix.h"
#include "common/Utf.h"

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

TPosixConfigToolSystem::TPosixConfigToolSystem()
    : TPosixConfigToolSystem(TPosixCodePage::ForUserLocale()) {}

TPosixConfigToolSystem::TPosixConfigToolSystem(TPosixCodePage codePage)
    : codePage_(std::move(codePage)) {}

std::string TPosixConfigToolSystem::FullFolder(const std::string& folder) {
  // Paths are the bytes the system knows them by, in the locale's encoding.
  std::string path = Ansi(folder);
  if (path.empty() || path.front() != '/') {
    std::string here(4096, '\0');
    if (getcwd(here.data(), here.size()) == nullptr) return {};
    here.resize(std::strlen(here.c_str()));
    path = here + "/" + path;
  }
  if (path.back() != '/') path += '/';
  return path;
}

bool TPosixConfigToolSystem::MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);  // a link to a folder will do
}

bool TPosixConfigToolSystem::ReplaceFile(const std::string& path, std::string_view bytes,
                                         std::string& error) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = path.substr(0, slash + 1);
  std::string temporary = folder + "." + path.substr(slash + 1) + ".XXXXXX";
  const UniqueFd fd(mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd.Valid()) {
    error = std::strerror(errno);
    return false;
  }
  // The file keeps the rights it had; a new one is readable by all, as the launcher of any
  // user of the machine must read it.
  struct stat old {};
  const mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  const bool written = WriteAll(fd.Get(), bytes) && fchmod(fd.Get(), mode) == 0 &&
                       fsync(fd.Get()) == 0 && rename(temporary.c_str(), path.c_str()) == 0;
  if (!written) {
    error = std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  // The rename itself must outlive a power cut.
  const UniqueFd directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Valid()) fsync(directory.Get());
  return true;
}

std::optional<std::string> TPosixConfigToolSystem::FileStart(const std::string& path) {
  const UniqueFd fd = OpenRegularFile(path);
  if (!fd.Valid()) return std::nullopt;
  std::string start(4, '\0');
  const ssize_t n = read(fd.Get(), start.data(), start.size());
  if (n < 0) return std::nullopt;
  start.resize(static_cast<std::size_t>(n));
  return start;
}

std::string TPosixConfigToolSystem::LauncherVersion(const std::string& folder) {
  // The launcher carries its version as text after a marker (see main_posix.cpp).
  const UniqueFd fd = OpenRegularFile(folder + "CompanyMain");
  if (!fd.Valid()) return {};
  constexpr std::string_view kMarker = COMPANYMAIN_VERSION_MARK;
  std::string content;
  char buffer[65536];
  for (ssize_t n; (n = read(fd.Get(), buffer, sizeof buffer)) > 0;) {
    content.append(buffer, static_cast<std::size_t>(n));
    if (content.size() > (64u << 20)) break;  // no launcher is that large
  }
  const std::size_t at = content.find(kMarker);
  if (at == std::string::npos) return {};
  const std::size_t start = at + kMarker.size();
  const std::size_t end = content.find_first_not_of("0123456789.", start);
  return content.substr(start, end - start);
}

void TPosixConfigToolSystem::Out(std::string_view utf8) {
  WriteAll(STDOUT_FILENO, Ansi(utf8));
}

void TPosixConfigToolSystem::Err(std::string_view utf8) {
  WriteAll(STDERR_FILENO, Ansi(utf8));
}

void TPosixConfigToolSystem::OutAddress(std::string_view ansi) {
  WriteAll(STDOUT_FILENO, ansi);
}

void TPosixConfigToolSystem::OutUtf8(std::string_view utf8) {
  WriteAll(STDOUT_FILENO, utf8);
}

std::string TPosixConfigToolSystem::Ansi(std::string_view utf8) const {
  // The terminal shows the locale's encoding.
  if (codePage_.GetKind() == TPosixCodePage::Kind::Utf8) return std::string(utf8);
  return codePage_.FromUtf16(Utf8ToUtf16(utf8));
}
