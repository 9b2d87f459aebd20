#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/File_posix.h"
#include "common/IniText.h"
#include "common/PublicFunction.h"

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

char TSysOper::PathSeparator() noexcept {
  return '/';
}

bool TFileOper::FileExists(const std::string& fileName) {
  struct stat st {};
  return StatPath(fileName, st) && !S_ISDIR(st.st_mode);
}

std::optional<TIniValues> TFileOper::ReadIniValues(const std::string& fileName,
                                                   std::string_view section,
                                                   const std::vector<std::string>& keys,
                                                   const TCodePage& codePage) {
  // Only regular files: a FIFO or a device given as the INI file must never block.
  const UniqueFd fd = OpenRegularFile(fileName);
  if (!fd.Valid()) return std::nullopt;
  TIniTextDecoder decoder(codePage);
  TIniScanner scanner(section, keys, codePage);
  std::string text;
  char buffer[65536];
  struct stat st {};
  // A file that one read takes whole has no hole worth looking for.
  const bool large = fstat(fd.Get(), &st) != 0 || st.st_size > static_cast<off_t>(sizeof buffer);
  off_t offset = 0;
  for (;;) {
    // A hole in a sparse file reads as zeros: count them instead of reading them.
    if (const off_t data = large ? lseek(fd.Get(), offset, SEEK_DATA) : offset;
        data > offset || (data < 0 && errno == ENXIO)) {
      const off_t end = data > offset ? data : lseek(fd.Get(), 0, SEEK_END);
      const auto nuls = decoder.NulsOfZeroBytes(static_cast<std::uint64_t>(end - offset));
      if (end > offset && nuls) {
        if (!scanner.FeedNuls(*nuls)) break;
        offset = end;
      }
      if (lseek(fd.Get(), offset, SEEK_SET) != offset) return std::nullopt;
    }
    const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    text.clear();
    if (n == 0) {
      decoder.Finish(text);
      scanner.Feed(text);
      break;
    }
    offset += n;
    decoder.Feed(std::string_view(buffer, static_cast<std::size_t>(n)), text);
    if (!scanner.Feed(text)) break;  // the rest of the file cannot change the values
  }
  return scanner.Finish();
}
