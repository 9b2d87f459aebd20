#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/CodePage.h"

// UTF-16 to UTF-8. A surrogate pair becomes one 4-byte sequence; a lone surrogate, which
// has no UTF-8 form, becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);

// UTF-8 to UTF-16 as Windows converts it: one U+FFFD for each maximal ill-formed subpart
// (overlong forms, encoded surrogates and anything above U+10FFFF are ill-formed), and the
// text after it is still converted.
std::u16string Utf8ToUtf16(std::string_view utf8);

// How many bytes at the end of utf8 begin a sequence that the bytes present do not complete
// (0 to 3). Cutting them off leaves a text whose conversion is that of a whole text.
std::size_t Utf8IncompleteTail(std::string_view utf8);

// UTF-16 code units of little- or big-endian bytes; a stray last byte is no unit.
std::u16string Utf16FromBytes(std::string_view bytes, bool bigEndian);
// And back: the units as little- or big-endian bytes.
std::string Utf16ToBytes(std::u16string_view units, bool bigEndian);

// UTF-8 taken as a code page: what a Unicode file's values are read into where they must stay
// exactly as they are (the configuration tool keeps them), whatever the session's code page.
class TUtf8CodePage final : public TCodePage {
 public:
  [[nodiscard]] std::u16string ToUtf16(std::string_view ansi) const override {
    return Utf8ToUtf16(ansi);
  }
  [[nodiscard]] std::string FromUtf16(std::u16string_view units) const override {
    return Utf16ToUtf8(units);
  }
  [[nodiscard]] std::size_t CompleteCharacters(std::string_view text) const override {
    return text.size() - Utf8IncompleteTail(text);
  }
};
