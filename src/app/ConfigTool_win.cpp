// CompanyMainConfig.exe: the tool's contact with Windows.
#include <windows.h>

#include <cstddef>
#include <cwchar>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/ConfigTool.h"
#include "app/MessageCatalog.h"
#include "common/CodePage_win.h"
#include "common/Handles_win.h"
#include "common/PublicFunction.h"

// po/zh_CN.po compiled by msgfmt, made part of the program at build time.
extern const char kChineseCatalog[];
extern const std::size_t kChineseCatalog_SIZE;

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
  // Not "(" + std::to_string(code): GCC 12 takes that for an overlapping copy (-Wrestrict).
  std::string text = "(";
  text += std::to_string(code);
  text += ')';
  return text;
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

class TWinConfigToolSystem final : public TConfigToolSystem {
 public:
  TWinConfigToolSystem()
      : chinese_(UserSpeaksChinese()),
        catalog_(chinese_ ? std::string_view(kChineseCatalog, kChineseCatalog_SIZE)
                          : std::string_view()) {}

  std::string Translate(const char* english) override {
    return std::string(catalog_.Translate(english));
  }
  [[nodiscard]] std::string ProgramName() const override { return "CompanyMainConfig.exe"; }
  std::string ElevationRemedy() override {
    return Translate(
        "Run CompanyMainConfig.exe as an administrator (from a command prompt "
        "started with \"Run as administrator\").");
  }
  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }
  // The arguments come as UTF-8 of the wide command line: text already.
  std::optional<std::string> ArgumentText(const std::string& argument) override { return argument; }
  std::string PathText(const std::string& path) override { return path; }

  [[nodiscard]] char PathSeparator() const override { return '\\'; }
  std::string ProgramFolder() override { return TSysOper::GetAppPath(); }
  std::string FullFolder(const std::string& folder) override {
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
  // The Config folder is a folder of its own on Windows.
  std::string RealPath(const std::string& path) override { return path; }

  bool FileExists(const std::string& path) override { return TFileOper::FileExists(path); }
  TRead ReadIniValues(const std::string& path, std::string_view section,
                      const std::vector<std::string>& keys) override {
    TRead read;
    const DWORD attributes = GetFileAttributesW(ExtendedLengthPath(WideFromUtf8(path)).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return read;
      read.state = TRead::State::Unreadable;
      read.failure = Failure(error);
      return read;
    }
    read.state = TRead::State::Unreadable;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      read.failure = Failure(ERROR_DIRECTORY);
      return read;
    }
    if (ReadAsLauncher(read, path, section, keys, codePage_)) return read;
    HANDLE raw = OpenFile(path, GENERIC_READ, OPEN_EXISTING);
    const DWORD error = raw == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_READ_FAULT;
    if (raw != INVALID_HANDLE_VALUE) CloseHandle(raw);
    read.failure = Failure(error);
    return read;
  }

  bool ReadInput(const std::string& path, std::size_t limit, std::string& bytes,
                 TFailure& failure) override {
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

  std::optional<std::string> FileStart(const std::string& path) override {
    HANDLE raw = OpenFile(path, GENERIC_READ, OPEN_EXISTING);
    if (raw == INVALID_HANDLE_VALUE) return std::nullopt;
    const TUniqueHandle file(raw);
    std::string start(4, '\0');
    DWORD n = 0;
    if (!ReadFile(file.Get(), start.data(), static_cast<DWORD>(start.size()), &n, nullptr))
      return std::nullopt;
    start.resize(n);
    return start;
  }

  // The folder's access list is the installer's (Program Files lets every user read); the
  // tool does not judge it.
  std::optional<TClosed> ClosedToOthers(const std::string&) override { return std::nullopt; }

  std::string LauncherVersion(const std::string& folder) override {
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

  bool MakeFolder(const std::string& path, TFailure& failure) override {
    // A new folder inherits the access list of the one it is made in.
    const std::wstring wide = ExtendedLengthPath(WideFromUtf8(path));
    const DWORD error = CreateDirectoryW(wide.c_str(), nullptr) ? ERROR_SUCCESS : GetLastError();
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      return true;
    failure = Failure(error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error);
    return false;
  }

  bool ReplaceFile(const std::string& path, std::string_view bytes, TFailure& failure) override {
    // Beside the file, so that the move is a rename on the same volume.
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
      if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) ||
          written != bytes.size() || !FlushFileBuffers(file.Get())) {
        failure = Failure(GetLastError());
        DeleteFileW(wideTemporary.c_str());
        return false;
      }
    }
    if (!MoveFileExW(wideTemporary.c_str(), ExtendedLengthPath(WideFromUtf8(path)).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      failure = Failure(GetLastError());
      DeleteFileW(wideTemporary.c_str());
      return false;
    }
    return true;
  }

  bool RegistryTexts(const std::string& key, const std::vector<std::string>& names,
                     std::map<std::string, std::string>& texts, TFailure& failure) override {
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

  void Out(std::string_view utf8) override { Write(STD_OUTPUT_HANDLE, WideFromUtf8(utf8)); }
  void Err(std::string_view utf8) override { Write(STD_ERROR_HANDLE, WideFromUtf8(utf8)); }
  // The launcher widens the address with the ANSI code page before handing it over.
  void OutAddress(std::string_view ansi) override {
    Write(STD_OUTPUT_HANDLE, WideFromAnsi(ansi, CP_ACP));
  }
  // A console shows it as text; a pipe or a file gets UTF-8 anyway.
  void OutUtf8(std::string_view utf8) override { Out(utf8); }

 private:
  TFailure Failure(DWORD error) const {
    return {ErrorText(error, chinese_),
            error == ERROR_ACCESS_DENIED || error == ERROR_PRIVILEGE_NOT_HELD};
  }

  bool chinese_;
  TMessageCatalog catalog_;
  TWinCodePage codePage_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  TWinConfigToolSystem system;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8FromWide(argv[i]));
  return RunConfigTool(args, system);
}
