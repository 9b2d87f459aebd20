#include "app/CheckOutInfo.h"

#include "app/Messages.h"

bool TCheckOutInfo::CheckProgramRunning(TInstanceLock& lock) noexcept {
  bool result = false;
  try {
    if (lock.AlreadyExists()) {
      result = true;
      // Ask first, then tell: the running copy must not wait for the user's OK.
      lock.ActivateRunningCopy();
      lock.ShowMessage(kMsgAlreadyRunning);
    }
  } catch (...) {
    // Whatever went wrong, the result stands as it was at that moment.
  }
  return result;
}
