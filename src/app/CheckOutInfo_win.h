#pragma once

#include <string_view>

#include "app/CheckOutInfo.h"
#include "app/Handles_win.h"

// The session-wide named mutex "CompanyMain". The handle is held for the life of this object,
// which the entry block keeps until the process ends, refused copies included.
class TWinInstanceLock final : public TInstanceLock {
 public:
  bool AlreadyExists() override;
  // Finds the running copy's window by class and caption, even while it is hidden, and asks
  // it to show maximized without waiting for it.
  void ActivateRunningCopy() override;
  void ShowMessage(std::string_view utf8Text) override;

 private:
  TUniqueHandle mutex_;
};

// The program's message box: caption "提示", OK with the exclamation icon (flags 0x30), modal
// to the owner (none before the main window exists).
void ShowProgramMessage(HWND owner, std::string_view utf8Text);
