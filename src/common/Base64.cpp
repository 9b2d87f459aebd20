#include "common/Base64.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kLineLength = 76;

// Alphabet value of each byte; -1 for bytes outside the alphabet. "=" is handled apart.
constexpr std::array<std::int8_t, 256> MakeDecodeTable() {
  std::array<std::int8_t, 256> table{};
  table.fill(-1);
  for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  }
  return table;
}
constexpr auto kDecodeTable = MakeDecodeTable();

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  const std::size_t groups = (bytes.size() + 2) / 3;
  out.reserve(groups * 4 + (groups * 4 / kLineLength) * 2);
  std::size_t lineCounter = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (n > 1) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (n > 2) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 0x3F];
    out += kAlphabet[(v >> 12) & 0x3F];
    out += n > 1 ? kAlphabet[(v >> 6) & 0x3F] : '=';
    out += n > 2 ? kAlphabet[v & 0x3F] : '=';
    // The counter goes over 75 exactly after every 76 characters, the last group included.
    lineCounter += 4;
    if (lineCounter > kLineLength - 1) {
      out += "\r\n";
      lineCounter = 0;
    }
  }
  return out;
}

std::string Base64Decode(std::string_view text) {
  // Keeping only the characters of the alphabet and "=" and decoding them four at a time
  // gives the same bytes as reading them in passes of 76: 76 is a whole number of groups.
  std::string collected;
  collected.reserve(text.size());
  for (char c : text) {
    if (c == '=' || kDecodeTable[static_cast<unsigned char>(c)] >= 0) collected += c;
  }

  std::string out;
  out.reserve(collected.size() / 4 * 3 + 2);
  auto value = [](char c) -> std::uint32_t {
    const auto v = kDecodeTable[static_cast<unsigned char>(c)];
    return v < 0 ? 0 : static_cast<std::uint32_t>(v);  // "=" counts as zero bits
  };
  for (std::size_t i = 0; i < collected.size(); i += 4) {
    const std::size_t n = std::min<std::size_t>(4, collected.size() - i);
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = (v << 6) | (k < n ? value(collected[i + k]) : 0);
    const char b0 = static_cast<char>((v >> 16) & 0xFF);
    const char b1 = static_cast<char>((v >> 8) & 0xFF);
    const char b2 = static_cast<char>(v & 0xFF);
    if (n < 4) {
      // An incomplete last group gives the whole bytes its characters hold.
      if (n >= 2) out += b0;
      if (n == 3 && collected[i + 2] != '=') out += b1;
      continue;
    }
    const bool pad3 = collected[i + 2] == '=';
    const bool pad4 = collected[i + 3] == '=';
    out += b0;
    if (pad3 && pad4) continue;
    out += b1;
    if (pad4) continue;
    out += b2;
  }
  return out;
}
