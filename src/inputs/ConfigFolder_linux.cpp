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

// The file at the path opened for reading; when it cannot be, a reading that says why (Missing
// or Unreadable).
struct TOpened {
  TUniqueFd fd;
  TFileRead failed;
};
TOpened OpenForReading(const std::string& path) {
  struct stat st {};
  if (!StatPath(path, st)) {
    // Nothing there, a dangling link, or a file where a folder on the way should be.
    if (errno == ENOENT || errno == ENOTDIR) return {};
    return {TUniqueFd(), Unreadable(errno)};
  }
  if (S_ISDIR(st.st_mode)) return {TUniqueFd(), Unreadable(EISDIR)};
  if (!S_ISREG(st.st_mode)) return {TUniqueFd(), Unreadable(0)};
  // Only regular files: a FIFO or a device put there since must never block.
  TUniqueFd fd = OpenRegularFile(path);
  if (!fd.Valid()) return {TUniqueFd(), Unreadable(errno == 0 ? EIO : errno)};
  return {std::move(fd), {}};
}

}  // namespace

bool TProgramConfigFolder::FileExists(const std::string& path) {
  struct stat st {};
  return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

TFileRead TProgramConfigFolder::ReadSection(const std::string& path, std::string_view section,
                                            const std::vector<std::string>& keys,
                                            const TCodePage& ansi, const TCodePage& unicodeText) {
  const TOpened opened = OpenForReading(path);
  if (!opened.fd.Valid()) return opened.failed;
  const TUniqueFd& fd = opened.fd;
  struct stat st {};

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
  const TOpened opened = OpenForReading(path);
  if (!opened.fd.Valid()) return {opened.failed.state, {}, opened.failed.error};
  const auto unreadable = [](int error) {
    return TFileBytes{TFileRead::State::Unreadable, {}, static_cast<std::uint32_t>(error)};
  };
  struct stat st {};
  const bool sized = fstat(opened.fd.Get(), &st) == 0 && st.st_size > 0;
  if (sized && static_cast<std::uint64_t>(st.st_size) > limit) return unreadable(EFBIG);
  TFileBytes file{TFileRead::State::Read, {}, 0};
  // The file's size at once: grown as read, the string would hold up to half as much again.
  if (sized) file.bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ReadSome(opened.fd.Get(), buffer, sizeof buffer);
    if (n < 0) return unreadable(errno);
    if (n == 0) break;
    file.bytes.append(buffer, static_cast<std::size_t>(n));
    if (file.bytes.size() > limit) return unreadable(EFBIG);  // grown while read
  }
  return file;
}
