#include <windows.h>

#include <string>

#include "address/CodePage_win.h"
#include "common/IniText.h"
#include "common/PublicFunction.h"

namespace {

// The profile reader's buffer: at most kIniValueMax characters and the closing NUL.
constexpr DWORD kIniBufferSize = kIniValueMax + 1;

// ANSI text cut to at most max bytes without splitting a double-byte character.
std::string CutAnsi(std::string text, std::size_t max) {
  if (text.size() <= max) return text;
  std::size_t end = 0;
  while (end < max) {
    const bool lead = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(text[end])) != FALSE;
    const std::size_t next = end + (lead ? 2 : 1);
    if (next > max) break;
    end = next;
  }
  text.resize(end);
  return text;
}

}  // namespace

std::string TSysOper::GetAppPath() noexcept {
  try {
    // Long installation paths exceed MAX_PATH: grow until the whole name fits.
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
      const DWORD size = static_cast<DWORD>(name.size());
      const DWORD n = GetModuleFileNameW(nullptr, name.data(), size);
      if (n == 0) return {};
      if (n < size) {
        name.resize(n);
        break;
      }
      if (name.size() >= 32768) return {};  // no Windows path is longer
      name.resize(name.size() * 2);
    }
    const std::size_t slash = name.rfind(L'\\');
    if (slash == std::wstring::npos) return {};
    return Utf8FromWide(std::wstring_view(name).substr(0, slash + 1));
  } catch (...) {
    return {};
  }
}

std::string TFileOper::ReadIniString(const std::string& fileName, std::string_view section,
                                     std::string_view key) {
  const std::wstring widePath = WideFromUtf8(fileName);
  bool exact = false;
  const std::string ansiPath = AnsiFromWide(widePath, CP_ACP, &exact);
  const std::string sectionA(section);
  const std::string keyA(key);
  if (exact) {
    std::string value(kIniBufferSize, '\0');
    const DWORD n = GetPrivateProfileStringA(sectionA.c_str(), keyA.c_str(), "", value.data(),
                                             kIniBufferSize, ansiPath.c_str());
    value.resize(n);
    return value;
  }
  // A folder name the ANSI code page cannot spell: read through the wide reader and hand the
  // value back in the ANSI code page, as the ANSI reader does internally.
  const std::wstring sectionW = WideFromAnsi(sectionA, CP_ACP);
  const std::wstring keyW = WideFromAnsi(keyA, CP_ACP);
  std::wstring value(kIniBufferSize, L'\0');
  const DWORD n = GetPrivateProfileStringW(sectionW.c_str(), keyW.c_str(), L"", value.data(),
                                           kIniBufferSize, widePath.c_str());
  value.resize(n);
  return CutAnsi(AnsiFromWide(value, CP_ACP), kIniValueMax);
}
