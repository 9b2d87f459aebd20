#pragma once

#include "launch/InstanceLock.h"

class TCheckOutInfo {
 public:
  // True when the program must end: another copy runs (it has been asked to show itself and
  // the user has been told), or the lock could not be had (the user has been told that; a
  // copy never runs unguarded). Errors after the lock was tested leave the result as it is.
  bool CheckProgramRunning(TInstanceLock& lock) noexcept;
};
