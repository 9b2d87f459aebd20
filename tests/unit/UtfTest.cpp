#include <gtest/gtest.h>

#include <string>

#include "common/Utf.h"

namespace {

TEST(Utf16ToUtf8, EveryUnitWidthAndSurrogates) {
  const struct {
    std::u16string input;
    std::string expected;
  } cases[] = {
      {u"A", "A"},
      // The edges of each width: 1, 2, 3 and 4 bytes.
      {u"\u007F", "\x7F"},
      {u"\u0080", "\xC2\x80"},
      {u"\u07FF", "\xDF\xBF"},
      {u"\u0800", "\xE0\xA0\x80"},
      {u"\uFFFF", "\xEF\xBF\xBF"},
      {u"\U00010000", "\xF0\x90\x80\x80"},
      {u"\u65E0", "\xE6\x97\xA0"},
      {u"\U00020000", "\xF0\xA0\x80\x80"},  // a pair is one 4-byte character
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {std::u16string(1, u'\xD800'), "\xEF\xBF\xBD"},  // lone halves have no UTF-8 form
      {std::u16string{u'\xDC00', u'a'},
       "\xEF\xBF\xBD"
       "a"},
      {std::u16string{u'\xD800', u'\xD800', u'\xDC00'}, "\xEF\xBF\xBD\xF0\x90\x80\x80"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf16ToUtf8(c.input), c.expected);
}

TEST(Utf8ToUtf16, OneReplacementPerMaximalBadPart) {
  const struct {
    std::string input;
    std::u16string expected;
  } cases[] = {
      {"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", u"\u007F\u0080\u07FF\u0800\uFFFF"},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"},
      {"a\xFF"
       "b",
       u"a\uFFFDb"},
      {"\xE6\x97"
       "b",
       u"\uFFFDb"},                                       // unfinished
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong
      {"\xE0\x9F\xBF", u"\uFFFD\uFFFD\uFFFD"},            // overlong, three bytes
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF0\x90\x80", u"\uFFFD"},                        // unfinished at the end
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16(c.input), c.expected);
}

TEST(Utf8IncompleteTail, OnlyASequenceTheEndCutsShort) {
  const struct {
    std::string input;
    std::size_t tail;
  } cases[] = {
      {"", 0},
      {"abc", 0},
      {"a\xE6\x97\xA0", 0},
      {"a\xE6\x97", 2},
      {"a\xE6", 1},
      {"\xF0\x90\x80", 3},
      {"\xF0\x90\x80\x80", 0},
      {"\xC2", 1},
      {"a\x97", 0},  // a stray continuation byte is bad already
      {"\xE6"
       "a\x97",
       0},
      {"\xFF", 0},  // no sequence starts with it
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8IncompleteTail(c.input), c.tail);
}

}  // namespace
