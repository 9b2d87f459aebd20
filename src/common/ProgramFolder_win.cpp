#include <windows.h>

#include "common/CodePage_win.h"
#include "common/ProgramFolder.h"

std::string ProgramFolder() noexcept {
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

char PathSeparator() noexcept {
  return '\\';
}
