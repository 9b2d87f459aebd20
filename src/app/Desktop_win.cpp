#include "app/Desktop_win.h"

#include <windows.h>
// The shell and OLE need the Windows declarations first.
#include <ole2.h>
#include <shellapi.h>

#include "app/Application_win.h"
#include "common/CodePage_win.h"

namespace {

// ShellExecute reports success with a value above 32.
bool Started(HINSTANCE result) {
  return reinterpret_cast<INT_PTR>(result) > 32;
}

// Only a web address may go to the default handler: "open" on anything else would run a
// program or open a file named in the configuration.
bool IsWebAddress(std::wstring_view address) {
  const auto startsWith = [&](std::wstring_view scheme) {
    if (address.size() < scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
      if (towlower(address[i]) != scheme[i]) return false;
    }
    return true;
  };
  return startsWith(L"http://") || startsWith(L"https://");
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
  return IsWebAddress(wide) &&
         Started(ShellExecuteW(owner, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
}

void TWinDesktop::RequestEnd() {
  PostQuitMessage(0);
}
