#pragma once

#include <string_view>

// The platform's single-instance lock named "CompanyMain", held until the process ends.
class TInstanceLock {
 public:
  virtual ~TInstanceLock() = default;
  // Creates or opens the lock; true when another process already holds it (a running copy,
  // or a refused copy still showing its message). Throws when the lock cannot be had.
  virtual bool AlreadyExists() = 0;
  // Asks the running copy, without waiting, to show its main window maximized.
  virtual void ActivateRunningCopy() = 0;
  // Modal message, caption "提示"; returns once it is dismissed.
  virtual void ShowMessage(std::string_view utf8Text) = 0;
};
