#pragma once

#include <string>
#include <string_view>

#include "common/CodePage.h"

// Latin-1 as a code page for tests: every byte is a character, and there is no "无".
class Latin1CodePage : public TCodePage {
 public:
  [[nodiscard]] std::u16string ToUtf16(std::string_view ansi) const override {
    std::u16string out;
    for (char c : ansi) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
  }
  [[nodiscard]] std::string FromUtf16(std::u16string_view units) const override {
    std::string out;
    for (char16_t u : units) out += u < 0x100 ? static_cast<char>(u) : '?';
    return out;
  }
};
