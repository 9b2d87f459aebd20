#pragma once

#include <memory>
#include <string_view>

#include "launch/InstanceLock.h"

class TWinApplication;

// The session-wide named mutex "CompanyMain". The handle is held for the life of this object,
// which the entry block keeps until the process ends, refused copies included.
class TWinInstanceLock final : public TInstanceLock {
 public:
  explicit TWinInstanceLock(TWinApplication& application);
  ~TWinInstanceLock() override;
  TWinInstanceLock(const TWinInstanceLock&) = delete;
  TWinInstanceLock& operator=(const TWinInstanceLock&) = delete;

  bool AlreadyExists() override;
  // Finds the running copy's window by class and caption, even while it is hidden, and asks
  // it to show maximized without waiting for it.
  void ActivateRunningCopy() override;
  void ShowMessage(std::string_view utf8Text) override;

 private:
  struct TMutex;
  std::unique_ptr<TMutex> mutex_;
  TWinApplication& application_;
};
