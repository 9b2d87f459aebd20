#include "app/Desktop_win.h"

#include <ole2.h>
#include <shellapi.h>

#include "address/CodePage_win.h"
#include "app/CheckOutInfo_win.h"
#include "app/Handles_win.h"
#include "common/PublicFunction.h"

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

std::string TWinDesktop::GetAppPath() {
  return TSysOper::GetAppPath();
}

bool TWinDesktop::FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(ExtendedLengthPath(WideFromUtf8(path)).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<TIniValues> TWinDesktop::ReadIniValues(const std::string& file,
                                                     std::string_view section,
                                                     const std::vector<std::string>& keys) {
  return TFileOper::ReadIniValues(file, section, keys, codePage_);
}

void TWinDesktop::InitializeOle() {
  // Never undone: OLE stays initialised until the process ends.
  (void)OleInitialize(nullptr);
}

void TWinDesktop::ShowMessage(std::string_view utf8Text) {
  ShowProgramMessage(owner_, utf8Text);
}

bool TWinDesktop::OpenBrowser(const std::string& address) {
  // The address is ANSI text; ShellExecuteA would widen it with the same code page.
  const std::wstring wide = WideFromAnsi(address, CP_ACP);
  if (Started(
          ShellExecuteW(owner_, L"Open", L"IExplore.exe", wide.c_str(), nullptr, SW_SHOWNORMAL))) {
    return true;
  }
  return IsWebAddress(wide) &&
         Started(ShellExecuteW(owner_, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
}

void TWinDesktop::RequestEnd() {
  PostQuitMessage(0);
}
