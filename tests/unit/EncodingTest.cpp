#include <gtest/gtest.h>

#include <string>

#include "FakeDesktop.h"
#include "address/Encoding.h"
#include "address/PageAddress.h"
#include "common/Base64.h"
#include "common/Text.h"

namespace {

TEST(QueryEncode, FormEncodingRules) {
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"\xE6\x97\xA0", "%E6%97%A0"},
      {"a b", "a+b"},
      {"~", "%7E"},
      {"(R01)!", "(R01)!"},
      {"!$'()*-.09@AZ_az", "!$'()*-.09@AZ_az"},
      {"/:?&=+#%\"<>", "%2F%3A%3F%26%3D%2B%23%25%22%3C%3E"},
      {"\x7F\x80\xFF\t", "%7F%80%FF%09"},
      {std::string("ab\0cd", 5), "ab"},  // stops at the first zero byte
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(QueryEncode(c.input), c.expected) << c.input;
}

TEST(AnsiToUtf8Text, GoesThroughTheCodePage) {
  const FakeCodePage gbk;  // knows "无" (CE DE) and "中" (D6 D0)
  EXPECT_EQ(AnsiToUtf8Text("\xCE\xDE", gbk), "\xE6\x97\xA0");
  EXPECT_EQ(AnsiToUtf8Text("a\xD6\xD0z", gbk),
            "a\xE4\xB8\xAD"
            "z");
  EXPECT_EQ(AnsiToUtf8Text("", gbk), "");
}

constexpr std::string_view kPage = "http://example.com/info.aspx";

TEST(BuildPageAddress, QueryValuesInOrderAndEncoding) {
  const FakeCodePage cp;
  const struct {
    TCompanyIdentity identity;
    std::string_view page;
    std::string expected;
  } cases[] = {
      {{"1234567890", "R01", "\xCE\xDE", "D1", "", ""},
       kPage,
       "http://example.com/info.aspx?Id=MTIzNDU2Nzg5MA==&Name=%E6%97%A0&Type=UjAx&DeviceId=RDE="
       "&other=&Version=NS4wLjAuMA=="},
      // Blanks around values go before encoding; a blank inside a name becomes "+".
      {{" 42 ", "\tR02 ", "  A  B  ", " X ", "", " o k "},
       kPage,
       "http://example.com/info.aspx?Id=NDI=&Name=A++B&Type=UjAy&DeviceId=WA==&other=o+k"
       "&Version=NS4wLjAuMA=="},
      // Only the whole address is trimmed: blanks at the page's end stay before "?Id=".
      {{"1", "R01", "n", "d", "", ""},
       "  http://x/  ",
       "http://x/  ?Id=MQ==&Name=n&Type=UjAx&DeviceId=ZA==&other=&Version=NS4wLjAuMA=="},
      // "?" is added even when the page already carries a query.
      {{"1", "R01", "n", "d", "", "\xD6\xD0~"},
       "http://x/p?a=1",
       "http://x/p?a=1?Id=MQ==&Name=n&Type=UjAx&DeviceId=ZA==&other=%E4%B8%AD%7E"
       "&Version=NS4wLjAuMA=="},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BuildPageAddress(c.page, c.identity, cp), c.expected);
  }
}

// Only bytes up to 0x20 are blanks: 0x7F and bytes from 0x80 up stay at either end.
TEST(TrimView, RemovesBytesUpTo0x20Only) {
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {" \t\r\n\x01 v \x1F", "v"},
      {std::string("\0v\0", 3), "v"},
      {"\x7Fv\x7F", "\x7Fv\x7F"},
      {" \x80v\xFF ", "\x80v\xFF"},
      {" \x20 ", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(TrimView(c.input), c.expected) << c.input;
}

// "无" reaches the page in UTF-8 whatever the code page, also where it has no "无".
TEST(BuildPageAddress, BlankNameIsSentAsTheUtf8Placeholder) {
  const FakeCodePage gbk;
  const Latin1CodePage latin1;
  const struct {
    const char* what;
    const TCodePage& codePage;
    std::string name;
  } cases[] = {
      {"double-byte code page, name normalised", gbk, "\xCE\xDE"},
      {"double-byte code page, name blank", gbk, "  "},
      {"code page without it, name normalised", latin1, ""},
      {"code page without it, name blank", latin1, " \t "},
  };
  for (const auto& c : cases) {
    const TCompanyIdentity identity{"1", "R01", c.name, "D", "", ""};
    const std::string address = BuildPageAddress(kPage, identity, c.codePage);
    EXPECT_NE(address.find("&Name=%E6%97%A0&Type="), std::string::npos) << c.what;
  }
  // A name of its own is the code page's text, as always.
  EXPECT_NE(
      BuildPageAddress(kPage, {"1", "R01", "\xE9", "D", "", ""}, latin1).find("&Name=%C3%A9&"),
      std::string::npos);
}

TEST(BuildPageAddress, LongNumberKeepsTheEncodersLineBreak) {
  const FakeCodePage cp;
  TCompanyIdentity identity{std::string(57, '7'), "R01", "n", "d", "", ""};
  const std::string address = BuildPageAddress(kPage, identity, cp);
  const std::string id = Base64Encode(std::string(57, '7'));
  ASSERT_EQ(id.size(), 78u);
  EXPECT_EQ(address.substr(kPage.size(), 4 + 78 + 6), "?Id=" + id + "&Name=");
  EXPECT_NE(address.find("\r\n&Name="), std::string::npos);
}

}  // namespace
