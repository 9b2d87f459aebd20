#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "launch/InstanceLock.h"

// The single-instance lock of one user in one graphical session, made of flock()s in a private
// directory (/run/user/<uid>/CompanyMain/; without a runtime directory /tmp/CompanyMain-<uid>/,
// or <home>/.cache/CompanyMain/ where somebody else has taken that name), named after the
// session:
//  - every copy holds a shared lock on the presence file for its whole life, refused copies
//    included, so the lock exists while any copy holds it and dies with the last one, crash
//    or not;
//  - a copy tests for the others by trying an exclusive lock on the presence file while it
//    holds an exclusive lock on the guard file, which makes test-and-hold one step.
// The copy that finds no other listens on a socket beside them for requests to show itself,
// from the moment it has a window to show (see ActivationFd).
// Every descriptor is close-on-exec, so the browser never inherits the lock.
class TPosixInstanceLock final : public TInstanceLock {
 public:
  using MessageFunction = std::function<void(std::string_view)>;
  // session: a file-name part naming the graphical session (see CheckDisplay).
  TPosixInstanceLock(std::string session, MessageFunction showMessage);
  ~TPosixInstanceLock() override;
  TPosixInstanceLock(const TPosixInstanceLock&) = delete;
  TPosixInstanceLock& operator=(const TPosixInstanceLock&) = delete;

  // Throws when the lock cannot be had (no safe private directory, a lock file that cannot be
  // made or locked): the copy must not run unguarded.
  bool AlreadyExists() override;
  // Connects to the running copy and sends one byte; never waits, ignores every error.
  void ActivateRunningCopy() override;
  void ShowMessage(std::string_view utf8Text) override { showMessage_(utf8Text); }

  // The listening socket of the running copy (readable when a request waits), made at the
  // first call; -1 in a refused copy or when it cannot be made.
  [[nodiscard]] int ActivationFd();
  // Takes one waiting request; true when it came from a process of this user.
  bool AcceptActivation();

 private:
  struct TFiles;  // the private directory, the lock files and the socket

  std::string session_;
  MessageFunction showMessage_;
  std::unique_ptr<TFiles> files_;
};
