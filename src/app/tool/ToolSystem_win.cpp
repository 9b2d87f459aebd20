#include "tool/ToolSystem_win.h"

#include <windows.h>

#include <cstddef>
#include <cwchar>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/Handles_win.h"
#include "common/ProgramFolder.h"
#include "common/Text.h"
#include "inputs/InstallationFiles.h"

namespace {

// Chinese for a user whose Windows speaks Chinese, English for everyone else.
bool UserSpeaksChinese() {
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE;
}

// The system's text for an error, in the tool's language where Windows has it.
std::string ErrorText(DWORD code, bool chinese) {
  const DWORD languages[] = {chinese ? 0u : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), 0u};
  for (const DWORD language : languages) {
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, language, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (text == nullptr) continue;
    std::string message = Utf8FromWide(text);
    LocalFree(text);
    // The tool's sentence goes on after the reason: no line end or full stop of its own.
    for (bool trimmed = true; trimmed;) {
      trimmed = false;
      for (const std::string_view end : {"\r", "\n", " ", ".", "\u3002"}) {
        if (message.ends_with(end)) {
          message.resize(message.size() - end.size());
          trimmed = true;
        }
      }
    }
    return message + " (" + std::to_string(code) + ")";
  }
  return Concat({"(", std::to_string(code), ")"});
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD disposition) {
  return CreateFileW(ExtendedLengthPath(WideFromUtf8(path)).c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A console shows text written as UTF-16; a pipe or a file gets UTF-8.
void Write(DWORD which, const std::wstring& text) {
  HANDLE out = GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  DWORD done = 0;
  if (GetConsoleMode(out, &mode)) {
    WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    return;
  }
  const std::string bytes = Utf8FromWide(text);
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
}

}  // namespace

TWinConfigToolSystem::TWinConfigToolSystem(std::string_view catalog)
    : chinese_(UserSpeaksChinese()), catalog_(chinese_ ? catalog : std::string_view()) {}

std::string TWinConfigToolSystem::Translate(const char* english) {
  return std::string(catalog_.Translate(english));
}

std::string TWinConfigToolSystem::ElevationRemedy() {
  return Translate(
      "Run CompanyMainConfig.exe as an administrator (from a command prompt "
      "started with \"Run as administrator\").");
}

std::string TWinConfigToolSystem::ProgramFolder() {
  return ::ProgramFolder();
}

TConfigToolSystem::TFailure TWinConfigToolSystem::ReadFailure(std::uint32_t error) {
  // 0: no disk file (a device or a pipe), which the launcher does not read.
  return Failure(error == 0 ? ERROR_READ_FAULT : error);
}

std::string TWinConfigToolSystem::FullFolder(const std::string& folder) {
  const std::wstring given = WideFromUtf8(folder);
  const DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (size == 0) return {};
  std::wstring full(size, L'\0');
  const DWORD n = GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
  full.resize(n);
  if (full.empty()) return {};
  if (full.back() != L'\\') full += L'\\';
  return Utf8FromWide(full);
}

std::string TWinConfigToolSystem::LauncherVersion(const std::string& folder) {
  // The version resource of CompanyMain.exe beside the tool.
  const std::wstring exe = WideFromUtf8(folder + "CompanyMain.exe");
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(exe.c_str(), 0, size, data.data())) return {};
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
      info == nullptr) {
    return {};
  }
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS));
}

bool TWinConfigToolSystem::ReadInput(const std::string& path, std::size_t limit, std::string& bytes,
                                     TFailure& failure) {
  HANDLE raw =
      path == "-" ? GetStdHandle(STD_INPUT_HANDLE) : OpenFile(path, GENERIC_READ, OPEN_EXISTING);
  if (raw == INVALID_HANDLE_VALUE || raw == nullptr) {
    failure = Failure(raw == nullptr ? ERROR_INVALID_HANDLE : GetLastError());
    return false;
  }
  // Standard input is not ours to close.
  const TUniqueHandle file(path == "-" ? nullptr : raw);
  char buffer[4096];
  while (bytes.size() <= limit) {
    DWORD n = 0;
    if (!ReadFile(raw, buffer, sizeof buffer, &n, nullptr)) {
      const DWORD error = GetLastError();
      if (error == ERROR_BROKEN_PIPE) break;  // the writer of a pipe is done
      failure = Failure(error);
      return false;
    }
    if (n == 0) break;
    bytes.append(buffer, n);
  }
  if (bytes.size() > limit + 1) bytes.resize(limit + 1);
  return true;
}

bool TWinConfigToolSystem::RegistryTexts(const std::string& key,
                                         const std::vector<std::string>& names,
                                         std::map<std::string, std::string>& texts,
                                         TFailure& failure) {
  HKEY raw = nullptr;
  const LSTATUS opened =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(key).c_str(), 0, KEY_QUERY_VALUE, &raw);
  if (opened != ERROR_SUCCESS) {
    failure = Failure(static_cast<DWORD>(opened));
    return false;
  }
  const TUnique<HKEY, RegCloseKey> keyHandle(raw);
  for (const std::string& name : names) {
    const std::wstring wideName = WideFromUtf8(name);
    std::wstring text;
    LSTATUS read = ERROR_MORE_DATA;
    // The value may grow between asking its size and reading it.
    while (read == ERROR_MORE_DATA) {
      DWORD bytes = 0;
      read = RegGetValueW(keyHandle.Get(), nullptr, wideName.c_str(), RRF_RT_REG_SZ, nullptr,
                          nullptr, &bytes);
      if (read != ERROR_SUCCESS) break;
      text.assign(bytes / sizeof(wchar_t) + 1, L'\0');
      bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
      read = RegGetValueW(keyHandle.Get(), nullptr, wideName.c_str(), RRF_RT_REG_SZ, nullptr,
                          text.data(), &bytes);
      if (read == ERROR_SUCCESS) text.resize(wcsnlen(text.data(), bytes / sizeof(wchar_t)));
    }
    if (read == ERROR_FILE_NOT_FOUND) continue;
    if (read != ERROR_SUCCESS) {
      failure = Failure(static_cast<DWORD>(read));
      failure.reason = name + ": " + failure.reason;
      return false;
    }
    texts[name] = Utf8FromWide(text);
  }
  return true;
}

void TWinConfigToolSystem::Out(std::string_view utf8) {
  Write(STD_OUTPUT_HANDLE, WideFromUtf8(utf8));
}

void TWinConfigToolSystem::Err(std::string_view utf8) {
  Write(STD_ERROR_HANDLE, WideFromUtf8(utf8));
}

void TWinConfigToolSystem::OutAddress(std::string_view ansi) {
  Write(STD_OUTPUT_HANDLE, WideFromAnsi(ansi, CP_ACP));
}

TConfigToolSystem::TFailure TWinConfigToolSystem::Failure(std::uint32_t error) const {
  return {ErrorText(error, chinese_),
          error == ERROR_ACCESS_DENIED || error == ERROR_PRIVILEGE_NOT_HELD};
}
