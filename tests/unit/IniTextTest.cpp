#include <gtest/gtest.h>

#include <string>

#include "common/IniText.h"

namespace {

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
      {"pad characters stay", "[SysInfo]\nCompanyURL = YQ== \n", "YQ=="},
      {"everything after the first =", "[SysInfo]\nCompanyURL==a=b=\n", "=a=b="},
      {"CR only line ends", "[SysInfo]\rOther=1\rCompanyURL=v\r", "v"},
      {"runs of CR LF", "\r\n\r\n[SysInfo]\r\n\r\r\nCompanyURL=v", "v"},
      {"no final line end", "[SysInfo]\nCompanyURL=last", "last"},
      {"UTF-8 BOM skipped", "\xEF\xBB\xBF[SysInfo]\nCompanyURL=v\n", "v"},
      {"first key wins", "[SysInfo]\nCompanyURL=one\nCompanyURL=two\n", "one"},
      {"only first section is searched",
       "[SysInfo]\nA=1\n[Other]\nCompanyURL=x\n[SysInfo]\nCompanyURL=second\n", ""},
      {"first section is the one found", "[Other]\nCompanyURL=x\n[SysInfo]\nCompanyURL=y\n", "y"},
      {"keys before any section ignored", "CompanyURL=early\n[SysInfo]\n", ""},
      {"missing ] accepted", "[SysInfo\nCompanyURL=v\n", "v"},
      {"name ends at first ]", "[SysInfo]x]\nCompanyURL=v\n", "v"},
      {"line without = is no key", "[SysInfo]\nCompanyURL\nCompanyURL=v\n", "v"},
      {"; starts a comment key", "[SysInfo]\n;CompanyURL=c\nCompanyURL=v\n", "v"},
      {"no inline comments", "[SysInfo]\nCompanyURL=v ; not a comment\n", "v ; not a comment"},
      {"double quotes removed", "[SysInfo]\nCompanyURL=\" v \"\n", " v "},
      {"single quotes removed", "[SysInfo]\nCompanyURL='v'\n", "v"},
      {"only one pair removed", "[SysInfo]\nCompanyURL=\"\"v\"\"\n", "\"v\""},
      {"unmatched quotes kept", "[SysInfo]\nCompanyURL=\"v'\n", "\"v'"},
      {"lone quote kept", "[SysInfo]\nCompanyURL=\"\n", "\""},
      {"value ends at NUL", std::string("[SysInfo]\nCompanyURL=ab\0cd\n", 26), "ab"},
      {"missing section", "[Other]\nCompanyURL=v\n", ""},
      {"missing key", "[SysInfo]\nCompanyUR=v\n", ""},
      {"empty file", "", ""},
      {"BOM alone", "\xEF\xBB\xBF", ""},
      {"GBK bytes kept as they are", "[SysInfo]\nCompanyURL=\xCE\xDE\xD6\xD0\n",
       "\xCE\xDE\xD6\xD0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IniReadString(c.text, "SysInfo", "CompanyURL"), c.expected) << c.what;
  }
}

TEST(IniReadString, ValuesAreCutTo2047Characters) {
  for (std::size_t length : {2046u, 2047u, 2048u, 4096u}) {
    const std::string value(length, 'Q');
    const std::string text = "[SysInfo]\nCompanyURL=" + value + "\n";
    EXPECT_EQ(IniReadString(text, "SysInfo", "CompanyURL"), value.substr(0, 2047)) << length;
    // The quotes go first, then the cut.
    const std::string quoted = "[SysInfo]\nCompanyURL=\"" + value + "\"\n";
    EXPECT_EQ(IniReadString(quoted, "SysInfo", "CompanyURL"), value.substr(0, 2047)) << length;
  }
}

TEST(IsUtf16LeText, NeedsTheByteOrderMark) {
  EXPECT_TRUE(IsUtf16LeText("\xFF\xFE[\0S\0"));
  EXPECT_FALSE(IsUtf16LeText("\xFE\xFF"));
  EXPECT_FALSE(IsUtf16LeText("[SysInfo]"));
  EXPECT_FALSE(IsUtf16LeText(""));
}

}  // namespace
