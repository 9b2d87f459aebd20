#include <windows.h>

#include <algorithm>
#include <string>

#include "common/CodePage_win.h"
#include "common/Handles_win.h"
#include "inputs/ConfigFolder.h"

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

TFileRead Unreadable(DWORD error) {
  TFileRead read;
  read.state = TFileRead::State::Unreadable;
  read.error = error;
  return read;
}

// The file at the path opened for reading; when it cannot be, a reading that says why (Missing
// or Unreadable).
struct TOpened {
  TUniqueHandle file;
  TFileRead failed;
};
TOpened OpenForReading(const std::wstring& longPath) {
  const DWORD attributes = GetFileAttributesW(longPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    return {TUniqueHandle(), Unreadable(error)};
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return {TUniqueHandle(), Unreadable(ERROR_DIRECTORY)};
  HANDLE raw = CreateFileW(longPath.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  // A file handle signals failure with INVALID_HANDLE_VALUE, not null.
  if (raw == INVALID_HANDLE_VALUE) return {TUniqueHandle(), Unreadable(GetLastError())};
  TUniqueHandle file(raw);
  if (GetFileType(file.Get()) != FILE_TYPE_DISK) return {TUniqueHandle(), Unreadable(0)};
  return {std::move(file), {}};
}

}  // namespace

bool TProgramConfigFolder::FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(ExtendedLengthPath(WideFromUtf8(path)).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

TFileRead TProgramConfigFolder::ReadSection(const std::string& path, std::string_view section,
                                            const std::vector<std::string>& keys,
                                            const TCodePage& ansi, const TCodePage& unicodeText) {
  const std::wstring widePath = WideFromUtf8(path);
  const TOpened opened = OpenForReading(ExtendedLengthPath(widePath));
  if (!opened.file.Valid()) return opened.failed;
  const TUniqueHandle& file = opened.file;

  // The file is read here in any case: whether it has the section at all, and in what
  // encoding, is checked on its own bytes rather than left to the profile reader.
  TSectionReading reading(section, keys, ansi, unicodeText);
  char buffer[65536];
  DWORD started = 0;
  while (started < 3) {
    DWORD n = 0;
    if (!ReadFile(file.Get(), buffer + started, 3 - started, &n, nullptr))
      return Unreadable(GetLastError());
    if (n == 0) break;
    started += n;
  }
  reading.Start(std::string_view(buffer, started));
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.Get(), buffer, sizeof buffer, &n, nullptr))
      return Unreadable(GetLastError());
    if (n == 0 || !reading.Feed(std::string_view(buffer, n))) break;
  }
  TFileRead found = reading.Finish();

  // An ANSI file at a path the profile reader can open is read by it, as the launcher always
  // did. Files marked with a byte order mark (which it would take for ANSI text when the mark
  // is UTF-8's) and paths beyond MAX_PATH (which it cannot open) keep the values read above.
  if (found.SectionFound() && found.encoding == TIniEncoding::Ansi && widePath.size() < MAX_PATH) {
    const std::string sectionA(section);
    for (std::size_t i = 0; i < keys.size(); ++i)
      found.values.values[i] = ProfileString(widePath, sectionA, keys[i]);
  }
  return found;
}

TFileBytes TProgramConfigFolder::ReadWhole(const std::string& path, std::size_t limit) {
  const TOpened opened = OpenForReading(ExtendedLengthPath(WideFromUtf8(path)));
  if (!opened.file.Valid()) return {opened.failed.state, {}, opened.failed.error};
  const auto unreadable = [](DWORD error) {
    return TFileBytes{TFileRead::State::Unreadable, {}, error};
  };
  LARGE_INTEGER size{};
  const bool sized = GetFileSizeEx(opened.file.Get(), &size) && size.QuadPart > 0;
  if (sized && static_cast<std::uint64_t>(size.QuadPart) > limit)
    return unreadable(ERROR_FILE_TOO_LARGE);
  TFileBytes file{TFileRead::State::Read, {}, 0};
  // The file's size at once: grown as read, the string would hold up to half as much again.
  if (sized) file.bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  char buffer[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(opened.file.Get(), buffer, sizeof buffer, &n, nullptr))
      return unreadable(GetLastError());
    if (n == 0) break;
    file.bytes.append(buffer, n);
    if (file.bytes.size() > limit) return unreadable(ERROR_FILE_TOO_LARGE);
  }
  return file;
}
