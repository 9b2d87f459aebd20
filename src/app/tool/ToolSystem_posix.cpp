#include "tool/ToolSystem_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <libintl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "common/File_linux.h"
#include "common/ProgramFolder.h"
#include "common/Text.h"
#include "common/Utf.h"
#include "inputs/InstallationFiles.h"
#include "launcher/Version.h"
#include "tool/Tool.h"

namespace {

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

// The mode as ls shows it: drwxr-x---.
std::string ModeText(mode_t mode) {
  std::string text = S_ISDIR(mode) ? "d" : S_ISLNK(mode) ? "l" : S_ISREG(mode) ? "-" : "?";
  constexpr const char* kLetters = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit) text += (mode & (0400u >> bit)) != 0 ? kLetters[bit] : '-';
  return text;
}

// The letters mkostemp puts in place of XXXXXX.
constexpr std::string_view kTemporaryLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string Parent(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void BindConfigToolMessages() {
  // Relative to the program's folder, the installation's catalogs are at
  // COMPANYMAIN_LOCALE_FROM_PROGRAM.
  const std::string program = ::ProgramFolder();
  if (!program.empty()) {
    struct stat st {};
    const bool built = stat((program + "locale").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    bindtextdomain(kConfigToolDomain,
                   (program + (built ? "locale" : COMPANYMAIN_LOCALE_FROM_PROGRAM)).c_str());
  }
  bind_textdomain_codeset(kConfigToolDomain, "UTF-8");  // the tool works in UTF-8
}

TPosixConfigToolSystem::TPosixConfigToolSystem()
    : TPosixConfigToolSystem(TPosixCodePage::ForUserLocale()) {}

TPosixConfigToolSystem::TPosixConfigToolSystem(TPosixCodePage codePage)
    : codePage_(std::move(codePage)) {}

std::string TPosixConfigToolSystem::Translate(const char* english) {
  // The catalog is bound with UTF-8 as its output (see main_posix.cpp).
  return dgettext(kConfigToolDomain, english);
}

std::string TPosixConfigToolSystem::ElevationRemedy() {
  return Translate("Run companymain-config as root, for example with sudo.");
}

std::optional<std::string> TPosixConfigToolSystem::ArgumentText(const std::string& argument) {
  // Arguments come in the locale's encoding; bytes that are no text in it would come back as
  // other bytes.
  std::string utf8 = Utf16ToUtf8(codePage_.ToUtf16(argument));
  if (codePage_.FromUtf16(Utf8ToUtf16(utf8)) != argument) return std::nullopt;
  return utf8;
}

std::string TPosixConfigToolSystem::PathText(const std::string& path) {
  if (auto text = ArgumentText(path)) return *text;
  // Not text in the locale: every byte that is not ASCII is shown as \xNN.
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      shown += c;
    } else {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0x0F];
    }
  }
  return shown;
}

std::string TPosixConfigToolSystem::ProgramFolder() {
  return ::ProgramFolder();
}

std::string TPosixConfigToolSystem::FullFolder(const std::string& folder) {
  // The bytes as given: a name need not be text in the locale.
  std::string path = folder;
  if (path.empty() || path.front() != '/') {
    const std::unique_ptr<char, decltype(&std::free)> here(getcwd(nullptr, 0), &std::free);
    if (!here) return {};
    path = std::string(here.get()) + "/" + path;
  }
  if (path.back() != '/') path += '/';
  return path;
}

std::string TPosixConfigToolSystem::RealPath(const std::string& path) {
  // A file not there yet: the folder it would be in, resolved.
  for (const auto& [resolve, rest] : {std::pair{path, std::string()},
                                      std::pair{Parent(path), path.substr(path.rfind('/') + 1)}}) {
    const std::unique_ptr<char, decltype(&std::free)> real(realpath(resolve.c_str(), nullptr),
                                                           &std::free);
    if (real) {
      const std::string resolved(real.get());
      return rest.empty() ? resolved : (resolved == "/" ? "" : resolved) + "/" + rest;
    }
  }
  return path;
}

bool TPosixConfigToolSystem::StartedThroughPkexec() const {
  // pkexec names the user it runs the program for, in the environment it gives it; a user who
  // sets the variable only narrows their own run.
  return std::getenv("PKEXEC_UID") != nullptr;
}

TConfigToolSystem::TFailure TPosixConfigToolSystem::ReadFailure(std::uint32_t error) {
  if (error == 0) return {Translate("not a regular file"), false};
  return Failure(static_cast<int>(error));
}

std::optional<TConfigToolSystem::TClosed> TPosixConfigToolSystem::ClosedToOthers(
    const std::string& path) {
  // Others pass a folder with its x bit for others and read a file with its r bit. The folders
  // on the way as the path names them and those behind its links must all let them through.
  for (const std::string& candidate : {path, RealPath(path)}) {
    if (candidate.empty() || candidate.front() != '/') continue;
    struct stat st {};
    for (std::size_t slash = 0; slash != std::string::npos;
         slash = candidate.find('/', slash + 1)) {
      const std::string folder = slash == 0 ? "/" : candidate.substr(0, slash);
      if (stat(folder.c_str(), &st) != 0) break;
      if (S_ISDIR(st.st_mode) && (st.st_mode & S_IXOTH) == 0)
        return TClosed{RealPath(folder), ModeText(st.st_mode), true};
    }
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IROTH) == 0)
      return TClosed{RealPath(candidate), ModeText(st.st_mode), false};
  }
  return std::nullopt;
}

std::string TPosixConfigToolSystem::LauncherVersion(const std::string& folder) {
  // The launcher carries its version as text after a marker (see main_posix.cpp).
  const TUniqueFd fd = OpenRegularFile(folder + "CompanyMain");
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

namespace {

// flock on the lock file. The file goes before the lock does, so that no lock file is left
// behind; a writer that locked the file just removed tries again with the new one.
class TFlockWriterLock final : public TConfigToolSystem::TWriterLock {
 public:
  TFlockWriterLock(TUniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}
  ~TFlockWriterLock() override { unlink(path_.c_str()); }
  TFlockWriterLock(const TFlockWriterLock&) = delete;
  TFlockWriterLock& operator=(const TFlockWriterLock&) = delete;

 private:
  TUniqueFd fd_;
  std::string path_;
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// One try at a lock file: opened (made when missing) and locked without waiting.
struct TLockTry {
  TUniqueFd fd;          // locked, and still the file at the path
  struct stat st {};     // the file opened, or what stands at the path when it cannot be
  bool there = false;    // something stands at the path
  bool regular = false;  // a regular file
  bool held = false;     // another process holds it
  int error = 0;         // why it could not be opened, made or locked
  // Nobody but the writers can open it: a regular file of this user, or of the folder's owner,
  // closed to everybody else. Whoever can open a file can flock it, and hold it for good.
  bool writers = false;
};

TLockTry TryLock(const std::string& path, const struct stat& folder) {
  TLockTry attempt;
  const auto look = [&] {
    attempt.there = lstat(path.c_str(), &attempt.st) == 0;
    attempt.regular = attempt.there && S_ISREG(attempt.st.st_mode);
  };
  // Only a regular file is ever opened: a FIFO or a device is never waited on.
  look();
  if (attempt.there && !attempt.regular) return attempt;
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  // Made closed to everybody else whatever the umask (which only takes rights away).
  TUniqueFd fd;
  bool made = false;
  // A file made by another writer may be gone again before it is opened.
  for (int tries = 0; tries < 100 && !fd.Valid(); ++tries) {
    fd = TUniqueFd(open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600));
    made = fd.Valid();
    if (!made && errno == EEXIST) fd = TUniqueFd(open(path.c_str(), kFlags));
    if (!fd.Valid() && errno != ENOENT) break;
  }
  if (!fd.Valid() || fstat(fd.Get(), &attempt.st) != 0) {
    attempt.error = errno;
    look();
    return attempt;
  }
  // Root gives a lock it makes in somebody's own folder to that owner, whose writers must be
  // able to take it too.
  if (made && folder.st_uid != geteuid() && fchown(fd.Get(), folder.st_uid, -1) == 0)
    attempt.st.st_uid = folder.st_uid;
  attempt.there = true;
  attempt.regular = S_ISREG(attempt.st.st_mode);
  attempt.writers = attempt.regular && (attempt.st.st_mode & 077) == 0 &&
                    (attempt.st.st_uid == geteuid() || attempt.st.st_uid == folder.st_uid);
  if (!attempt.regular) return attempt;
  if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    attempt.held = errno == EWOULDBLOCK || errno == EINTR;
    if (!attempt.held) attempt.error = errno;
    return attempt;
  }
  // The writer before let go and took its file along: try again with the new one.
  struct stat now {};
  if (stat(path.c_str(), &now) == 0 && SameFile(now, attempt.st)) attempt.fd = std::move(fd);
  return attempt;
}

}  // namespace

std::unique_ptr<TConfigToolSystem::TWriterLock> TPosixConfigToolSystem::LockForWriting(
    const std::string& folder, int waitSeconds, TFailure& failure) {
  const std::string path = Concat({folder, "/", kWriterLockName});
  struct stat owner {};
  if (stat(folder.c_str(), &owner) != 0) {
    failure = Failure(errno);
    return nullptr;
  }
  // Polled rather than waited on with a timer signal: the wait ends on time whatever holds it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
  const auto wait = [&] {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return true;
  };
  // Why the lock itself cannot be had (a folder, a link, a FIFO at its path; a file that cannot
  // be opened or removed), or the folder refuses a new file.
  const auto refused = [&](const TLockTry& at, int error) {
    failure =
        at.there && !at.regular ? TFailure{Translate("not a regular file"), false} : Failure(error);
    failure.lock = at.there;
    return nullptr;
  };

  // Only a writer that holds the lock changes what stands at its path; or one that holds this
  // second lock, made the writers' alone from the start, to put a lock file that is not the
  // writers' alone out of the way. With it held and the same file still at the path, nobody
  // else changes the path. change gets the file at the path; 0 or why not.
  const std::string guardPath = path + ".guard";
  const auto guarded = [&](const struct stat& expected, const auto& change) -> int {
    for (;;) {
      TLockTry guard = TryLock(guardPath, owner);
      if (guard.fd.Valid() && guard.writers) {
        const TFlockWriterLock holding(std::move(guard.fd), guardPath);
        struct stat now {};
        return lstat(path.c_str(), &now) == 0 && SameFile(now, expected) ? change() : 0;
      }
      if (guard.error != 0 || (guard.there && (!guard.regular || !guard.writers))) {
        failure = guard.error != 0
                      ? Failure(guard.error)
                      : TFailure{Fill(Translate("%1 is in the way"), {PathText(guardPath)}), false};
        failure.lock = true;
        return -1;
      }
      if (guard.held && !wait()) {
        failure.held = true;
        return -1;
      }
    }
  };

  // A lock file others can open (an older version made it open to all; or it was put there)
  // or this user cannot (another user's): it could be held for good by anybody who opened it.
  // A writer of this version holds such a file only until it has put one of the writers' own
  // in its place, at once; held longer, it is put out of the way, so that it never blocks.
  constexpr auto kStrayAfter = std::chrono::seconds(1);
  struct stat stray {};
  bool strayKnown = false;
  auto straySince = std::chrono::steady_clock::now();
  for (;;) {
    TLockTry attempt = TryLock(path, owner);
    if (attempt.fd.Valid() && attempt.writers)
      return std::make_unique<TFlockWriterLock>(std::move(attempt.fd), path);
    if (attempt.there && !attempt.regular) return refused(attempt, 0);
    const bool closed = attempt.error == EACCES || attempt.error == EPERM;
    if (attempt.error != 0 && !(attempt.there && closed)) return refused(attempt, attempt.error);

    if (attempt.fd.Valid()) {
      // Held by this writer: a lock file of the writers' alone takes its place, made closed
      // to everybody else under a name that only the guard's holder uses.
      TUniqueFd fresh;
      const int error = guarded(attempt.st, [&] {
        const std::string name = path + ".new";
        unlink(name.c_str());
        TLockTry made = TryLock(name, owner);
        int why = made.error != 0 ? made.error : EPERM;
        if (made.fd.Valid() && made.writers)
          why = rename(name.c_str(), path.c_str()) == 0 ? 0 : errno;
        if (why != 0) {
          unlink(name.c_str());
          return why;
        }
        fresh = std::move(made.fd);
        return 0;
      });
      if (error < 0) return nullptr;
      if (error > 0) return refused(attempt, error);
      if (fresh.Valid()) return std::make_unique<TFlockWriterLock>(std::move(fresh), path);
      continue;  // put out of the way meanwhile
    }
    if (!attempt.held && attempt.error == 0) continue;  // let go of and removed meanwhile
    if (!attempt.writers) {
      const auto now = std::chrono::steady_clock::now();
      if (!strayKnown || !SameFile(stray, attempt.st)) {
        stray = attempt.st;
        strayKnown = true;
        straySince = now;
      } else if (now - straySince >= kStrayAfter) {
        const int error =
            guarded(attempt.st, [&] { return unlink(path.c_str()) == 0 ? 0 : errno; });
        if (error < 0) return nullptr;
        if (error > 0) return refused(attempt, error);
        strayKnown = false;
        continue;
      }
    }
    if (!wait()) {
      failure.held = true;
      return nullptr;
    }
  }
}

bool TPosixConfigToolSystem::MakeFolder(const std::string& path, TFailure& failure) {
  if (mkdir(path.c_str(), 0755) == 0) {
    // The mode mask of the process (umask 077, say) must not close the folder to the users
    // whose launcher reads it.
    if (chmod(path.c_str(), 0755) == 0) return true;
    failure = Failure(errno);
    rmdir(path.c_str());
    return false;
  }
  const int error = errno;
  struct stat st {};
  if (error == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return true;  // a link to a folder will do
  failure = Failure(error == EEXIST ? ENOTDIR : error);
  return false;
}

bool TPosixConfigToolSystem::ReplaceFile(const std::string& path, std::string_view bytes,
                                         TFailure& failure) {
  // Through a link to the file it leads to, in that file's folder: the link stays a link, and
  // what it leads to is what the launcher reads.
  std::string target = path;
  for (int links = 0;; ++links) {
    struct stat st {};
    if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::string to(PATH_MAX, '\0');
    const ssize_t n = readlink(target.c_str(), to.data(), to.size());
    if (links == 40 || n <= 0 || static_cast<std::size_t>(n) >= to.size()) {
      failure = Failure(n < 0 ? errno : ELOOP);
      return false;
    }
    to.resize(static_cast<std::size_t>(n));
    target = to.front() == '/' ? to : Parent(target) + "/" + to;
  }
  const std::size_t slash = target.rfind('/');
  const std::string folder = target.substr(0, slash + 1);
  const std::string name = target.substr(slash + 1);

  // A killed writer's temporary files: with the lock held, no other writer's.
  struct TCloseDir {
    void operator()(DIR* listing) const { closedir(listing); }
  };
  if (const std::unique_ptr<DIR, TCloseDir> listing(opendir(folder.c_str())); listing) {
    const std::string prefix = "." + name + ".";
    while (const dirent* entry = readdir(listing.get())) {
      const std::string_view found = entry->d_name;
      struct stat st {};
      if (found.size() == prefix.size() + 6 && found.starts_with(prefix) &&
          found.find_first_not_of(kTemporaryLetters, prefix.size()) == std::string_view::npos &&
          fstatat(dirfd(listing.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(st.st_mode)) {
        unlinkat(dirfd(listing.get()), entry->d_name, 0);
      }
    }
  }

  std::string temporary = folder + "." + name + ".XXXXXX";
  const TUniqueFd fd(mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd.Valid()) {
    failure = Failure(errno);
    return false;
  }
  // The file keeps its owner, group and mode (root:frontdesk 0640 stays so, or the front desk's
  // launcher could no longer read it); a new one is readable by all, as the launcher of any
  // user of the machine must read it. A writer that cannot give the new file the old one's
  // owner and group writes nothing, unless every user may read it anyway.
  struct stat old {};
  struct stat made {};
  const bool replacing = stat(target.c_str(), &old) == 0;
  const mode_t mode = replacing ? (old.st_mode & 07777) : 0644;
  bool kept = true;
  if (replacing && fstat(fd.Get(), &made) == 0 &&
      (made.st_uid != old.st_uid || made.st_gid != old.st_gid)) {
    kept = fchown(fd.Get(), old.st_uid, old.st_gid) == 0 || (old.st_mode & S_IROTH) != 0;
  }
  const bool written = kept && WriteAll(fd.Get(), bytes) && fchmod(fd.Get(), mode) == 0 &&
                       fsync(fd.Get()) == 0 && rename(temporary.c_str(), target.c_str()) == 0;
  if (!written) {
    failure = Failure(errno);
    if (!kept) {
      failure.reason = Fill(Translate("its owner and group cannot be kept (%1)"), {failure.reason});
    }
    unlink(temporary.c_str());
    return false;
  }
  // The rename itself must outlive a power cut.
  const TUniqueFd directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Valid()) fsync(directory.Get());
  return true;
}

bool TPosixConfigToolSystem::RemoveFile(const std::string& path, TFailure& failure) {
  if (unlink(path.c_str()) == 0 || errno == ENOENT) return true;
  failure = Failure(errno);
  return false;
}

bool TPosixConfigToolSystem::RegistryTexts(const std::string&, const std::vector<std::string>&,
                                           std::map<std::string, std::string>&, TFailure& failure) {
  failure.reason = Translate("there is no registry on this system");
  return false;
}

bool TPosixConfigToolSystem::ReadInput(const std::string& path, std::size_t limit,
                                       std::string& bytes, TFailure& failure) {
  TUniqueFd file;
  if (path != "-") {
    file = TUniqueFd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) {
      failure = Failure(errno);
      return false;
    }
  }
  const int fd = path == "-" ? STDIN_FILENO : file.Get();
  char buffer[4096];
  while (bytes.size() <= limit) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      failure = Failure(errno);
      return false;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  if (bytes.size() > limit + 1) bytes.resize(limit + 1);
  return true;
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

TConfigToolSystem::TFailure TPosixConfigToolSystem::Failure(int error) const {
  // strerror speaks the locale's language in its encoding.
  return {Utf16ToUtf8(codePage_.ToUtf16(std::strerror(error))), error == EACCES || error == EPERM};
}
