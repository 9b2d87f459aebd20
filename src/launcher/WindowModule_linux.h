#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

class TPosixInstanceLock;
struct CompanyMainWindowCalls;

// The launcher's side of the window module (CompanyMainWindow.so beside the program): loaded
// at the first thing to show. Should it be missing or broken, or the window fail to come up,
// the problem, and any message that could not be shown, go to standard error, and the program
// ends with exit code 1, within a few seconds: from the loading of the module on, the program
// never waits longer than that except for the user's answer to a message.
class TWindowModuleLoader {
 public:
  // programFolder ends with "/"; "" when the program's folder cannot be told.
  TWindowModuleLoader(std::string programFolder, std::string programName);
  ~TWindowModuleLoader();
  TWindowModuleLoader(const TWindowModuleLoader&) = delete;
  TWindowModuleLoader& operator=(const TWindowModuleLoader&) = delete;

  // The copy that holds the lock: its activation requests go to the main window.
  void SetLock(TPosixInstanceLock* lock) { lock_ = lock; }
  // The display is there but the window cannot be shown on it: the module is not loaded, and
  // everything to show is handled as with a missing module.
  void SetUnusable(std::string reason) { unusable_ = std::move(reason); }
  // The xdg-open the main window watches while it is up.
  void SetBrowser(pid_t browser) { browser_ = browser; }

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
  std::string unusable_;
  TPosixInstanceLock* lock_ = nullptr;
  pid_t browser_ = -1;
  const CompanyMainWindowCalls* calls_ = nullptr;
  bool opened_ = false;
  bool failed_ = false;
};
