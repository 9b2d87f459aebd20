// CompanyMainSettings.exe: the field installer's window onto the installation's values; a
// windows program (no console), started from the Start menu or by Modify in Apps & Features.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstddef>
#include <string_view>

#include "settings/SettingsWindow.h"
#include "tool/ToolSystem_win.h"

// po/zh_CN.po compiled by msgfmt, made part of the program at build time.
extern const char kChineseCatalog[];
extern const std::size_t kChineseCatalog_SIZE;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  TWinConfigToolSystem system(std::string_view(kChineseCatalog, kChineseCatalog_SIZE));
  // The program runs as an administrator (its manifest): it writes in process.
  TInProcessSettingsWriter writer(system);
  return RunSettingsWindow(system, writer);
}
