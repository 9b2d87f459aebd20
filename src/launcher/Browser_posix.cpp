#include "launcher/Browser_posix.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace {

class SpawnAttributes {
 public:
  SpawnAttributes() { ok_ = posix_spawnattr_init(&attributes_) == 0; }
  ~SpawnAttributes() {
    if (ok_) posix_spawnattr_destroy(&attributes_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  [[nodiscard]] bool Ok() const { return ok_; }
  posix_spawnattr_t* Get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_{};
  bool ok_ = false;
};

}  // namespace

pid_t StartBrowser(const std::string& address) {
  SpawnAttributes attributes;
  if (!attributes.Ok()) return -1;
  // The browser outlives us: its own session (a closed terminal does not end it), no signal
  // mask or dispositions of ours. Started any other way it is not started at all.
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  if (posix_spawnattr_setsigmask(attributes.Get(), &none) != 0 ||
      posix_spawnattr_setsigdefault(attributes.Get(), &defaults) != 0 ||
      posix_spawnattr_setflags(attributes.Get(), POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                     POSIX_SPAWN_SETSIGDEF) != 0) {
    return -1;
  }

  std::string program = "xdg-open";
  std::string argument = address;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, program.c_str(), nullptr, attributes.Get(), argv, environ) != 0)
    return -1;
  return child;
}

TBrowserState BrowserState(pid_t browser) {
  int status = 0;
  pid_t ended = 0;
  do {
    ended = waitpid(browser, &status, WNOHANG);
  } while (ended < 0 && errno == EINTR);
  if (ended == 0) return TBrowserState::Running;
  if (ended < 0) return TBrowserState::Succeeded;  // told before, or not ours to tell
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? TBrowserState::Succeeded
                                                       : TBrowserState::Failed;
}
