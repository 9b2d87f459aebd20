#pragma once

#include <string>
#include <string_view>

#include "common/CodePage.h"

// The system's ANSI code page (CP_ACP), as Windows converts it.
class TWinCodePage final : public TCodePage {
 public:
  [[nodiscard]] std::u16string ToUtf16(std::string_view ansi) const override;
  [[nodiscard]] std::string FromUtf16(std::u16string_view units) const override;
  // Lead bytes as the same code page tells them.
  [[nodiscard]] std::size_t CompleteCharacters(std::string_view text) const override;
};

// Conversions at the boundary to the wide Windows functions. Bad input never fails: a bad
// UTF-8 sequence becomes U+FFFD, a character missing from the code page becomes "?".
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);
std::wstring WideFromAnsi(std::string_view ansi, unsigned codePage);
// exact is set to false when a character had to be replaced.
std::string AnsiFromWide(std::wstring_view wide, unsigned codePage, bool* exact = nullptr);

// A full path as the wide file functions take it beyond MAX_PATH: with the "\\?\" prefix
// (and "\\?\UNC\" for a share) once it is long; shorter paths stay as they are.
std::wstring ExtendedLengthPath(std::wstring path);
