#include "launcher/Desktop_win.h"

#include <windows.h>
// The shell and OLE need the Windows declarations first.
#include <ole2.h>
#include <shellapi.h>

#include "common/CodePage_win.h"
#include "inputs/InstallationFiles.h"
#include "launcher/Application_win.h"

namespace {

// ShellExecute reports success with a value above 32.
bool Started(HINSTANCE result) {
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace

void TWinDesktop::InitializeOle() {
  // Never undone: OLE stays initialised until the process ends.
  (void)OleInitialize(nullptr);
}

void TWinDesktop::ShowMessage(std::string_view utf8Text) {
  // Owned by the main window, hidden or not: the window stays disabled under its box, and
  // should another copy bring it on screen, the box stays above it.
  application_.ShowMessage(owner_, utf8Text);
}

bool TWinDesktop::OpenBrowser(const std::string& address) {
  // The address is ANSI text; ShellExecuteA would widen it with the same code page.
  const std::wstring wide = WideFromAnsi(address, CP_ACP);
  HWND owner = static_cast<HWND>(owner_);
  if (Started(
          ShellExecuteW(owner, L"Open", L"IExplore.exe", wide.c_str(), nullptr, SW_SHOWNORMAL))) {
    return true;
  }
  // Only a web address goes to the default handler (see IsWebAddress).
  return IsWebAddress(address) &&
         Started(ShellExecuteW(owner, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
}

void TWinDesktop::RequestEnd() {
  PostQuitMessage(0);
}
