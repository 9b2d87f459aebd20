// The POSIX code page: what iconv and the UTF-8 decoder make of ANSI text, and back.
#include <gtest/gtest.h>

#include "common/CodePage_posix.h"

namespace {

struct ToUtf16Case {
  const char* codeset;
  std::string ansi;
  std::u16string utf16;
};

TEST(PosixCodePageTest, ToUtf16) {
  const std::vector<ToUtf16Case> cases = {
      // The C locale's ASCII is read as UTF-8.
      {"ANSI_X3.4-1968", "a\xE6\x97\xA0", u"a\u65E0"},
      {"utf8", "\xF0\xA0\x80\x80", u"\U00020000"},
      // One U+FFFD per maximal ill-formed subpart; what follows is still converted.
      {"UTF-8",
       "a\xFF"
       "b",
       u"a\uFFFDb"},
      {"UTF-8",
       "\xE6\x97"
       "b",
       u"\uFFFDb"},
      {"UTF-8", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
      {"UTF-8", "\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong
      {"UTF-8", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"UTF-8", "\xE6\x97", u"\uFFFD"},  // cut at the end
      // Code page 936, as Windows maps it.
      {"GBK", "\xCE\xDE \xD6\xD0", u"\u65E0 \u4E2D"},
      {"gb2312", "\x80", u"\u20AC"},
      {"GBK", "\xAA\xA1\xFE\xFE", u"\uE000\uE4C5"},  // user-defined areas
      {"GBK",
       "\xFF"
       "a\xCE",
       u"?a?"},
      {"GBK",
       "\x81\x7F"
       "b",
       u"?\x7F"
       "b"},                        // 0x7F is no trail byte
      {"GBK", "\xA2\xE3z", u"?z"},  // a pair GBK leaves unmapped goes as one
      // GB18030 reaches beyond the Basic Multilingual Plane.
      {"GB18030", "\x95\x32\x82\x36\xCE\xDE", u"\U00020000\u65E0"},
      {"GB18030", "\xFF\x95\x32", u"??2"},  // a four-byte form cut short
      {"ISO-8859-1", "\xE9t\xE9", u"\u00E9t\u00E9"},
      {"no-such-codeset", "ab\xC3", u"ab?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.codeset) + " " + c.ansi);
    EXPECT_EQ(TPosixCodePage(c.codeset).ToUtf16(c.ansi), c.utf16);
  }
}

TEST(PosixCodePageTest, FromUtf16) {
  const std::vector<ToUtf16Case> cases = {
      {"UTF-8", "\xE6\x97\xA0 \xF0\xA0\x80\x80", u"\u65E0 \U00020000"},
      {"UTF-8", "?x", u"\xD800x"},  // a lone surrogate has no form
      {"ANSI_X3.4-1968", "\xE6\x97\xA0", u"\u65E0"},
      {"GBK", "\xCE\xDE\x80?x", u"\u65E0\u20AC\uD55Cx"},  // no Hangul in 936
      {"GB18030", "\x95\x32\x82\x36", u"\U00020000"},
      {"GBK", "??", u"\U00020000\U00020000"},  // one "?" per character, not per unit
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codeset);
    EXPECT_EQ(TPosixCodePage(c.codeset).FromUtf16(c.utf16), c.ansi);
  }
}

TEST(PosixCodePageTest, UserCodesetComesFromTheEnvironmentNotTheProcessLocale) {
  // LC_ALL before LC_CTYPE before LANG; a locale that is not installed falls back to C.
  const struct {
    const char* lcAll;
    const char* lcCtype;
    const char* lang;
    TPosixCodePage::Kind kind;
  } cases[] = {
      {"C.UTF-8", nullptr, nullptr, TPosixCodePage::Kind::Utf8},
      {"C", nullptr, "zh_CN.GBK", TPosixCodePage::Kind::Utf8},
      {"", nullptr, "POSIX", TPosixCodePage::Kind::Utf8},
      {"xx_NO.SUCH-LOCALE", nullptr, nullptr, TPosixCodePage::Kind::Utf8},
      {"xx_NO.UTF-8@euro", nullptr, nullptr, TPosixCodePage::Kind::Utf8},
      {nullptr, nullptr, nullptr, TPosixCodePage::Kind::Utf8},
      {nullptr, "C.utf8", "xx_NO.SUCH-LOCALE", TPosixCodePage::Kind::Utf8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.lcAll ? c.lcAll : "-") + " " + (c.lcCtype ? c.lcCtype : "-") + " " +
                 (c.lang ? c.lang : "-"));
    for (const auto& [name, value] :
         {std::pair{"LC_ALL", c.lcAll}, {"LC_CTYPE", c.lcCtype}, {"LANG", c.lang}}) {
      if (value != nullptr) {
        setenv(name, value, 1);
      } else {
        unsetenv(name);
      }
    }
    EXPECT_EQ(TPosixCodePage(UserAnsiCodeset()).GetKind(), c.kind);
  }
  unsetenv("LC_ALL");
  unsetenv("LC_CTYPE");
  unsetenv("LANG");
}

}  // namespace
