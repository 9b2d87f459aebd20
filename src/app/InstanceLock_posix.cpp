#include "app/InstanceLock_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/Messages.h"
#include "app/SessionName_posix.h"
#include "common/File_posix.h"

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
UniqueFd OpenSafeDirectory(int parent, const std::string& name) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  UniqueFd fd(openat(parent, name.c_str(), kFlags));
  bool created = false;
  if (!fd.Valid() && errno == ENOENT) {
    created = mkdirat(parent, name.c_str(), 0700) == 0;
    fd = UniqueFd(openat(parent, name.c_str(), kFlags));
  }
  if (!fd.Valid()) return {};
  // A restrictive umask may have taken our own rights away from a directory we just made.
  if (created) fchmod(fd.Get(), 0700);
  if (!IsPrivateDirectory(fd.Get())) return {};
  return fd;
}

std::string_view Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

// The display this copy shows its windows on, however the environment spells it.
std::string SessionName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return SessionNameOf({.display = Environment("DISPLAY"),
                        .waylandDisplay = Environment("WAYLAND_DISPLAY"),
                        .runtimeDirectory = Environment("XDG_RUNTIME_DIR"),
                        .hostName = host});
}

UniqueFd OpenLockFile(int directory, const std::string& name) {
  return UniqueFd(RetryOnInterrupt([&] {
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

  UniqueFd directory;
  UniqueFd presence;
  UniqueFd listener;
  std::string baseName;
  bool holder = false;    // this copy found no other
  bool listened = false;  // the socket was tried
};

TPosixInstanceLock::TPosixInstanceLock(MessageFunction showMessage)
    : showMessage_(std::move(showMessage)), files_(std::make_unique<TFiles>()) {}
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
  const UniqueFd runtime(
      open(("/run/user/" + uid).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (runtime.Valid() && IsPrivateDirectory(runtime.Get())) {
    directory = OpenSafeDirectory(runtime.Get(), "CompanyMain");
  }
  if (!directory.Valid()) {
    const UniqueFd tmp(open("/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (tmp.Valid()) directory = OpenSafeDirectory(tmp.Get(), "CompanyMain-" + uid);
  }
  return directory.Valid();
}

bool TPosixInstanceLock::AlreadyExists() {
  if (!files_->OpenPrivateDirectory()) return false;
  files_->baseName = std::string(kInstanceLockName) + "-" + SessionName();

  const UniqueFd guard = OpenLockFile(files_->directory.Get(), files_->baseName + ".guard");
  if (!guard.Valid() || RetryOnInterrupt([&] { return flock(guard.Get(), LOCK_EX); }) != 0)
    return false;
  files_->presence = OpenLockFile(files_->directory.Get(), files_->baseName + ".presence");
  if (!files_->presence.Valid()) return false;

  bool running = false;
  if (RetryOnInterrupt([&] { return flock(files_->presence.Get(), LOCK_EX | LOCK_NB); }) == 0) {
    // Nobody else holds it. Going from exclusive to shared is not atomic, but every other
    // copy waits for the guard before it looks.
    if (flock(files_->presence.Get(), LOCK_SH) != 0) files_->presence.Reset();
    files_->holder = true;
  } else if (errno == EWOULDBLOCK) {
    running = true;
    // Refused copies hold the lock too, for as long as they show their message.
    flock(files_->presence.Get(), LOCK_SH | LOCK_NB);
  } else {
    files_->presence.Reset();
  }
  return running;  // the guard is released here
}

std::string TPosixInstanceLock::TFiles::SocketPath() const {
  // Through the directory we checked, whatever the length of the directory's own path.
  return "/proc/self/fd/" + std::to_string(directory.Get()) + "/" + baseName + ".socket";
}

void TPosixInstanceLock::TFiles::Listen() {
  sockaddr_un address{};
  if (!FillAddress(SocketPath(), address)) return;
  UniqueFd socketFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
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
  const UniqueFd socketFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socketFd.Valid()) return;
  if (connect(socketFd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return;
  const char request = 'A';
  [[maybe_unused]] const ssize_t sent =
      send(socketFd.Get(), &request, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
}

bool TPosixInstanceLock::AcceptActivation() {
  if (!files_->listener.Valid()) return false;
  const UniqueFd peer(
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
