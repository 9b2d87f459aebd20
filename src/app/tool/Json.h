#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one writer of the tool's JSON output: fixed shapes of strings, booleans, null, arrays
// and objects, each text escaped by JsonString.

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
