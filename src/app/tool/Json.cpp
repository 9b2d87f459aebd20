#include "tool/Json.h"

#include "common/Text.h"

std::string JsonString(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0x0F];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string JsonArray(const std::vector<std::string>& jsonItems) {
  std::string out = "[";
  for (std::size_t i = 0; i < jsonItems.size(); ++i) out += Concat({i ? "," : "", jsonItems[i]});
  return out + "]";
}

TJsonObject& TJsonObject::AddJson(std::string_view name, std::string_view json) {
  members_ += Concat({members_.empty() ? "" : ",", JsonString(name), ":", json});
  return *this;
}

TJsonObject& TJsonObject::Add(std::string_view name, std::string_view utf8) {
  return AddJson(name, JsonString(utf8));
}

TJsonObject& TJsonObject::Add(std::string_view name, bool value) {
  return AddJson(name, value ? "true" : "false");
}

TJsonObject& TJsonObject::AddOrNull(std::string_view name, const std::optional<std::string>& utf8) {
  return AddJson(name, utf8 ? JsonString(*utf8) : "null");
}

TJsonObject& TJsonObject::Add(std::string_view name, const std::vector<std::string>& utf8Items) {
  std::vector<std::string> items;
  for (const std::string& item : utf8Items) items.push_back(JsonString(item));
  return AddJson(name, JsonArray(items));
}
