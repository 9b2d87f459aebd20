#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The ANSI code page of the user's locale, as the platform converts it.
class TCodePage {
 public:
  virtual ~TCodePage() = default;
  // Converts ANSI text to UTF-16. Never fails: a bad sequence becomes a replacement
  // character ("?" for double-byte code pages, U+FFFD for UTF-8) and the rest is converted.
  [[nodiscard]] virtual std::u16string ToUtf16(std::string_view ansi) const = 0;
  // Converts UTF-16 to ANSI text. Never fails: a character the code page lacks becomes "?".
  // Used for the program's own texts that must be stored as ANSI (and for UTF-16 INI files).
  [[nodiscard]] virtual std::string FromUtf16(std::u16string_view units) const = 0;
  // The length of the longest start of text (which begins at a character) that does not end
  // inside a multi-byte character: where a value is cut, a character is dropped whole rather
  // than split. Single-byte code pages never split one.
  [[nodiscard]] virtual std::size_t CompleteCharacters(std::string_view text) const {
    return text.size();
  }
};
