#include "common/File_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int kLookupOnly = O_PATH | O_DIRECTORY | O_CLOEXEC;

}  // namespace

// As a whole when the system takes it, else one component at a time, each looked up in the
// one before, as the kernel itself would.
TUniqueFd OpenFolder(const std::string& folder) {
  TUniqueFd whole(open(folder.c_str(), kLookupOnly));
  if (whole.Valid() || errno != ENAMETOOLONG) return whole;
  TUniqueFd current(open(folder.front() == '/' ? "/" : ".", kLookupOnly));
  std::size_t at = 0;
  while (current.Valid() && at < folder.size()) {
    std::size_t end = folder.find('/', at);
    if (end == std::string::npos) end = folder.size();
    if (end > at) {
      const std::string part = folder.substr(at, end - at);
      current = TUniqueFd(openat(current.Get(), part.c_str(), kLookupOnly));
    }
    at = end + 1;
  }
  return current;
}

namespace {

// Runs call(folder descriptor, last component) for a path too long to name in one call.
template <class Call>
auto InFolderOf(const std::string& path, Call call) -> decltype(call(0, "")) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return call(AT_FDCWD, path.c_str());
  const TUniqueFd folder = OpenFolder(path.substr(0, slash + 1));
  if (!folder.Valid()) return decltype(call(0, ""))(-1);
  return call(folder.Get(), path.c_str() + slash + 1);
}

}  // namespace

TUniqueFd OpenRegularFile(const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  TUniqueFd fd(open(path.c_str(), kFlags));
  if (!fd.Valid() && errno == ENAMETOOLONG) {
    fd = TUniqueFd(InFolderOf(
        path, [](int folder, const char* name) { return openat(folder, name, kFlags); }));
  }
  struct stat st {};
  if (!fd.Valid() || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return fd;
}

bool StatPath(const std::string& path, struct stat& st) {
  if (stat(path.c_str(), &st) == 0) return true;
  if (errno != ENAMETOOLONG) return false;
  return InFolderOf(path, [&st](int folder, const char* name) {
           return fstatat(folder, name, &st, 0);
         }) == 0;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}
