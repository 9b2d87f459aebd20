#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "common/Utf.h"
#include "tool/Json.h"

// The tool's JSON reader, for an engine's values and for the tool's own answers: whatever the
// bytes, it never breaks and the two entry points agree; what it takes, written again by the
// tool's writer, reads back the same; and what the writer writes reads back exactly (the text,
// ill-formed bytes as U+FFFD), with no control character left as it was.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const TJsonObjectRead read = ReadJsonObject(text);
  const auto value = ParseJson(text);
  FUZZ_CHECK(!read.error.empty() || (value && value->kind == TJsonValue::Kind::Object &&
                                     value->members.size() == read.members.size()));
  if (read.error.empty()) {
    TJsonObject again;
    for (const auto& [name, member] : read.members) again.AddOrNull(name, member);
    const TJsonObjectRead back = ReadJsonObject(again.Text());
    FUZZ_CHECK(back.error.empty() && back.members == read.members);
  } else {
    FUZZ_CHECK(read.members.empty());
  }

  // The bytes as a name and a text, through the writer and back.
  const std::string_view name = text.substr(0, size / 3);
  const std::string_view member = text.substr(size / 3);
  const std::string written = TJsonObject().Add(name, member).Text();
  for (std::size_t i = 0; i < written.size(); ++i) {
    const auto byte = static_cast<unsigned char>(written[i]);
    FUZZ_CHECK(byte >= 0x20 && byte != 0x7F);
    FUZZ_CHECK(byte != 0xC2 || i + 1 == written.size() ||
               static_cast<unsigned char>(written[i + 1]) >= 0xA0);
  }
  const TJsonObjectRead back = ReadJsonObject(written);
  FUZZ_CHECK(back.error.empty() && back.members.size() == 1);
  FUZZ_CHECK(back.members.begin()->first == Utf16ToUtf8(Utf8ToUtf16(name)));
  FUZZ_CHECK(back.members.begin()->second == Utf16ToUtf8(Utf8ToUtf16(member)));
  return 0;
}
