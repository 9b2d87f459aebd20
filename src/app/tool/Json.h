#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The tool's JSON: the one writer of its output (fixed shapes of strings, booleans, null,
// arrays and objects, each text escaped by JsonString), and the reader that takes that output
// back in the settings window.

// The UTF-8 text as a JSON string.
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

// ---- Reading (the tool's own output, read back by the settings window)

// A JSON value: null, a boolean, a string (UTF-8), an array or an object. Numbers are kept as
// their text: the tool writes none that a reader computes with.
struct TJsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
  bool boolean = false;
  std::string text;  // String: the text; Number: as written
  std::vector<TJsonValue> items;
  std::vector<std::pair<std::string, TJsonValue>> members;  // in the order written

  // The member's value; nullptr when this is no object or has no such member.
  [[nodiscard]] const TJsonValue* Find(std::string_view name) const;
  // The member's text when it is a string; "" otherwise.
  [[nodiscard]] std::string TextOf(std::string_view name) const;
};

// One JSON value (RFC 8259) with nothing but blanks around it; nullopt when the text is not
// that. \u escapes become UTF-8, surrogate pairs included; a lone surrogate is refused.
std::optional<TJsonValue> ParseJson(std::string_view text);
