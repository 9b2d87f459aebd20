#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

// A JSON object of texts, as an engine hands values over: {"name": "text", "other": null}.
// Read strictly (RFC 8259): the text must be UTF-8 without a byte order mark, every string
// valid UTF-8 and every \u escape a character (a lone surrogate is refused, not replaced); a
// member's value is a string or null (null: not given); a name given twice, a nested value,
// a number or a boolean, and anything after the object but blanks are refused. Values arrive
// exactly as encoded, with no trimming or other rewriting.
struct TJsonObjectRead {
  std::map<std::string, std::optional<std::string>> members;
  std::string error;  // empty when the text was read; else why not (English, with the offset)
};
TJsonObjectRead ReadJsonObject(std::string_view text);
