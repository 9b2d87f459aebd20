#include "launch/CheckOutInfo.h"

#include "launch/Messages.h"

bool TCheckOutInfo::CheckProgramRunning(TInstanceLock& lock) noexcept {
  bool running = false;
  try {
    running = lock.AlreadyExists();
  } catch (...) {
    try {
      lock.ShowMessage(kMsgLockUnavailable);
    } catch (...) {
      // Told or not, nothing is opened without the lock.
    }
    return true;
  }
  if (!running) return false;
  try {
    // Ask first, then tell: the running copy must not wait for the user's OK.
    lock.ActivateRunningCopy();
    lock.ShowMessage(kMsgAlreadyRunning);
  } catch (...) {
    // The copy ends all the same.
  }
  return true;
}
