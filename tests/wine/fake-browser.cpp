// Stands in for the web browser: appends its raw command line to C:\browser.log, as hex of
// the wide line in UTF-8 and hex of the ANSI line, one launch per line.
#include <windows.h>

#include <string>

namespace {

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Utf8(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::string line =
      "W " + Hex(Utf8(GetCommandLineW())) + " A " + Hex(GetCommandLineA()) + "\n";
  HANDLE log = CreateFileW(L"C:\\browser.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(log);
  return ok && written == line.size() ? 0 : 1;
}
