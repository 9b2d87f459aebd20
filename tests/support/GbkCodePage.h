#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "common/CodePage.h"

// GBK as a code page for tests, with ASCII and only the Chinese characters the tests use, at
// their real GBK bytes: a stored Chinese value is other bytes than its UTF-8.
class GbkCodePage : public TCodePage {
 public:
  [[nodiscard]] std::u16string ToUtf16(std::string_view ansi) const override {
    std::u16string out;
    for (std::size_t i = 0; i < ansi.size(); ++i) {
      if (static_cast<unsigned char>(ansi[i]) < 0x80) {
        out += static_cast<char16_t>(ansi[i]);
        continue;
      }
      char16_t found = u'?';
      for (const auto& [unit, bytes] : kCharacters)
        if (ansi.substr(i, 2) == bytes) found = unit;
      out += found;
      ++i;  // a lead byte and its trail byte
    }
    return out;
  }
  [[nodiscard]] std::string FromUtf16(std::u16string_view units) const override {
    std::string out;
    for (const char16_t unit : units) {
      if (unit < 0x80) {
        out += static_cast<char>(unit);
        continue;
      }
      std::string_view bytes = "?";
      for (const auto& [known, gbk] : kCharacters)
        if (known == unit) bytes = gbk;
      out += bytes;
    }
    return out;
  }
  [[nodiscard]] std::size_t CompleteCharacters(std::string_view text) const override {
    std::size_t i = 0;
    while (i < text.size()) {
      const std::size_t length = static_cast<unsigned char>(text[i]) < 0x80 ? 1 : 2;
      if (i + length > text.size()) break;
      i += length;
    }
    return i;
  }

 private:
  static constexpr std::pair<char16_t, std::string_view> kCharacters[] = {
      {u'酒', "\xBE\xC6"}, {u'店', "\xB5\xEA"}, {u'备', "\xB1\xB8"}, {u'注', "\xD7\xA2"}};
};
