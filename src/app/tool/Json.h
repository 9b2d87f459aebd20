#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The tool's JSON: the one writer of its output (fixed shapes of strings, booleans, null,
// arrays and objects, each text escaped by JsonString) and the one strict reader, which takes
// the values an engine hands over (ReadJsonObject) and the tool's own answers, which the
// settings window runs in process (ParseJson).

// The UTF-8 text as a JSON string: every control character escaped, ill-formed bytes as U+FFFD.
std::string JsonString(std::string_view utf8);

// An object, member by member in the order added.
class TJsonObject {
 public:
  TJsonObject& Add(std::string_view name, std::string_view utf8);
  TJsonObject& Add(std::string_view name, const char* utf8) {
    return Add(name, std::string_view(utf8));
  }
  TJsonObject& Add(std::string_view name, bool value);
  TJsonObject& AddOrNull(std::string_view name, const std::optional<std::string>& utf8);
  TJsonObject& Add(std::string_view name, const std::vector<std::string>& utf8Items);
  // A member whose value is JSON already (an object or an array of them).
  TJsonObject& AddJson(std::string_view name, std::string_view json);
  [[nodiscard]] std::string Text() const { return "{" + members_ + "}"; }

 private:
  std::string members_;
};

// An array of JSON values.
std::string JsonArray(const std::vector<std::string>& jsonItems);

// A JSON object of texts, as an engine hands values over: {"name": "text", "other": null}.
// Read strictly (RFC 8259, by nlohmann's parser): the text must be UTF-8 without a byte order
// mark, every string well-formed UTF-8 (no overlong form, no encoded surrogate, no raw control
// character) and every \u escape a character (a lone surrogate is refused, not replaced); a
// member's value is a string or null (null: not given); a name given twice, a nested value, a
// number or a boolean, and anything after the object but blanks are refused. Values arrive
// exactly as encoded, with no trimming or other rewriting.
struct TJsonObjectRead {
  std::map<std::string, std::optional<std::string>> members;
  std::string error;  // empty when the text was read; else why not (English; where the text is
                      // no JSON, with the byte)
};
TJsonObjectRead ReadJsonObject(std::string_view text);

// A JSON value: null, a boolean, a string (UTF-8), an array or an object. Numbers are kept as
// text (an integer in decimal, any other as written): the tool writes none that a reader
// computes with.
struct TJsonValue {
  // Declared, so that clang with libstdc++ does not ask for the members' types while this one
  // is still being defined.
  TJsonValue();
  enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
  bool boolean = false;
  std::string text;  // String: the text; Number: its text
  std::vector<TJsonValue> items;
  std::vector<std::pair<std::string, TJsonValue>> members;  // in the order written

  // The member's value; nullptr when this is no object or has no such member.
  [[nodiscard]] const TJsonValue* Find(std::string_view name) const;
  // The member's text when it is a string; "" otherwise.
  [[nodiscard]] std::string TextOf(std::string_view name) const;
};

inline TJsonValue::TJsonValue() = default;

// One JSON value (RFC 8259) with nothing but blanks around it, read as strictly as
// ReadJsonObject reads (a name given twice in an object is refused too); nullopt when the text
// is not that. The settings window reads the tool's own answers with it.
std::optional<TJsonValue> ParseJson(std::string_view text);
