#pragma once

#include <string>
#include <string_view>

class TPosixInstanceLock;
struct CompanyMainWindowCalls;

// The launcher's side of the window module (CompanyMainWindow.so beside the program): loaded
// at the first thing to show. Should it be missing or broken, the problem, and any message
// that could not be shown, go to standard error, and the program ends with exit code 1.
class TWindowModuleLoader {
 public:
  // programFolder ends with "/"; "" when the program's folder cannot be told.
  TWindowModuleLoader(std::string programFolder, std::string programName);
  ~TWindowModuleLoader();
  TWindowModuleLoader(const TWindowModuleLoader&) = delete;
  TWindowModuleLoader& operator=(const TWindowModuleLoader&) = delete;

  // The copy that holds the lock: its activation requests go to the main window.
  void SetLock(TPosixInstanceLock* lock) { lock_ = lock; }

  // The message box; with the main window, that is created (hidden) first.
  void ShowMessage(std::string_view utf8Text, bool withMainWindow);
  // Shows the main window maximized for as long as the program runs.
  void RunMainWindow(bool endRequested);

  // 0, or 1 when the module could not be used.
  [[nodiscard]] int ExitCode() const { return failed_ ? 1 : 0; }

 private:
  bool Open(bool withMainWindow);

  std::string programFolder_;
  std::string programName_;
  TPosixInstanceLock* lock_ = nullptr;
  const CompanyMainWindowCalls* calls_ = nullptr;
  bool opened_ = false;
  bool failed_ = false;
};
