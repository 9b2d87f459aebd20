// A change of the Config folder's files on a POSIX system. The way to each file is followed one
// name at a time, the kernel never following a link by itself; every later step works on the
// folders opened then (openat, fstat, fchown, fchmod, renameat), so that a link or a folder
// swapped between two steps changes nothing. The writer lock lies beside the file written,
// where every way to that file meets it.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/File_linux.h"
#include "common/Text.h"
#include "inputs/InstallationFiles.h"
#include "tool/Tool.h"
#include "tool/ToolSystem_posix.h"

namespace {

using TFailure = TConfigToolSystem::TFailure;

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

TUniqueFd Duplicate(const TUniqueFd& fd) {
  return TUniqueFd(fcntl(fd.Get(), F_DUPFD_CLOEXEC, 0));
}


// Who may own a folder or a link on the way to a file the writer changes: root, the writer,
// and the user who ran the writer as root (sudo and pkexec say who). Anybody else could point
// the way at files they may not write themselves, and have the writer write them.
class TTrusted {
 public:
  TTrusted() : self_(geteuid()) {
    if (self_ != 0) return;
    for (const char* variable : {"PKEXEC_UID", "SUDO_UID"}) {
      const char* value = std::getenv(variable);
      if (value == nullptr || *value < '0' || *value > '9') continue;
      char* end = nullptr;
      const unsigned long uid = std::strtoul(value, &end, 10);
      if (*end == '\0' && uid < static_cast<unsigned long>(static_cast<uid_t>(-1))) {
        caller_ = static_cast<uid_t>(uid);
        return;
      }
    }
  }
  bool operator()(uid_t uid) const { return uid == 0 || uid == self_ || uid == caller_; }

 private:
  uid_t self_;
  std::optional<uid_t> caller_;
};

// A folder reached, opened for lookups, and its path behind every link.
struct TPlace {
  TUniqueFd fd;
  std::string path;
};

// Where a walk along a path ended: the folder that holds its last name, and that name.
struct TReached {
  TPlace folder;
  std::string name;
  TUniqueFd last;  // the last name's own file or folder (never a link); invalid when not there
  struct stat st {};
  int error = 0;        // the walk stopped short: why (ENOENT: a folder on the way is missing)
  std::string refused;  // a folder or link on the way that belongs to somebody untrusted
  uid_t owner = 0;      // its owner
};

// Follows the path's names from the place (from "/" for an absolute path). Each name is opened
// without following a link; a link, when its owner is trusted, is followed here, at most 40 of
// them. Every folder passed and every link followed must belong to a trusted user; and a link
// of another user than the writer (sudo's caller, say) or root only to what that user owns:
// the file, or the folder a new one is made in.
TReached Walk(TPlace from, const std::string& path, const TTrusted& trusted) {
  TReached reached;
  std::optional<std::pair<std::string, uid_t>> ledBy;  // the first such link, and its owner
  std::vector<std::string> names;                      // still to go, the next one last
  const auto push = [&](std::string_view text) {
    std::vector<std::string> parts;
    for (std::size_t at = 0; at <= text.size();) {
      const std::size_t slash = std::min(text.find('/', at), text.size());
      const std::string_view part = text.substr(at, slash - at);
      if (!part.empty() && part != ".") parts.emplace_back(part);
      at = slash + 1;
    }
    names.insert(names.end(), parts.rbegin(), parts.rend());
  };
  TPlace here = std::move(from);
  const auto fromRoot = [&] {
    here.fd = TUniqueFd(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    here.path.clear();
  };
  const auto stop = [&](int error) {
    reached.error = error;
    reached.folder = std::move(here);
    return std::move(reached);
  };
  if (path.starts_with('/')) fromRoot();
  push(path);
  for (int links = 0; !names.empty();) {
    if (!here.fd.Valid()) return stop(errno);
    const std::string name = std::move(names.back());
    names.pop_back();
    const bool last = names.empty();
    TUniqueFd fd(openat(here.fd.Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    const std::string at =
        name == ".." ? here.path.substr(0, here.path.rfind('/')) : here.path + "/" + name;
    struct stat st {};
    // Where a link of another user led: only to what is that user's own.
    const auto ledAstray = [&](const struct stat& reachedSt) {
      if (!ledBy || (reachedSt.st_uid == ledBy->second && ledBy->second != 0)) return false;
      reached.refused = ledBy->first;
      struct stat link {};
      reached.owner = fstatat(AT_FDCWD, ledBy->first.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0
                          ? link.st_uid
                          : ledBy->second;
      return true;
    };
    if (!fd.Valid() || fstat(fd.Get(), &st) != 0) {
      if (errno != ENOENT || !last) return stop(errno);
      struct stat folder {};
      if (fstat(here.fd.Get(), &folder) != 0) return stop(errno);
      if (ledAstray(folder)) return stop(EPERM);
      reached.name = name;  // the file, not there yet
      reached.folder = std::move(here);
      return reached;
    }
    if ((S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)) && !trusted(st.st_uid)) {
      reached.refused = at.empty() ? "/" : at;
      reached.owner = st.st_uid;
      return stop(EPERM);
    }
    if (S_ISLNK(st.st_mode)) {
      if (st.st_uid != 0 && st.st_uid != geteuid() && !ledBy) ledBy = {at, st.st_uid};
      if (ledBy && st.st_uid != 0 && st.st_uid != ledBy->second) ledBy->second = 0;
      std::string to(PATH_MAX, '\0');
      const ssize_t n = readlinkat(fd.Get(), "", to.data(), to.size());
      if (++links > 40 || n <= 0 || static_cast<std::size_t>(n) >= to.size())
        return stop(n < 0 ? errno : ELOOP);
      to.resize(static_cast<std::size_t>(n));
      if (to.front() == '/') fromRoot();
      push(to);
      continue;
    }
    if (last) {
      if (ledAstray(st)) return stop(EPERM);
      reached.name = name;
      reached.last = std::move(fd);
      reached.st = st;
      reached.folder = std::move(here);
      return reached;
    }
    if (!S_ISDIR(st.st_mode)) return stop(ENOTDIR);
    here.fd = std::move(fd);
    here.path = at;
  }
  return stop(EISDIR);  // the path named no file
}

std::string UserName(uid_t uid) {
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::string buffer(16384, '\0');
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return found->pw_name;
  return std::to_string(uid);
}

// The letters of a temporary file's random part.
constexpr std::string_view kTemporaryLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// A temporary file is ".<name>" with this and six of those letters: a name of the tool's own,
// so that a killed run's leftovers are told from other programs' files (rsync's, an editor's).
constexpr std::string_view kTemporaryMark = ".companymain-config-";

// ---- The writer lock, in a folder opened

// flock on the lock file. The file goes before the lock does, so that no lock file is left
// behind; a writer that locked the file just removed tries again with the new one.
class TFlockWriterLock {
 public:
  TFlockWriterLock(TUniqueFd fd, TUniqueFd folder, std::string name)
      : fd_(std::move(fd)), folder_(std::move(folder)), name_(std::move(name)) {}
  ~TFlockWriterLock() { unlinkat(folder_.Get(), name_.c_str(), 0); }
  TFlockWriterLock(const TFlockWriterLock&) = delete;
  TFlockWriterLock& operator=(const TFlockWriterLock&) = delete;

 private:
  TUniqueFd fd_;
  TUniqueFd folder_;
  std::string name_;
};

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

TLockTry TryLock(int folder, const std::string& name, const struct stat& owner) {
  TLockTry attempt;
  const auto look = [&] {
    attempt.there = fstatat(folder, name.c_str(), &attempt.st, AT_SYMLINK_NOFOLLOW) == 0;
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
    fd = TUniqueFd(openat(folder, name.c_str(), kFlags | O_CREAT | O_EXCL, 0600));
    made = fd.Valid();
    if (!made && errno == EEXIST) fd = TUniqueFd(openat(folder, name.c_str(), kFlags));
    if (!fd.Valid() && errno != ENOENT) break;
  }
  if (!fd.Valid() || fstat(fd.Get(), &attempt.st) != 0) {
    attempt.error = errno;
    look();
    return attempt;
  }
  // Root gives a lock it makes in somebody's own folder to that owner, whose writers must be
  // able to take it too.
  if (made && owner.st_uid != geteuid() && fchown(fd.Get(), owner.st_uid, -1) == 0)
    attempt.st.st_uid = owner.st_uid;
  attempt.there = true;
  attempt.regular = S_ISREG(attempt.st.st_mode);
  attempt.writers = attempt.regular && (attempt.st.st_mode & 077) == 0 &&
                    (attempt.st.st_uid == geteuid() || attempt.st.st_uid == owner.st_uid);
  if (!attempt.regular) return attempt;
  if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    attempt.held = errno == EWOULDBLOCK || errno == EINTR;
    if (!attempt.held) attempt.error = errno;
    return attempt;
  }
  // The writer before let go and took its file along: try again with the new one.
  struct stat now {};
  if (fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(now, attempt.st))
    attempt.fd = std::move(fd);
  return attempt;
}

}  // namespace

// The change itself: the Config folder and the folder of each file, opened once.
class TPosixConfigToolSystem::TPosixChange final : public TConfigToolSystem::TChange {
 public:
  TPosixChange(TPosixConfigToolSystem& system, const std::vector<std::string>& names)
      : system_(system) {
    for (const std::string& name : names) files_.push_back({name, {}, {}, 0, {}, false});
  }

  // Follows the way to the Config folder and through it to each file.
  bool Begin(const std::string& config, TFailure& failure) {
    configShown_ = config;
    TReached way = Walk({}, config, trusted_);
    if (!way.refused.empty()) return Refuse(way, failure);
    if (way.error != 0) {
      configError_ = way.error;
      return true;
    }
    if (!way.last.Valid()) {  // not there yet: made by Lock
      parent_ = std::move(way.folder);
      configName_ = way.name;
      return true;
    }
    if (!S_ISDIR(way.st.st_mode)) {
      configError_ = ENOTDIR;
      return true;
    }
    config_ = {std::move(way.last), way.folder.path + "/" + way.name};
    return FollowFiles(failure);
  }

  TFileBytes Read(std::string_view name) override {
    TFile& file = Find(name);
    const auto unreadable = [](int error) {
      return TFileBytes{TFileRead::State::Unreadable, {}, static_cast<std::uint32_t>(error)};
    };
    file.there = false;
    // No folder yet, or a file where it should be: no file either.
    if (!config_.fd.Valid()) {
      return configError_ == 0 || configError_ == ENOENT || configError_ == ENOTDIR
                 ? TFileBytes{}
                 : unreadable(configError_);
    }
    if (file.error != 0) return file.error == ENOENT ? TFileBytes{} : unreadable(file.error);
    const TUniqueFd fd(openat(file.folder.fd.Get(), file.real.c_str(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.Valid() || fstat(fd.Get(), &st) != 0) {
      if (errno == ENOENT) return {};
      return unreadable(errno);
    }
    // Only a regular file is read: a FIFO or a device put there since must never block.
    if (S_ISDIR(st.st_mode)) return unreadable(EISDIR);
    if (!S_ISREG(st.st_mode)) return unreadable(0);
    if (static_cast<std::uint64_t>(st.st_size) > kChangeableFileMax) return unreadable(EFBIG);
    TFileBytes read{TFileRead::State::Read, {}, 0};
    read.bytes.reserve(static_cast<std::size_t>(st.st_size));  // grown, it would hold twice
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return unreadable(errno);
      if (n == 0) break;
      read.bytes.append(buffer, static_cast<std::size_t>(n));
      if (read.bytes.size() > kChangeableFileMax) return unreadable(EFBIG);  // grown while read
    }
    file.st = st;
    file.there = true;
    return read;
  }

  bool Lock(int waitSeconds, TFailure& failure) override {
    if (!config_.fd.Valid() && !MakeConfig(failure)) {
      failure.folder = true;
      return false;
    }
    // One lock in each folder written, taken in one order by every writer.
    std::vector<const TPlace*> folders;
    std::vector<struct stat> seen;
    for (const TFile& file : files_) {
      struct stat st {};
      if (file.error != 0 || fstat(file.folder.fd.Get(), &st) != 0) continue;
      if (std::none_of(seen.begin(), seen.end(), [&](const auto& s) { return SameFile(s, st); })) {
        seen.push_back(st);
        folders.push_back(&file.folder);
      }
    }
    std::vector<std::size_t> order(folders.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return std::tie(seen[a].st_dev, seen[a].st_ino) < std::tie(seen[b].st_dev, seen[b].st_ino);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    for (const std::size_t i : order) {
      auto lock = LockFolder(*folders[i], deadline, failure);
      if (!lock) {
        locks_.clear();
        return false;
      }
      locks_.push_back(std::move(lock));
    }
    return true;
  }

  bool Replace(std::string_view name, std::string_view bytes, TFailure& failure) override {
    TFile& file = Find(name);
    if (file.error != 0) {
      failure = system_.Failure(file.error);
      return false;
    }
    const int folder = file.folder.fd.Get();
    RemoveLeftovers(file);
    // What is replaced is the file that was read: another program's change meanwhile is not
    // written over.
    struct stat now {};
    const bool there = fstatat(folder, file.real.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0;
    if (there != file.there || (there && !SameFile(now, file.st))) {
      failure = {system_.Translate("it changed while it was being written"), false};
      return false;
    }
    std::string temporary;
    TUniqueFd fd;
    for (int tries = 0; tries < 100 && !fd.Valid(); ++tries) {
      unsigned char random[6] = {};
      if (getrandom(random, sizeof random, 0) != sizeof random) break;
      temporary = Concat({".", file.real, kTemporaryMark});
      for (const unsigned char r : random)
        temporary += kTemporaryLetters[r % kTemporaryLetters.size()];
      fd = TUniqueFd(openat(folder, temporary.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (!fd.Valid() && errno != EEXIST) break;
    }
    if (!fd.Valid()) {
      failure = system_.Failure(errno);
      return false;
    }
    // The file keeps its owner, group and mode (root:frontdesk 0640 stays so, or the front
    // desk's launcher could no longer read it); a new one is readable by all, as the launcher of
    // any user of the machine must read it. A writer that cannot give the new file the old
    // one's owner and group writes nothing.
    struct stat made {};
    bool kept = true;
    if (file.there && fstat(fd.Get(), &made) == 0 &&
        (made.st_uid != file.st.st_uid || made.st_gid != file.st.st_gid)) {
      kept = fchown(fd.Get(), file.st.st_uid, file.st.st_gid) == 0;
    }
    const mode_t mode = file.there ? (file.st.st_mode & 07777) : 0644;
    const bool written = kept && WriteAll(fd.Get(), bytes) && fchmod(fd.Get(), mode) == 0 &&
                         fsync(fd.Get()) == 0 && fstat(fd.Get(), &made) == 0 &&
                         renameat(folder, temporary.c_str(), folder, file.real.c_str()) == 0;
    if (!written) {
      failure = system_.Failure(errno);
      if (!kept) {
        failure.reason =
            Fill(system_.Translate("its owner and group cannot be kept (%1)"), {failure.reason});
      }
      unlinkat(folder, temporary.c_str(), 0);
      return false;
    }
    file.st = made;
    file.there = true;
    // The rename itself must outlive a power cut.
    const TUniqueFd listing(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (listing.Valid()) fsync(listing.Get());
    return true;
  }

  bool Remove(std::string_view name, TFailure& failure) override {
    TFile& file = Find(name);
    if (file.error == 0 &&
        (unlinkat(file.folder.fd.Get(), file.real.c_str(), 0) == 0 || errno == ENOENT)) {
      file.there = false;
      return true;
    }
    failure = system_.Failure(file.error != 0 ? file.error : errno);
    return false;
  }

  std::string Shown(std::string_view name) override {
    for (const TFile& file : files_) {
      if (file.name == name && file.folder.fd.Valid() && file.error == 0)
        return system_.PathText(file.folder.path + "/" + file.real);
    }
    // Not followed yet (no folder), or the lock beside the first file.
    const std::string folder = !files_.empty() && files_.front().folder.fd.Valid()
                                   ? files_.front().folder.path
                               : config_.fd.Valid() ? config_.path
                                                    : configShown_;
    return system_.PathText(folder + "/" + std::string(name));
  }

 private:
  struct TFile {
    std::string name;   // as the tool names it, in the Config folder
    TPlace folder;      // the folder it is written in, behind every link
    std::string real;   // its name there
    int error = 0;      // the way to it could not be followed: why
    struct stat st {};  // as last read or written
    bool there = false;
  };

  TFile& Find(std::string_view name) {
    for (TFile& file : files_)
      if (file.name == name) return file;
    files_.push_back({std::string(name), {}, {}, EINVAL, {}, false});
    return files_.back();
  }

  bool Refuse(const TReached& way, TFailure& failure) {
    const std::string owner = UserName(way.owner);
    const std::string path = system_.PathText(way.refused);
    failure.reason = Fill(system_.Translate("%1 belongs to %2, who could lead the writer from "
                                            "there into files that are not %2's to change"),
                          {path, owner});
    failure.remedy = Fill(system_.Translate("Run %1 as %2 (for example with sudo -u %2), or make "
                                            "root the owner of %3."),
                          {system_.ProgramName(), owner, path});
    return false;
  }

  bool FollowFiles(TFailure& failure) {
    for (TFile& file : files_) {
      TReached way = Walk({Duplicate(config_.fd), config_.path}, file.name, trusted_);
      if (!way.refused.empty()) return Refuse(way, failure);
      file.error = way.error;
      file.folder = std::move(way.folder);
      file.real = way.name;
    }
    return true;
  }

  bool MakeConfig(TFailure& failure) {
    if (configError_ != 0) {
      failure = system_.Failure(configError_);
      return false;
    }
    const int parent = parent_.fd.Get();
    const bool made = mkdirat(parent, configName_.c_str(), 0755) == 0;
    if (!made && errno != EEXIST) {
      failure = system_.Failure(errno);
      return false;
    }
    TUniqueFd fd(
        openat(parent, configName_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd.Valid() || fstat(fd.Get(), &st) != 0) {
      failure = system_.Failure(errno == ELOOP ? ENOTDIR : errno);
      return false;
    }
    // Made meanwhile by somebody else: theirs, by the rule of the way.
    if (!made && !trusted_(st.st_uid)) {
      TReached way;
      way.refused = parent_.path + "/" + configName_;
      way.owner = st.st_uid;
      return Refuse(way, failure);
    }
    // The mode mask of the process (umask 077, say) must not close the folder to the users
    // whose launcher reads it.
    if (made && fchmod(fd.Get(), 0755) != 0) {
      failure = system_.Failure(errno);
      unlinkat(parent, configName_.c_str(), AT_REMOVEDIR);
      return false;
    }
    config_ = {std::move(fd), parent_.path + "/" + configName_};
    return FollowFiles(failure);
  }

  // A killed run's temporary files beside the file: with the lock held, no other writer's.
  // Only the tool's own names, regular files of this writer or of the file's owner.
  void RemoveLeftovers(const TFile& file) {
    const TUniqueFd listing(openat(file.folder.fd.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listing.Valid()) return;
    struct TCloseDir {
      void operator()(DIR* listing) const { closedir(listing); }
    };
    const int fd = fcntl(listing.Get(), F_DUPFD_CLOEXEC, 0);
    const std::unique_ptr<DIR, TCloseDir> entries(fd >= 0 ? fdopendir(fd) : nullptr);
    if (!entries) {
      if (fd >= 0) close(fd);
      return;
    }
    const std::string prefix = Concat({".", file.real, kTemporaryMark});
    while (const dirent* entry = readdir(entries.get())) {
      const std::string_view found = entry->d_name;
      struct stat st {};
      if (found.size() == prefix.size() + 6 && found.starts_with(prefix) &&
          found.find_first_not_of(kTemporaryLetters, prefix.size()) == std::string_view::npos &&
          fstatat(listing.Get(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(st.st_mode) &&
          (st.st_uid == geteuid() || (file.there && st.st_uid == file.st.st_uid))) {
        unlinkat(listing.Get(), entry->d_name, 0);
      }
    }
  }

  std::unique_ptr<TFlockWriterLock> LockFolder(const TPlace& place,
                                               std::chrono::steady_clock::time_point deadline,
                                               TFailure& failure);

  TPosixConfigToolSystem& system_;
  TTrusted trusted_;
  std::string configShown_;  // the Config folder as the tool names it
  TPlace config_;            // the Config folder, once there
  TPlace parent_;            // the folder to make it in, when it is missing
  std::string configName_;
  int configError_ = 0;  // the way to the Config folder could not be followed: why
  std::vector<TFile> files_;
  std::vector<std::unique_ptr<TFlockWriterLock>> locks_;
};

std::unique_ptr<TFlockWriterLock> TPosixConfigToolSystem::TPosixChange::LockFolder(
    const TPlace& place, std::chrono::steady_clock::time_point deadline, TFailure& failure) {
  const int folder = place.fd.Get();
  const std::string name(kWriterLockName);
  const auto shown = [&](const std::string& file) {
    return system_.PathText(place.path + "/" + file);
  };
  struct stat owner {};
  if (fstat(folder, &owner) != 0) {
    failure = system_.Failure(errno);
    return nullptr;
  }
  const auto locked = [&](TUniqueFd fd) {
    return std::make_unique<TFlockWriterLock>(std::move(fd), Duplicate(place.fd), name);
  };
  // Polled rather than waited on with a timer signal: the wait ends on time whatever holds it.
  const auto wait = [&] {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return true;
  };
  // Why the lock itself cannot be had (a folder, a link, a FIFO at its path; a file that cannot
  // be opened or removed), or the folder refuses a new file.
  const auto refused = [&](const TLockTry& at, int error) {
    failure = at.there && !at.regular ? TFailure{system_.Translate("not a regular file"), false}
                                      : system_.Failure(error);
    failure.lock = at.there;
    return nullptr;
  };

  // Only a writer that holds the lock changes what stands at its path; or one that holds this
  // second lock, made the writers' alone from the start, to put a lock file that is not the
  // writers' alone out of the way. With it held and the same file still at the path, nobody
  // else changes the path. change gets the file at the path; 0 or why not.
  const std::string guardName = name + ".guard";
  const auto guarded = [&](const struct stat& expected, const auto& change) -> int {
    for (;;) {
      TLockTry guard = TryLock(folder, guardName, owner);
      if (guard.fd.Valid() && guard.writers) {
        const TFlockWriterLock holding(std::move(guard.fd), Duplicate(place.fd), guardName);
        struct stat now {};
        return fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                       SameFile(now, expected)
                   ? change()
                   : 0;
      }
      if (guard.error != 0 || (guard.there && (!guard.regular || !guard.writers))) {
        failure =
            guard.error != 0
                ? system_.Failure(guard.error)
                : TFailure{Fill(system_.Translate("%1 is in the way"), {shown(guardName)}), false};
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
    TLockTry attempt = TryLock(folder, name, owner);
    if (attempt.fd.Valid() && attempt.writers) return locked(std::move(attempt.fd));
    if (attempt.there && !attempt.regular) return refused(attempt, 0);
    const bool closed = attempt.error == EACCES || attempt.error == EPERM;
    if (attempt.error != 0 && !(attempt.there && closed)) return refused(attempt, attempt.error);

    if (attempt.fd.Valid()) {
      // Held by this writer: a lock file of the writers' alone takes its place, made closed
      // to everybody else under a name that only the guard's holder uses.
      TUniqueFd fresh;
      const int error = guarded(attempt.st, [&] {
        const std::string newName = name + ".new";
        unlinkat(folder, newName.c_str(), 0);
        TLockTry made = TryLock(folder, newName, owner);
        int why = made.error != 0 ? made.error : EPERM;
        if (made.fd.Valid() && made.writers)
          why = renameat(folder, newName.c_str(), folder, name.c_str()) == 0 ? 0 : errno;
        if (why != 0) {
          unlinkat(folder, newName.c_str(), 0);
          return why;
        }
        fresh = std::move(made.fd);
        return 0;
      });
      if (error < 0) return nullptr;
      if (error > 0) return refused(attempt, error);
      if (fresh.Valid()) return locked(std::move(fresh));
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
            guarded(attempt.st, [&] { return unlinkat(folder, name.c_str(), 0) == 0 ? 0 : errno; });
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

std::unique_ptr<TConfigToolSystem::TChange> TPosixConfigToolSystem::BeginChange(
    const std::string& config, const std::vector<std::string>& names, TFailure& failure) {
  auto change = std::make_unique<TPosixChange>(*this, names);
  if (!change->Begin(config, failure)) return nullptr;
  return change;
}
