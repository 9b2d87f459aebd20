#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/File_linux.h"
#include "inputs/ConfigFolder.h"

namespace {

// read() of up to size bytes, again after a signal; -1 and errno on failure.
ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

TFileRead Unreadable(int error) {
  TFileRead read;
  read.state = TFileRead::State::Unreadable;
  read.error = static_cast<std::uint32_t>(error);
  return read;
}

}  // namespace

bool TProgramConfigFolder::FileExists(const std::string& path) {
  struct stat st {};
  return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

TFileRead TProgramConfigFolder::ReadSection(const std::string& path, std::string_view section,
                                            const std::vector<std::string>& keys,
                                            const TCodePage& ansi, const TCodePage& unicodeText) {
  struct stat st {};
  if (!StatPath(path, st)) {
    // Nothing there, a dangling link, or a file where a folder on the way should be.
    if (errno == ENOENT || errno == ENOTDIR) return {};
    return Unreadable(errno);
  }
  if (S_ISDIR(st.st_mode)) return Unreadable(EISDIR);
  if (!S_ISREG(st.st_mode)) return Unreadable(0);
  // Only regular files: a FIFO or a device put there since must never block.
  const TUniqueFd fd = OpenRegularFile(path);
  if (!fd.Valid()) return Unreadable(errno == 0 ? EIO : errno);

  TSectionReading reading(section, keys, ansi, unicodeText);
  char buffer[65536];
  std::size_t started = 0;
  while (started < 3) {
    const ssize_t n = ReadSome(fd.Get(), buffer + started, 3 - started);
    if (n < 0) return Unreadable(errno);
    if (n == 0) break;
    started += static_cast<std::size_t>(n);
  }
  reading.Start(std::string_view(buffer, started));
  // A file that one read takes whole has no hole worth looking for.
  const bool large = fstat(fd.Get(), &st) != 0 || st.st_size > static_cast<off_t>(sizeof buffer);
  auto offset = static_cast<off_t>(started);
  for (;;) {
    // A hole in a sparse file reads as zeros: count them instead of reading them.
    if (const off_t data = large ? lseek(fd.Get(), offset, SEEK_DATA) : offset;
        data > offset || (data < 0 && errno == ENXIO)) {
      const off_t end = data > offset ? data : lseek(fd.Get(), 0, SEEK_END);
      if (end > offset) {
        if (const auto more = reading.FeedZeros(static_cast<std::uint64_t>(end - offset))) {
          if (!*more) break;
          offset = end;
        }
      }
      if (lseek(fd.Get(), offset, SEEK_SET) != offset) return Unreadable(errno);
    }
    const ssize_t n = ReadSome(fd.Get(), buffer, sizeof buffer);
    if (n < 0) return Unreadable(errno);
    if (n == 0) break;
    offset += n;
    if (!reading.Feed(std::string_view(buffer, static_cast<std::size_t>(n)))) break;
  }
  return reading.Finish();
}

TFileBytes TProgramConfigFolder::ReadWhole(const std::string& path, std::size_t limit) {
  TFileBytes file;
  struct stat st {};
  if (!StatPath(path, st)) {
    if (errno == ENOENT || errno == ENOTDIR) return file;
    file.state = TFileRead::State::Unreadable;
    file.error = static_cast<std::uint32_t>(errno);
    return file;
  }
  const auto unreadable = [&file](int error) {
    file.state = TFileRead::State::Unreadable;
    file.error = static_cast<std::uint32_t>(error);
    file.bytes.clear();
    return file;
  };
  if (S_ISDIR(st.st_mode)) return unreadable(EISDIR);
  if (!S_ISREG(st.st_mode)) return unreadable(0);
  const TUniqueFd fd = OpenRegularFile(path);
  if (!fd.Valid()) return unreadable(errno == 0 ? EIO : errno);
  if (fstat(fd.Get(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) > limit)
    return unreadable(EFBIG);
  char buffer[65536];
  for (;;) {
    const ssize_t n = ReadSome(fd.Get(), buffer, sizeof buffer);
    if (n < 0) return unreadable(errno);
    if (n == 0) break;
    file.bytes.append(buffer, static_cast<std::size_t>(n));
    if (file.bytes.size() > limit) return unreadable(EFBIG);  // grown while read
  }
  file.state = TFileRead::State::Read;
  return file;
}
