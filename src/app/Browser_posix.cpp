#include "app/Browser_posix.h"

#include <signal.h>
#include <spawn.h>
#include <unistd.h>

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

bool StartBrowser(const std::string& address) {
  SpawnAttributes attributes;
  if (!attributes.Ok()) return false;
  // The browser outlives us: its own session, no signal mask or dispositions of ours.
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  posix_spawnattr_setsigmask(attributes.Get(), &none);
  posix_spawnattr_setsigdefault(attributes.Get(), &defaults);
  posix_spawnattr_setflags(attributes.Get(),
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::string program = "xdg-open";
  std::string argument = address;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  return posix_spawnp(&child, program.c_str(), nullptr, attributes.Get(), argv, environ) == 0;
}
