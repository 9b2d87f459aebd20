#include "tool/ToolSystem_win.h"

#include <windows.h>
// The tool's own ReplaceFile, not the macro that names Windows' ReplaceFileW.
#undef ReplaceFile

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

// The writer lock: the lock file opened for this process alone, gone when the handle closes
// (also when the process dies).
class TFileWriterLock final : public TWinConfigToolSystem::TWriterLock {
 public:
  explicit TFileWriterLock(TUniqueHandle file) : file_(std::move(file)) {}

 private:
  TUniqueHandle file_;
};

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

std::unique_ptr<TWinConfigToolSystem::TWriterLock> TWinConfigToolSystem::LockForWriting(
    const std::string& folder, int waitSeconds, TFailure& failure) {
  const std::wstring path =
      ExtendedLengthPath(WideFromUtf8(Concat({folder, "\\", kWriterLockName})));
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    HANDLE raw =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (raw != INVALID_HANDLE_VALUE) return std::make_unique<TFileWriterLock>(TUniqueHandle(raw));
    const DWORD error = GetLastError();
    const ULONGLONG waited = GetTickCount64() - start;
    // Another writer has the file open; a file it is letting go of refuses access for a moment.
    const bool held = error == ERROR_SHARING_VIOLATION;
    const bool leaving = error == ERROR_ACCESS_DENIED && waited < 500;
    if (!held && !leaving) {
      failure = Failure(error);
      // Something at the lock's path that cannot be opened is named, not the file to write:
      // a folder there gives "Access denied" too.
      const DWORD attributes = GetFileAttributesW(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
          failure = {Translate("not a regular file"), false};
        failure.lock = true;
      }
      return nullptr;
    }
    if (waited >= static_cast<ULONGLONG>(waitSeconds) * 1000) {
      failure.held = true;
      return nullptr;
    }
    Sleep(20);
  }
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

bool TWinConfigToolSystem::MakeFolder(const std::string& path, TFailure& failure) {
  // A new folder inherits the access list of the one it is made in.
  const std::wstring wide = ExtendedLengthPath(WideFromUtf8(path));
  const DWORD error = CreateDirectoryW(wide.c_str(), nullptr) ? ERROR_SUCCESS : GetLastError();
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return true;
  failure = Failure(error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error);
  return false;
}

bool TWinConfigToolSystem::ReplaceFile(const std::string& path, std::string_view bytes,
                                       TFailure& failure) {
  // Beside the file, so that the move is a rename on the same volume. Those a killed writer
  // left go first: with the lock held, no other writer's is there.
  WIN32_FIND_DATAW found{};
  const std::wstring wide = ExtendedLengthPath(WideFromUtf8(path));
  const std::size_t slash = wide.find_last_of(L'\\') + 1;
  const std::wstring left = wide.substr(slash) + L".new-";
  HANDLE raw = FindFirstFileW((wide + L".new-*").c_str(), &found);
  for (const TUnique<HANDLE, FindClose> search(raw == INVALID_HANDLE_VALUE ? nullptr : raw);
       search.Valid();) {
    if (std::wstring_view(found.cFileName).starts_with(left) &&
        (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      DeleteFileW((wide.substr(0, slash) + found.cFileName).c_str());
    }
    if (!FindNextFileW(search.Get(), &found)) break;
  }
  const std::string temporary = path + ".new-" + std::to_string(GetCurrentProcessId());
  const std::wstring wideTemporary = ExtendedLengthPath(WideFromUtf8(temporary));
  {
    HANDLE raw = OpenFile(temporary, GENERIC_WRITE, CREATE_ALWAYS);
    if (raw == INVALID_HANDLE_VALUE) {
      failure = Failure(GetLastError());
      return false;
    }
    const TUniqueHandle file(raw);
    DWORD written = 0;
    if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(file.Get())) {
      failure = Failure(GetLastError());
      DeleteFileW(wideTemporary.c_str());
      return false;
    }
  }
  if (!MoveFileExW(wideTemporary.c_str(), wide.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    failure = Failure(GetLastError());
    DeleteFileW(wideTemporary.c_str());
    return false;
  }
  return true;
}

bool TWinConfigToolSystem::RemoveFile(const std::string& path, TFailure& failure) {
  if (DeleteFileW(ExtendedLengthPath(WideFromUtf8(path)).c_str())) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) return true;
  failure = Failure(error);
  return false;
}

// A change on the paths; the lock held in the Config folder.
class TWinConfigToolSystem::TWinChange final : public TConfigToolSystem::TChange {
 public:
  TWinChange(TWinConfigToolSystem& system, std::string config)
      : system_(system), config_(std::move(config)) {}
  TFileBytes Read(std::string_view name) override {
    return system_.Files().ReadWhole(Path(name), kChangeableFileMax);
  }
  bool Lock(int waitSeconds, TFailure& failure) override {
    if (!system_.MakeFolder(config_, failure)) {
      failure.folder = true;
      return false;
    }
    lock_ = system_.LockForWriting(config_, waitSeconds, failure);
    return lock_ != nullptr;
  }
  bool Replace(std::string_view name, std::string_view bytes, TFailure& failure) override {
    return system_.ReplaceFile(Path(name), bytes, failure);
  }
  bool Remove(std::string_view name, TFailure& failure) override {
    return system_.RemoveFile(Path(name), failure);
  }
  std::string Shown(std::string_view name) override { return Path(name); }

 private:
  std::string Path(std::string_view name) { return Concat({config_, "\\", name}); }

  TWinConfigToolSystem& system_;
  std::string config_;
  std::unique_ptr<TWriterLock> lock_;
};

std::unique_ptr<TConfigToolSystem::TChange> TWinConfigToolSystem::BeginChange(
    const std::string& config, const std::vector<std::string>&, TFailure&) {
  return std::make_unique<TWinChange>(*this, config);
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
