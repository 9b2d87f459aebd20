#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "FakeDesktop.h"
#include "common/IniText.h"

namespace {

const FakeCodePage kCodePage;  // a tiny double-byte code page: 无 is CE DE, 中 is D6 D0

std::string Url(std::string_view text) {
  return IniReadString(text, "SysInfo", "CompanyURL", kCodePage);
}

struct IniCase {
  const char* what;
  std::string text;
  std::string expected;  // value of [SysInfo] CompanyURL
};

TEST(IniReadString, FindsValuesLikeThePrivateProfileReader) {
  const IniCase cases[] = {
      {"plain", "[SysInfo]\r\nCompanyURL=aGVsbG8=\r\n", "aGVsbG8="},
      {"names ignore case", "[sysinfo]\ncompanyurl=v\n", "v"},
      {"blanks around names and value", "  [ SysInfo ]  \n \t CompanyURL \t=  a b  \n", "a b"},
      {"every blank the reader knows", "[\v\x1aSysInfo\f]\n\x1a CompanyURL\v=\f v \x1a\n", "v"},
      {"blanks inside a name are part of it", "[Sys Info]\nCompanyURL=x\n", ""},
      {"pad characters stay", "[SysInfo]\nCompanyURL = YQ== \n", "YQ=="},
      {"everything after the first =", "[SysInfo]\nCompanyURL==a=b=\n", "=a=b="},
      {"a line that starts with = has no name", "[SysInfo]\n=CompanyURL=x\nCompanyURL=v\n", "v"},
      {"CR only line ends", "[SysInfo]\rOther=1\rCompanyURL=v\r", "v"},
      {"runs of CR LF", "\r\n\r\n[SysInfo]\r\n\r\r\nCompanyURL=v", "v"},
      {"no final line end", "[SysInfo]\nCompanyURL=last", "last"},
      {"first key wins", "[SysInfo]\nCompanyURL=one\nCompanyURL=two\n", "one"},
      {"only first section is searched",
       "[SysInfo]\nA=1\n[Other]\nCompanyURL=x\n[SysInfo]\nCompanyURL=second\n", ""},
      {"first section is the one found", "[Other]\nCompanyURL=x\n[SysInfo]\nCompanyURL=y\n", "y"},
      {"keys before any section ignored", "CompanyURL=early\n[SysInfo]\n", ""},
      {"missing ] accepted", "[SysInfo\nCompanyURL=v\n", "v"},
      {"name ends at first ]", "[SysInfo]x]\nCompanyURL=v\n", "v"},
      {"line without = is no key", "[SysInfo]\nCompanyURL\nCompanyURL=v\n", "v"},
      {"no inline comments", "[SysInfo]\nCompanyURL=v ; not a comment\n", "v ; not a comment"},
      {"double quotes removed", "[SysInfo]\nCompanyURL=\" v \"\n", " v "},
      {"single quotes removed", "[SysInfo]\nCompanyURL='v'\n", "v"},
      {"quotes go after the blanks around them", "[SysInfo]\nCompanyURL=  'v'  \n", "v"},
      {"only one pair removed", "[SysInfo]\nCompanyURL=\"\"v\"\"\n", "\"v\""},
      {"unmatched quotes kept", "[SysInfo]\nCompanyURL=\"v'\n", "\"v'"},
      {"lone quote kept", "[SysInfo]\nCompanyURL=\"\n", "\""},
      {"value ends at NUL", std::string("[SysInfo]\nCompanyURL=ab\0cd\n", 26), "ab"},
      {"a NUL in a name is part of it", std::string("[SysInfo]\nCompany\0URL=x\n", 24), ""},
      {"0x7F is no blank", "[SysInfo]\nCompanyURL=\x7Fv\x7F\n", "\x7Fv\x7F"},
      {"missing section", "[Other]\nCompanyURL=v\n", ""},
      {"missing key", "[SysInfo]\nCompanyUR=v\n", ""},
      {"empty file", "", ""},
      {"double-byte bytes kept as they are", "[SysInfo]\nCompanyURL=\xCE\xDE\xD6\xD0\n",
       "\xCE\xDE\xD6\xD0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Url(c.text), c.expected) << c.what;
}

// A file marked with a byte order mark reads as if it had been saved in the ANSI code page.
TEST(IniReadString, FilesMarkedWithTheirEncodingReadAsAnsi) {
  const std::string ansi = "[SysInfo]\r\nCompanyURL= \xCE\xDE-\xD6\xD0 \r\n";
  const std::u16string text = u"[SysInfo]\r\nCompanyURL= \u65E0-\u4E2D \r\n";
  std::string le = "\xFF\xFE";
  std::string be = "\xFE\xFF";
  for (char16_t unit : text) {
    le += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    be += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
  }
  const std::string utf8 = "\xEF\xBB\xBF[SysInfo]\r\nCompanyURL= \xE6\x97\xA0-\xE4\xB8\xAD \r\n";
  const IniCase cases[] = {
      {"ANSI", ansi, "\xCE\xDE-\xD6\xD0"},
      {"UTF-8 with its mark", utf8, "\xCE\xDE-\xD6\xD0"},
      {"UTF-16 LE with its mark", le, "\xCE\xDE-\xD6\xD0"},
      {"UTF-16 BE with its mark", be, "\xCE\xDE-\xD6\xD0"},
      {"what the code page lacks becomes ?",
       "\xEF\xBB\xBF[SysInfo]\nCompanyURL=\xED\x95\x9C\xF0\x9F\x98\x80\n", "??"},
      {"bad UTF-8 becomes ?",
       "\xEF\xBB\xBF[SysInfo]\nCompanyURL=a\xFF"
       "b\n",
       "a?b"},
      {"a stray last byte of UTF-16 is dropped", le + "\x41", "\xCE\xDE-\xD6\xD0"},
      {"marks alone", "\xEF\xBB\xBF", ""},
      {"UTF-16 mark alone", "\xFF\xFE", ""},
      {"half a mark is ANSI text", "\xEF\xBB[SysInfo]\nCompanyURL=v\n", ""},
      {"a mark later in the file is text", "[SysInfo]\nCompanyURL=\xEF\xBB\xBFv\n",
       "\xEF\xBB\xBFv"},
      {"UTF-16 without its mark is no INI text",
       std::string("[\0S\0y\0s\0I\0n\0f\0o\0]\0", 18) + "\nCompanyURL=v\n", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Url(c.text), c.expected) << c.what;
}

TEST(IniReadString, ValuesAreCutTo2047BytesWithoutSplittingACharacter) {
  for (std::size_t length : {2046u, 2047u, 2048u, 4096u}) {
    const std::string value(length, 'Q');
    EXPECT_EQ(Url("[SysInfo]\nCompanyURL=" + value + "\n"), value.substr(0, 2047)) << length;
    // The quotes go first, then the cut.
    EXPECT_EQ(Url("[SysInfo]\nCompanyURL=\"" + value + "\"\n"), value.substr(0, 2047)) << length;
  }
  const std::string wide = "\xCE\xDE";
  // 2046 single bytes and then a double-byte character: its lead byte alone would be cut off.
  EXPECT_EQ(Url("[SysInfo]\nCompanyURL=" + std::string(2046, 'Q') + wide + "x\n"),
            std::string(2046, 'Q'));
  // Ending exactly at 2047, or with the character whole, nothing is dropped.
  EXPECT_EQ(Url("[SysInfo]\nCompanyURL=" + std::string(2045, 'Q') + wide + "x\n"),
            std::string(2045, 'Q') + wide);
  // A value no longer than 2047 bytes is never cut, whatever its last byte.
  EXPECT_EQ(Url("[SysInfo]\nCompanyURL=" + std::string(2046, 'Q') + "\xCE\n"),
            std::string(2046, 'Q') + "\xCE");
}

// Several keys in one reading, and whether the section was there at all.
TEST(IniReadValues, ReportsTheSectionAndEveryKey) {
  const std::vector<std::string> keys = {"CompanyNum", "CompanyName", "OtherInfo"};
  const struct {
    const char* what;
    std::string text;
    TIniValues expected;
  } cases[] = {
      {"all there",
       "[Company]\nOtherInfo=o\nCompanyNum=1\ncompanyname=n\n",
       {true, {"1", "n", "o"}}},
      {"blank values are values", "[Company]\nCompanyNum=\nCompanyName=  \n", {true, {"", "", ""}}},
      {"a section without keys", "[Company]\n", {true, {"", "", ""}}},
      {"empty file", "", {false, {"", "", ""}}},
      {"misspelt section", "[Compnay]\nCompanyNum=1\n", {false, {"", "", ""}}},
      {"keys before the section only", "CompanyNum=1\n[Other]\n", {false, {"", "", ""}}},
      {"binary", std::string("\x01\xFF\0[\x80=\x7F", 8), {false, {"", "", ""}}},
      {"the first section only",
       "[Company]\nCompanyNum=1\n[Company]\nCompanyName=n\n",
       {true, {"1", "", ""}}},
      // Windows' profile reader needs no "]": "[Company" opens the section, and a "[" line
      // inside it opens another (Wine's own reader departs from it here).
      {"a header without its ] is the section",
       "[Other]\nCompanyNum=0\n[Company \nCompanyNum=1\n[Company]\nCompanyName=n\n",
       {true, {"1", "", ""}}},
      {"a [ line without ] inside the section ends it",
       "[Company]\nCompanyNum=1\n[note\nCompanyName=n\n",
       {true, {"1", "", ""}}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IniReadValues(c.text, "Company", keys, kCodePage), c.expected) << c.what;
}

// The scanner reads a stream: how the text is split into pieces never changes the result.
TEST(TIniScanner, PiecesOfAnySizeGiveTheSameValues) {
  const std::string texts[] = {
      "[Other]\nCompanyNum=0\r\n  [ company ] \r\n\tCompanyNum = \" 1 \" \r\n"
      "CompanyName='\xCE\xDE'\nOtherInfo=" +
          std::string(3000, 'o') + "  \n[Next]\nx=y",
      "[Company]\r" + std::string(5000, 'N') + "=x\rCompanyNum=" + std::string(2046, '7') +
          "\xCE\xDE  \rCompanyName=\"" + std::string(2100, ' ') + "\"",
      "\xEF\xBB\xBF[Company]\nCompanyName=\xE6\x97\xA0\xF0\x9F\x98\x80\nCompanyNum=\xE6\x97",
      std::string(
          "\xFE\xFF\0[\0C\0o\0m\0p\0a\0n\0y\0]\0\n\0O\0t\0h\0e\0r\0I\0n\0f\0o\0=\xD8\x3D\xDE\x00",
          40),
  };
  const std::vector<std::string> keys = {"CompanyNum", "CompanyName", "OtherInfo"};
  for (const std::string& text : texts) {
    const TIniValues whole = IniReadValues(text, "Company", keys, kCodePage);
    for (std::size_t piece : {1u, 2u, 3u, 5u, 64u, 4093u}) {
      TIniTextDecoder decoder(kCodePage);
      TIniScanner scanner("Company", keys, kCodePage);
      std::string ansi;
      for (std::size_t at = 0; at < text.size(); at += piece) {
        ansi.clear();
        decoder.Feed(std::string_view(text).substr(at, piece), ansi);
        if (!scanner.Feed(ansi)) break;
      }
      ansi.clear();
      decoder.Finish(ansi);
      scanner.Feed(ansi);
      EXPECT_EQ(scanner.Finish(), whole) << "pieces of " << piece << " of " << text.substr(0, 20);
    }
  }
}

// A run of NULs (a sparse file's hole) counted rather than read gives what reading it gives.
TEST(TIniScanner, NulRunsCountedGiveWhatReadingThemGives) {
  const std::string before[] = {
      "",                                                 // before any section
      "[Company]\n",                                      // at the start of a line in the section
      "[Company]\nComp",                                  // inside a key name
      "[Company]\nCompanyNum=",                           // at the start of a value
      "[Company]\nCompanyNum= \"abc",                     // inside a value
      "[Company]\nCompanyNum=" + std::string(2100, 'x'),  // a value as full as it gets
      "[Comp",                                            // inside a section name
  };
  const std::string after[] = {"", "\n", "=v\"\nCompanyName=n\n", "  \n[Company]\nCompanyName=m"};
  const std::vector<std::string> keys = {"CompanyNum", "CompanyName"};
  for (const std::string& head : before) {
    for (const std::string& tail : after) {
      for (std::size_t count : {1u, 7u, 3000u}) {
        TIniScanner read("Company", keys, kCodePage);
        read.Feed(head) && read.Feed(std::string(count, '\0')) && read.Feed(tail);
        TIniScanner counted("Company", keys, kCodePage);
        counted.Feed(head) && counted.FeedNuls(count) && counted.Feed(tail);
        EXPECT_EQ(counted.Finish(), read.Finish())
            << head.substr(0, 30) << " | " << count << " | " << tail;
      }
    }
  }
}

// Once the values are known, the scanner asks for nothing more: what follows is never read.
TEST(TIniScanner, StopsOnceTheValuesAreKnown) {
  const struct {
    const char* what;
    std::string head;
    bool wantsMore;
  } cases[] = {
      {"every key found", "[Company]\nCompanyNum=1\nCompanyName=n\n", false},
      {"the section ended", "[Company]\nCompanyNum=1\n[Other]\n", false},
      {"a key still missing", "[Company]\nCompanyNum=1\n", true},
      {"the section not yet found", "[Other]\nCompanyNum=1\nCompanyName=n\n", true},
  };
  for (const auto& c : cases) {
    TIniScanner scanner("Company", {"CompanyNum", "CompanyName"}, kCodePage);
    EXPECT_EQ(scanner.Feed(c.head), c.wantsMore) << c.what;
    if (!c.wantsMore) {
      // Anything fed afterwards is ignored.
      scanner.Feed("[Company]\nCompanyNum=2\nCompanyName=m\n");
      EXPECT_EQ(scanner.Finish().values[0], "1") << c.what;
    }
  }
}

// A change touches the one line the reader picks, or adds one, and nothing else.
TEST(IniSetValues, ChangesTheLineTheReaderPicksAndKeepsEveryOtherUnit) {
  const struct {
    const char* what;
    std::string text;
    std::vector<TIniSet<char>> changes;
    std::string expected;
  } cases[] = {
      {"other keys, sections, a blank line and CR LF kept",
       "[S]\r\nServerIP=10.0.0.5\r\nCompanyURL=old\r\nPort=8080\r\n\r\n[Upload]\r\n"
       "Interval=30\r\n",
       {{"CompanyURL", "new"}},
       "[S]\r\nServerIP=10.0.0.5\r\nCompanyURL=new\r\nPort=8080\r\n\r\n[Upload]\r\n"
       "Interval=30\r\n"},
      {"LF", "[S]\nK=old\n", {{"K", "new"}}, "[S]\nK=new\n"},
      {"CR alone", "[S]\rA=1\rK=old\r[T]\rK=x\r", {{"K", "new"}}, "[S]\rA=1\rK=new\r[T]\rK=x\r"},
      {"mixed line ends, a new key takes the line end before it",
       "[S]\r\nA=1\nB=2\r[T]\r\n",
       {{"K", "v"}},
       "[S]\r\nA=1\nB=2\rK=v\r[T]\r\n"},
      {"no line end at the end: still none", "[S]\r\nK=old", {{"K", "new"}}, "[S]\r\nK=new"},
      {"a new key after a last line without its end",
       "[S]\r\nA=1",
       {{"K", "v"}},
       "[S]\r\nA=1\r\nK=v"},
      {"a new key after the last key line, before comments and the next section",
       "[S]\nA=1\n; note\n\n[T]\nB=2\n",
       {{"K", "v"}, {"L", "w"}},
       "[S]\nA=1\nK=v\nL=w\n; note\n\n[T]\nB=2\n"},
      {"a new key in a section of no keys",
       "[S]\r\n[T]\r\n",
       {{"K", "v"}},
       "[S]\r\nK=v\r\n[T]\r\n"},
      {"a new section at the end, in the text's line ends",
       "; top\n[T]\nB=2\n",
       {{"K", "v"}},
       "; top\n[T]\nB=2\n[S]\nK=v\n"},
      {"a new section after a last line without its end",
       "[T]\rB=2",
       {{"K", "v"}},
       "[T]\rB=2\r[S]\rK=v"},
      {"an empty text", "", {{"K", "v"}}, "[S]\r\nK=v\r\n"},
      {"duplicate sections and keys: the first of each, as the reader reads",
       "[s]\nK=1\nk=2\n[S]\nK=3\n",
       {{"K", "new"}},
       "[s]\nK=new\nk=2\n[S]\nK=3\n"},
      {"the key only in a later duplicate section: added to the first",
       "[S]\nA=1\n[S]\nK=3\n",
       {{"K", "v"}},
       "[S]\nA=1\nK=v\n[S]\nK=3\n"},
      {"blanks around names and values stay",
       " [ S ] \n\t K \t=  old  \t\n",
       {{"K", "new"}},
       " [ S ] \n\t K \t=  new  \t\n"},
      {"an empty value: the new one after the blanks",
       "[S]\nK = \nJ=\n",
       {{"K", "a"}, {"J", "b"}},
       "[S]\nK = a\nJ=b\n"},
      {"a new key after an empty value that ends the text",
       "[S]\nK=",
       {{"K", "a"}, {"J", "b"}},
       "[S]\nK=a\nJ=b"},
      {"a quoted value is replaced quotes and all",
       "[S]\nK=\"old value\" \n",
       {{"K", "new"}},
       "[S]\nK=new \n"},
      {"keys before any section are not the section's",
       "K=top\n[S]\n",
       {{"K", "v"}},
       "K=top\n[S]\nK=v\n"},
      {"a header without its bracket, a header with more after it",
       "[S\nA=1\n[T]x\nK=2\n",
       {{"A", "9"}},
       "[S\nA=9\n[T]x\nK=2\n"},
      {"a line without = is no key", "[S]\nK\nK=old\n", {{"K", "new"}}, "[S]\nK\nK=new\n"},
      {"what the reader would trim or unquote is quoted",
       "[S]\nA=1\nB=2\nC=3\nD=4\n",
       {{"A", " x "}, {"B", "\"\""}, {"C", "''"}, {"D", "'q'"}},
       "[S]\nA=\" x \"\nB=\"\"\"\"\nC=\"''\"\nD=\"'q'\"\n"},
      {"quotes that are no pair stay as they are",
       "[S]\nA=1\nB=2\n",
       {{"A", "\"x"}, {"B", "'x\""}},
       "[S]\nA=\"x\nB='x\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string changed = IniSetValues(std::string_view(c.text), "S", c.changes);
    EXPECT_EQ(changed, c.expected);
    // The reader reads the values as given.
    for (const auto& change : c.changes)
      EXPECT_EQ(IniReadString(changed, "S", change.key, kCodePage), change.value) << change.key;
    // UTF-16 units take the same change.
    std::vector<TIniSet<char16_t>> wide;
    for (const auto& change : c.changes)
      wide.push_back({change.key, std::u16string(change.value.begin(), change.value.end())});
    const std::u16string units(c.text.begin(), c.text.end());
    EXPECT_EQ(IniSetValues(std::u16string_view(units), "S", wide),
              std::u16string(c.expected.begin(), c.expected.end()));
  }
  EXPECT_THROW(IniSetValues(std::string_view("[S]\n"), "S", {{"K", "a\nb"}}),
               std::invalid_argument);
}

}  // namespace
