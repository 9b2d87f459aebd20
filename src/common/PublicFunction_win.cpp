#include <windows.h>

#include <string>

#include "common/CodePage_win.h"
#include "common/Handles_win.h"
#include "common/IniText.h"
#include "common/PublicFunction.h"

namespace {

// The profile reader's buffer: at most kIniValueMax characters and the closing NUL.
constexpr DWORD kIniBufferSize = kIniValueMax + 1;

// One key through the platform's private-profile reader.
std::string ProfileString(const std::wstring& widePath, const std::string& section,
                          const std::string& key) {
  bool exact = false;
  const std::string ansiPath = AnsiFromWide(widePath, CP_ACP, &exact);
  if (exact) {
    std::string value(kIniBufferSize, '\0');
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", value.data(),
                                             kIniBufferSize, ansiPath.c_str());
    value.resize(n);
    return value;
  }
  // A folder name the ANSI code page cannot spell: read through the wide reader and hand the
  // value back in the ANSI code page, as the ANSI reader does internally.
  const std::wstring sectionW = WideFromAnsi(section, CP_ACP);
  const std::wstring keyW = WideFromAnsi(key, CP_ACP);
  std::wstring wide(kIniBufferSize, L'\0');
  const DWORD n = GetPrivateProfileStringW(sectionW.c_str(), keyW.c_str(), L"", wide.data(),
                                           kIniBufferSize, widePath.c_str());
  wide.resize(n);
  std::string value = AnsiFromWide(wide, CP_ACP);
  value.resize(TWinCodePage().CompleteCharacters(value.substr(0, kIniValueMax)));
  return value;
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

char TSysOper::PathSeparator() noexcept {
  return '\\';
}

bool TFileOper::FileExists(const std::string& fileName) {
  const DWORD attributes = GetFileAttributesW(ExtendedLengthPath(WideFromUtf8(fileName)).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<TIniValues> TFileOper::ReadIniValues(const std::string& fileName,
                                                   std::string_view section,
                                                   const std::vector<std::string>& keys,
                                                   const TCodePage& codePage) {
  const std::wstring widePath = WideFromUtf8(fileName);
  HANDLE raw = CreateFileW(ExtendedLengthPath(widePath).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  // A file handle signals failure with INVALID_HANDLE_VALUE, not null.
  if (raw == INVALID_HANDLE_VALUE) return std::nullopt;
  const TUniqueHandle file(raw);
  if (GetFileType(file.Get()) != FILE_TYPE_DISK) return std::nullopt;

  // The file is read here in any case: whether it has the section at all, and in what
  // encoding, is checked on its own bytes rather than left to the profile reader.
  TIniTextDecoder decoder(codePage);
  TIniScanner scanner(section, keys, codePage);
  std::string start;
  std::string text;
  char buffer[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.Get(), buffer, sizeof buffer, &n, nullptr)) return std::nullopt;
    text.clear();
    if (n == 0) {
      decoder.Finish(text);
      scanner.Feed(text);
      break;
    }
    if (start.size() < 3) start.append(buffer, std::min<std::size_t>(n, 3 - start.size()));
    decoder.Feed(std::string_view(buffer, n), text);
    if (!scanner.Feed(text)) break;
  }
  TIniValues found = scanner.Finish();

  // An ANSI file at a path the profile reader can open is read by it, as it always was.
  // Files marked with a byte order mark (which it would take for ANSI text when the mark is
  // UTF-8's) and paths beyond MAX_PATH (which it cannot open) keep the values read above.
  if (found.sectionFound && IniEncodingOf(start) == TIniEncoding::Ansi &&
      widePath.size() < MAX_PATH) {
    const std::string sectionA(section);
    for (std::size_t i = 0; i < keys.size(); ++i)
      found.values[i] = ProfileString(widePath, sectionA, keys[i]);
  }
  return found;
}
