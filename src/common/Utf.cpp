#include "common/Utf.h"

#include <cstdint>

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUnit(std::u16string& out, std::uint32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

// Bytes a sequence of this lead byte spans; 1 for a byte that starts no sequence.
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size() * 3);
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::uint32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out += static_cast<char16_t>(c);
      ++i;
      continue;
    }
    const std::size_t length = SequenceLength(c);
    if (length == 1) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    std::uint32_t cp = c & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
    // The second byte's range also rules out overlong forms, surrogates and > U+10FFFF.
    unsigned lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    unsigned hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    std::size_t j = i + 1;
    bool good = true;
    for (; j < i + length; ++j) {
      if (j >= s.size()) {
        good = false;
        break;
      }
      const auto b = static_cast<unsigned char>(s[j]);
      if (b < lo || b > hi) {
        good = false;
        break;
      }
      lo = 0x80;
      hi = 0xBF;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (good) {
      AppendUnit(out, cp);
    } else {
      out += u'\uFFFD';
    }
    i = j;
  }
  return out;
}

std::size_t Utf8IncompleteTail(std::string_view utf8) {
  // A sequence is at most 4 bytes, so an unfinished one starts in the last 3.
  for (std::size_t back = 1; back <= 3 && back <= utf8.size(); ++back) {
    const auto c = static_cast<unsigned char>(utf8[utf8.size() - back]);
    if (c < 0x80) return 0;
    if (c >= 0xC0) return SequenceLength(c) > back ? back : 0;
  }
  return 0;
}

std::u16string Utf16FromBytes(std::string_view bytes, bool bigEndian) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    units += static_cast<char16_t>(bigEndian ? (first << 8) | second : first | (second << 8));
  }
  return units;
}

std::string Utf16ToBytes(std::u16string_view units, bool bigEndian) {
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (const char16_t unit : units) {
    const auto low = static_cast<char>(unit & 0xFF);
    const auto high = static_cast<char>(unit >> 8);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}
