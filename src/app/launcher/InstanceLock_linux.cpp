#include "launcher/InstanceLock_linux.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "common/File_linux.h"
#include "launch/Messages.h"

namespace {

int RetryOnInterrupt(const std::function<int()>& call) {
  int result = 0;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

// True for a directory owned by this user and closed to everybody else. Callers open it with
// O_NOFOLLOW, so a symbolic link never gets this far.
bool IsPrivateDirectory(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 07777) == 0700;
}

// Opens parent/name only if it is a private directory; creates it first when it is missing.
// Relative to a parent already checked, so that nothing can be swapped in between.
TUniqueFd OpenSafeDirectory(int parent, const std::string& name) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  TUniqueFd fd(openat(parent, name.c_str(), kFlags));
  bool created = false;
  if (!fd.Valid() && errno == ENOENT) {
    created = mkdirat(parent, name.c_str(), 0700) == 0;
    fd = TUniqueFd(openat(parent, name.c_str(), kFlags));
  }
  if (!fd.Valid()) return {};
  // A restrictive umask may have taken our own rights away from a directory we just made.
  if (created) fchmod(fd.Get(), 0700);
  if (!IsPrivateDirectory(fd.Get())) return {};
  return fd;
}

// The user's home folder as the user database has it: never from the environment.
std::string HomeFolder() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  while (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  return found != nullptr && found->pw_dir != nullptr ? found->pw_dir : "";
}

// Nobody but this user (and root) can change what the folder holds: owned by the user or root,
// writable by no other user (by its group only where that is the user's own group).
bool OnlyUserCanChange(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != geteuid() && st.st_uid != 0) return false;
  if ((st.st_mode & S_IWOTH) != 0) return false;
  return (st.st_mode & S_IWGRP) == 0 || (st.st_gid == getegid() && st.st_uid == geteuid());
}

// <home>/.cache/CompanyMain: a folder only this user can own, wherever /tmp has been taken.
// With create false, only one that is already there.
TUniqueFd OpenCacheDirectory(bool create) {
  const std::string home = HomeFolder();
  if (home.empty() || home.front() != '/') return {};
  const TUniqueFd homeFd(open(home.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!homeFd.Valid() || !OnlyUserCanChange(homeFd.Get())) return {};
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  TUniqueFd cache(openat(homeFd.Get(), ".cache", kFlags));
  if (!cache.Valid() && errno == ENOENT && create) {
    if (mkdirat(homeFd.Get(), ".cache", 0700) == 0 || errno == EEXIST)
      cache = TUniqueFd(openat(homeFd.Get(), ".cache", kFlags));
  }
  if (!cache.Valid() || !OnlyUserCanChange(cache.Get())) return {};
  if (!create && faccessat(cache.Get(), "CompanyMain", F_OK, AT_SYMLINK_NOFOLLOW) != 0) return {};
  return OpenSafeDirectory(cache.Get(), "CompanyMain");
}

TUniqueFd OpenLockFile(int directory, const std::string& name) {
  return TUniqueFd(RetryOnInterrupt([&] {
    return openat(directory, name.c_str(),
                  O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  }));
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

struct TPosixInstanceLock::TFiles {
  bool OpenPrivateDirectory();
  void Listen();
  [[nodiscard]] std::string SocketPath() const;

  TUniqueFd directory;
  TUniqueFd presence;
  TUniqueFd listener;
  std::string baseName;
  bool holder = false;    // this copy found no other
  bool listened = false;  // the socket was tried
};

TPosixInstanceLock::TPosixInstanceLock(std::string session, MessageFunction showMessage)
    : session_(std::move(session)),
      showMessage_(std::move(showMessage)),
      files_(std::make_unique<TFiles>()) {}
TPosixInstanceLock::~TPosixInstanceLock() = default;

int TPosixInstanceLock::ActivationFd() {
  // Listening waits until something asks for it: a window to bring forward, or a message
  // that keeps this copy running. Until then a refused copy's request finds no socket, as it
  // would find no window, and nothing is delayed on the way to the browser.
  if (files_->holder && !files_->listened) {
    files_->listened = true;
    files_->Listen();
  }
  return files_->listener.Get();
}

bool TPosixInstanceLock::TFiles::OpenPrivateDirectory() {
  // Never from the environment: copies started from a menu, a terminal or autostart see
  // different ones and must still find the same lock.
  const std::string uid = std::to_string(geteuid());
  const TUniqueFd runtime(
      open(("/run/user/" + uid).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (runtime.Valid() && IsPrivateDirectory(runtime.Get())) {
    directory = OpenSafeDirectory(runtime.Get(), "CompanyMain");
    if (directory.Valid()) return true;
  }
  // Without a runtime directory: /tmp/CompanyMain-<uid>, unless somebody else has taken that
  // name, in which case the user's cache folder. Once the cache folder holds the lock it keeps
  // it, so that whoever took the name in /tmp cannot split the copies by giving it back.
  directory = OpenCacheDirectory(false);
  if (directory.Valid()) return true;
  const TUniqueFd tmp(open("/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (tmp.Valid()) directory = OpenSafeDirectory(tmp.Get(), "CompanyMain-" + uid);
  if (!directory.Valid()) directory = OpenCacheDirectory(true);
  return directory.Valid();
}

bool TPosixInstanceLock::AlreadyExists() {
  // Without the lock nothing is opened: the caller says so.
  const auto unguarded = [](const char* what) { throw std::runtime_error(what); };
  if (!files_->OpenPrivateDirectory()) unguarded("no private directory for the lock");
  files_->baseName = std::string(kInstanceLockName) + "-" + session_;

  const TUniqueFd guard = OpenLockFile(files_->directory.Get(), files_->baseName + ".guard");
  if (!guard.Valid() || RetryOnInterrupt([&] { return flock(guard.Get(), LOCK_EX); }) != 0)
    unguarded("cannot lock the guard file");
  files_->presence = OpenLockFile(files_->directory.Get(), files_->baseName + ".presence");
  if (!files_->presence.Valid()) unguarded("cannot open the presence file");

  if (RetryOnInterrupt([&] { return flock(files_->presence.Get(), LOCK_EX | LOCK_NB); }) == 0) {
    // Nobody else holds it. Going from exclusive to shared is not atomic, but every other
    // copy waits for the guard before it looks.
    if (RetryOnInterrupt([&] { return flock(files_->presence.Get(), LOCK_SH); }) != 0) {
      files_->presence.Reset();
      unguarded("cannot hold the presence file");
    }
    files_->holder = true;
    return false;  // the guard is released here
  }
  if (errno != EWOULDBLOCK) {
    files_->presence.Reset();
    unguarded("cannot test the presence file");
  }
  // Refused copies hold the lock too, for as long as they show their message. Nobody holds it
  // exclusively while we hold the guard, so this is refused only for want of system
  // resources; the copy is refused all the same, it only keeps nobody else out then.
  if (flock(files_->presence.Get(), LOCK_SH | LOCK_NB) != 0) files_->presence.Reset();
  return true;
}

std::string TPosixInstanceLock::TFiles::SocketPath() const {
  // Through the directory we checked, whatever the length of the directory's own path.
  return "/proc/self/fd/" + std::to_string(directory.Get()) + "/" + baseName + ".socket";
}

void TPosixInstanceLock::TFiles::Listen() {
  sockaddr_un address{};
  if (!FillAddress(SocketPath(), address)) return;
  TUniqueFd socketFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socketFd.Valid()) return;
  const std::string name = baseName + ".socket";
  unlinkat(directory.Get(), name.c_str(), 0);  // left behind by a copy that was killed
  if (bind(socketFd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return;
  // The socket is made with the umask's rights; one we could not narrow is not offered.
  if (fchmodat(directory.Get(), name.c_str(), 0600, 0) != 0 || listen(socketFd.Get(), 16) != 0) {
    unlinkat(directory.Get(), name.c_str(), 0);
    return;
  }
  listener = std::move(socketFd);
}

void TPosixInstanceLock::ActivateRunningCopy() {
  if (!files_->directory.Valid()) return;
  sockaddr_un address{};
  if (!FillAddress(files_->SocketPath(), address)) return;
  const TUniqueFd socketFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socketFd.Valid()) return;
  if (connect(socketFd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return;
  const char request = 'A';
  [[maybe_unused]] const ssize_t sent =
      send(socketFd.Get(), &request, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
}

bool TPosixInstanceLock::AcceptActivation() {
  if (!files_->listener.Valid()) return false;
  const TUniqueFd peer(
      accept4(files_->listener.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!peer.Valid()) return false;
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (getsockopt(peer.Get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
      credentials.uid != geteuid()) {
    return false;
  }
  return true;  // the connection is the request; its byte need not have arrived yet
}
