#include "common/CodePage_win.h"

#include <windows.h>

#include <climits>
#include <stdexcept>

namespace {

// The one code page of TWinCodePage, for its conversions and its lead bytes alike: the system's
// ANSI code page, which the profile functions, the paths and the address the program hands on
// are converted with as well. (The thread's code page follows the user's formats, which may
// name another language.)
constexpr UINT kAnsiCodePage = CP_ACP;

int CheckedLength(std::size_t size) {
  // The conversion functions count in int; longer texts never occur in this program.
  if (size > static_cast<std::size_t>(INT_MAX)) throw std::length_error("text too long");
  return static_cast<int>(size);
}

std::wstring ToWide(std::string_view bytes, UINT codePage) {
  if (bytes.empty()) return {};
  const int length = CheckedLength(bytes.size());
  const int units = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
  if (units <= 0) return {};
  std::wstring out(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), length, out.data(), units);
  return out;
}

std::string FromWide(std::wstring_view wide, UINT codePage, bool* exact) {
  if (exact != nullptr) *exact = true;
  if (wide.empty()) return {};
  const int length = CheckedLength(wide.size());
  // UTF-8 and UTF-7 reject the default-character arguments.
  const bool canReport = codePage != CP_UTF8 && codePage != CP_UTF7 && exact != nullptr;
  BOOL usedDefault = FALSE;
  const int bytes = WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr,
                                        canReport ? &usedDefault : nullptr);
  if (bytes <= 0) {
    if (exact != nullptr) *exact = false;
    return {};
  }
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), length, out.data(), bytes, nullptr, nullptr);
  if (canReport && usedDefault) *exact = false;
  return out;
}

}  // namespace

std::u16string TWinCodePage::ToUtf16(std::string_view ansi) const {
  const std::wstring wide = ToWide(ansi, kAnsiCodePage);
  return std::u16string(wide.begin(), wide.end());
}

std::string TWinCodePage::FromUtf16(std::u16string_view units) const {
  const std::wstring wide(units.begin(), units.end());
  return FromWide(wide, kAnsiCodePage, nullptr);
}

std::size_t TWinCodePage::CompleteCharacters(std::string_view text) const {
  std::size_t end = 0;
  while (end < text.size()) {
    const bool lead = IsDBCSLeadByteEx(kAnsiCodePage, static_cast<BYTE>(text[end])) != FALSE;
    const std::size_t next = end + (lead ? 2 : 1);
    if (next > text.size()) break;
    end = next;
  }
  return end;
}

std::wstring ExtendedLengthPath(std::wstring path) {
  // Below the shortest limit of the file functions (a folder may hold 248 characters).
  constexpr std::size_t kPlainLimit = MAX_PATH - 12;
  if (path.size() < kPlainLimit || path.starts_with(L"\\\\?\\")) return path;
  if (path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

std::wstring WideFromUtf8(std::string_view utf8) {
  return ToWide(utf8, CP_UTF8);
}

std::string Utf8FromWide(std::wstring_view wide) {
  return FromWide(wide, CP_UTF8, nullptr);
}

std::wstring WideFromAnsi(std::string_view ansi, unsigned codePage) {
  return ToWide(ansi, codePage);
}

std::string AnsiFromWide(std::wstring_view wide, unsigned codePage, bool* exact) {
  return FromWide(wide, codePage, exact);
}
