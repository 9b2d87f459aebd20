#include <gtest/gtest.h>

#include <string>

#include "common/Base64.h"

namespace {

std::string Bytes(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>((i * 37 + 11) & 0xFF);
  return s;
}

struct EncodeCase {
  std::string input;
  std::string expected;
};

TEST(Base64Encode, KnownValues) {
  const EncodeCase cases[] = {
      {"", ""},
      {"5.0.0.0", "NS4wLjAuMA=="},
      {"R01", "UjAx"},
      {"D1", "RDE="},
      {"1234567890", "MTIzNDU2Nzg5MA=="},
      {std::string("\xFF\xFE\x00", 3), "//4A"},
      {"\xCE\xDE", "zt4="},
  };
  for (const auto& c : cases) EXPECT_EQ(Base64Encode(c.input), c.expected) << c.input;
}

// Every 76 characters are followed by CR LF, at the very end too; shorter output has none.
TEST(Base64Encode, LineBreaksAfterEvery76Characters) {
  struct Case {
    std::size_t inputBytes;
    std::size_t charsBeforeFirstBreak;  // 0: no break at all
    std::size_t totalLength;
  };
  const Case cases[] = {
      {54, 0, 72}, {55, 76, 78}, {56, 76, 78}, {57, 76, 78}, {58, 76, 82}, {114, 76, 156},
  };
  for (const auto& c : cases) {
    const std::string out = Base64Encode(Bytes(c.inputBytes));
    EXPECT_EQ(out.size(), c.totalLength) << c.inputBytes;
    if (c.charsBeforeFirstBreak == 0) {
      EXPECT_EQ(out.find('\r'), std::string::npos) << c.inputBytes;
    } else {
      EXPECT_EQ(out.substr(c.charsBeforeFirstBreak, 2), "\r\n") << c.inputBytes;
    }
  }
  const std::string twoLines = Base64Encode(Bytes(114));
  EXPECT_EQ(twoLines.substr(154), "\r\n");
  EXPECT_EQ(twoLines.find('\r', 78), 154u);
}

TEST(Base64Decode, SkipsCharactersOutsideTheAlphabet) {
  const std::string plain = Base64Encode(Bytes(200));
  std::string noisy;
  for (std::size_t i = 0; i < plain.size(); ++i) {
    noisy += plain[i];
    if (i % 3 == 0) noisy += " ";
    if (i % 7 == 0) noisy += "*\r\n";
    if (i % 11 == 0) noisy += "\xE4\xB8\xAD";
  }
  EXPECT_EQ(Base64Decode(noisy), Bytes(200));
  EXPECT_EQ(Base64Decode("  ***\r\n"), "");
  // The URL-safe alphabet's "-" and "_" are not ours: skipped like any other stranger.
  EXPECT_EQ(Base64Decode("Uj-Ax_"), "R01");
  EXPECT_EQ(Base64Decode("-_-_"), "");
  EXPECT_EQ(Base64Decode("aHR0cDovL2V4YW1wbGUuY29tLyA="), "http://example.com/ ");
}

TEST(Base64Decode, RoundTripsEveryLength) {
  for (std::size_t n = 0; n < 300; ++n) {
    ASSERT_EQ(Base64Decode(Base64Encode(Bytes(n))), Bytes(n)) << n;
    ASSERT_EQ(Base64Decode(Base64Encode(Bytes(n))), Bytes(n)) << n;
  }
}

TEST(Base64Decode, PadInsideTheDataDoesNotStopDecoding) {
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"UQ==UjAx", "QR01"},
      {"UjA=UjAx", "R0R01"},
      {"UjAxUjAx", "R01R01"},
      // Incomplete or malformed groups: whole bytes only, nothing read past the input.
      {"UjAxU", "R01"},
      {"UjAxUj", "R01R"},
      {"UjAxUjA", "R01R0"},
      {"UjAxUj=", "R01R"},
      {"=", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Base64Decode(c.input), c.expected) << c.input;
}

}  // namespace
