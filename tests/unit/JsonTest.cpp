#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "tool/Json.h"

namespace {

using TMembers = std::map<std::string, std::optional<std::string>>;

// Values an engine hands over arrive exactly as encoded; anything that is not a strict JSON
// object of strings and nulls is refused whole, with no member taken.
TEST(ReadJsonObject, ExactValuesOrRefusedWhole) {
  const struct {
    std::string text;
    std::optional<TMembers> expected;  // nullopt: refused
  } cases[] = {
      {"{}", TMembers{}},
      {" \r\n\t{ } \n", TMembers{}},
      {R"({"name":"Hotel $HOME","other":null})",
       TMembers{{"name", "Hotel $HOME"}, {"other", std::nullopt}}},
      {R"j({"upload-user":"~/acct","other":"price ${PATH} 100$ `id` $(id)"})j",
       TMembers{{"upload-user", "~/acct"}, {"other", "price ${PATH} 100$ `id` $(id)"}}},
      {R"({"name":"  blanks kept  ","type":""})",
       TMembers{{"name", "  blanks kept  "}, {"type", ""}}},
      {R"({"a":"\"\\\/\b\f\n\r\t"})", TMembers{{"a", "\"\\/\b\f\n\r\t"}}},
      {"{\"a\":\"\xE6\x9F\x90\xE6\x9F\x90\xE9\x85\x92\xE5\xBA\x97\"}",
       TMembers{{"a", "\xE6\x9F\x90\xE6\x9F\x90\xE9\x85\x92\xE5\xBA\x97"}}},
      {R"({"a":"\u65e0\u0041\u00e9"})", TMembers{{"a",
                                                  "\xE6\x97\xA0"
                                                  "A\xC3\xA9"}}},
      {R"({"a":"\ud83d\ude00"})", TMembers{{"a", "\xF0\x9F\x98\x80"}}},
      {"{\"a\":\"\xF4\x8F\xBF\xBF\"}", TMembers{{"a", "\xF4\x8F\xBF\xBF"}}},
      {R"({"a":"\u0000"})", TMembers{{"a", std::string(1, '\0')}}},
      // Refused: not an object, not closed, something after it, a byte order mark.
      {"", std::nullopt},
      {"[]", std::nullopt},
      {R"("a")", std::nullopt},
      {R"({"a":"b")", std::nullopt},
      {R"({"a":"b"} x)", std::nullopt},
      {R"({"a":"b"}{})", std::nullopt},
      {"\xEF\xBB\xBF{}", std::nullopt},
      // Refused: values other than strings and null; names given twice; loose syntax.
      {R"({"a":1})", std::nullopt},
      {R"({"a":true})", std::nullopt},
      {R"({"a":{"b":"c"}})", std::nullopt},
      {R"({"a":["b"]})", std::nullopt},
      {R"({"a":nul})", std::nullopt},
      {R"({"a":nullx})", std::nullopt},
      {R"({"a":"b","a":"c"})", std::nullopt},
      {R"({"a":"b",})", std::nullopt},
      {R"({a:"b"})", std::nullopt},
      {R"({'a':'b'})", std::nullopt},
      {R"({"a" "b"})", std::nullopt},
      // Refused: strings that are no text.
      {"{\"a\":\"line\nbreak\"}", std::nullopt},
      {"{\"a\":\"\xC3\"}", std::nullopt},
      {"{\"a\":\"\xC0\xAF\"}", std::nullopt},
      // Overlong forms of every length, encoded surrogates, raw control characters.
      {"{\"a\":\"\xE0\x80\xAF\"}", std::nullopt},
      {"{\"a\":\"\xF0\x80\x80\xAF\"}", std::nullopt},
      {"{\"a\":\"\xF8\x80\x80\x80\xAF\"}", std::nullopt},
      {"{\"a\":\"\xFC\x80\x80\x80\x80\xAF\"}", std::nullopt},
      {"{\"a\":\"\xED\xBF\xBF\"}", std::nullopt},
      {std::string("{\"a\":\"\0\"}", 8), std::nullopt},
      {"{\"a\":\"\x1F\"}", std::nullopt},
      {"{\"a\":\"\x7F\"}", TMembers{{"a", "\x7F"}}},
      {"{\"a\":\"\xED\xA0\x80\"}", std::nullopt},
      {"{\"a\":\"\xF4\x90\x80\x80\"}", std::nullopt},
      {"{\"a\":\"\xFF\"}", std::nullopt},
      {R"({"a":"\ud800"})", std::nullopt},
      {R"({"a":"\ud800\u0041"})", std::nullopt},
      {R"({"a":"\udc00"})", std::nullopt},
      {R"({"a":"\u12G4"})", std::nullopt},
      {R"({"a":"\x41"})", std::nullopt},
      {R"({"a":"\)", std::nullopt},
  };
  for (const auto& c : cases) {
    const TJsonObjectRead read = ReadJsonObject(c.text);
    if (c.expected) {
      EXPECT_EQ(read.error, "") << c.text;
      EXPECT_EQ(read.members, *c.expected) << c.text;
    } else {
      EXPECT_NE(read.error, "") << c.text;
      EXPECT_TRUE(read.members.empty()) << c.text;
    }
  }
}

}  // namespace
