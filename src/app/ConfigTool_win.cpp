// CompanyMainConfig.exe: the tool's contact with Windows.
#include <windows.h>

#include <string>
#include <vector>

#include "app/ConfigTool.h"
#include "common/CodePage_win.h"
#include "common/Handles_win.h"

namespace {

std::string LastError() {
  wchar_t* text = nullptr;
  const DWORD code = GetLastError();
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = text != nullptr ? Utf8FromWide(text) : "";
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) message.pop_back();
  return message + " (" + std::to_string(code) + ")";
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
  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }
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

  bool MakeFolder(const std::string& path) override {
    const std::wstring wide = ExtendedLengthPath(WideFromUtf8(path));
    CreateDirectoryW(wide.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& error) override {
    // Beside the file, so that the move is a rename on the same volume.
    const std::string temporary = path + ".new-" + std::to_string(GetCurrentProcessId());
    {
      HANDLE raw = OpenFile(temporary, GENERIC_WRITE, CREATE_ALWAYS);
      if (raw == INVALID_HANDLE_VALUE) {
        error = LastError();
        return false;
      }
      const TUniqueHandle file(raw);
      DWORD written = 0;
      if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) ||
          written != bytes.size() || !FlushFileBuffers(file.Get())) {
        error = LastError();
        DeleteFileW(ExtendedLengthPath(WideFromUtf8(temporary)).c_str());
        return false;
      }
    }
    if (!MoveFileExW(ExtendedLengthPath(WideFromUtf8(temporary)).c_str(),
                     ExtendedLengthPath(WideFromUtf8(path)).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      error = LastError();
      DeleteFileW(ExtendedLengthPath(WideFromUtf8(temporary)).c_str());
      return false;
    }
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

  void Out(std::string_view utf8) override { Write(STD_OUTPUT_HANDLE, WideFromUtf8(utf8)); }
  void Err(std::string_view utf8) override { Write(STD_ERROR_HANDLE, WideFromUtf8(utf8)); }
  // The launcher widens the address with the ANSI code page before handing it over.
  void OutAddress(std::string_view ansi) override {
    Write(STD_OUTPUT_HANDLE, WideFromAnsi(ansi, CP_ACP));
  }
  // A console shows it as text; a pipe or a file gets UTF-8 anyway.
  void OutUtf8(std::string_view utf8) override { Out(utf8); }

 private:
  TWinCodePage codePage_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  TWinConfigToolSystem system;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8FromWide(argv[i]));
  return RunConfigTool(args, system);
}
