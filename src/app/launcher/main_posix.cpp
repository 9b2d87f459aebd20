// The Linux launcher: decides and launches without the GUI toolkit, which it loads only for
// what it has to show (the window module), so that the browser starts at once.
#include <cstdio>
#include <string>

#include "common/CodePage_posix.h"
#include "common/ProgramFolder.h"
#include "inputs/CompanyIdentity.h"
#include "inputs/ConfigFolder.h"
#include "launch/CheckOutInfo.h"
#include "launch/CompanyMain.h"
#include "launcher/Desktop_posix.h"
#include "launcher/Display_linux.h"
#include "launcher/InstanceLock_linux.h"
#include "launch/Version.h"
#include "launcher/WindowModule_linux.h"

// The version, findable in the file itself (companymain-config --version reads it there).
[[gnu::used, gnu::retain]] static const char kVersionMark[] =
    COMPANYMAIN_VERSION_MARK COMPANYMAIN_VERSION;

int main(int argc, char** argv) {
  // Before anything else: started from ssh or cron there is nothing to show a window on.
  const TDisplayCheck display = CheckDisplay();
  if (!display.problem.empty()) {
    std::fputs(
        ("CompanyMain: no display to show the window on (" + display.problem + ")\n").c_str(),
        stderr);
    return 1;
  }

  const TPosixCodePage codePage = TPosixCodePage::ForUserLocale();
  const std::string programFolder = ProgramFolder();
  TWindowModuleLoader window(programFolder,
                             argc > 0 && argv[0] != nullptr ? argv[0] : "CompanyMain");
  if (!display.windowProblem.empty()) window.SetUnusable(display.windowProblem);

  // The lock is held to the end, in a refused copy too.
  TPosixInstanceLock lock(display.session,
                          [&window](std::string_view text) { window.ShowMessage(text, false); });
  if (TCheckOutInfo().CheckProgramRunning(lock)) return window.ExitCode();
  window.SetLock(&lock);

  TPosixDesktop desktop(codePage, window);
  TProgramConfigFolder config(programFolder);
  TIniCompanyIdentitySource identitySource(config, codePage);
  TFrm_CompanyMain form(desktop, config, identitySource);
  form.FormCreate();
  form.FormShow();
  window.SetBrowser(desktop.Browser());
  window.RunMainWindow(desktop.EndRequested());
  return window.ExitCode();
}
