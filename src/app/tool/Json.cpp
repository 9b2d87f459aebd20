#include "tool/Json.h"

#include <optional>
#include <utility>

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

// ---- Reading

namespace {

class TJsonReader {
 public:
  explicit TJsonReader(std::string_view text) : text_(text) {}

  std::optional<TJsonValue> Document() {
    TJsonValue value;
    if (!Value(value, 0)) return std::nullopt;
    Blanks();
    if (at_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  static constexpr int kDepthMax = 64;

  void Blanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }
  bool Take(char c) {
    Blanks();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  bool Value(TJsonValue& value, int depth) {
    if (depth > kDepthMax) return false;
    Blanks();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == '{') return Object(value, depth);
    if (c == '[') return Array(value, depth);
    if (c == '"') {
      value.kind = TJsonValue::Kind::String;
      return String(value.text);
    }
    if (Word("null")) {
      value.kind = TJsonValue::Kind::Null;
      return true;
    }
    if (Word("true") || Word("false")) {
      value.kind = TJsonValue::Kind::Bool;
      value.boolean = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
      return true;
    }
    return Number(value);
  }

  bool Number(TJsonValue& value) {
    const std::size_t start = at_;
    const auto digits = [&] {
      const std::size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ > from;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (!digits()) {
      return false;
    }
    if (at_ < text_.size() && text_[at_] == '.' && (++at_, !digits())) return false;
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return false;
    }
    value.kind = TJsonValue::Kind::Number;
    value.text = std::string(text_.substr(start, at_ - start));
    return true;
  }

  bool Hex4(char32_t& unit) {
    if (at_ + 4 > text_.size()) return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      unit <<= 4;
      if (c >= '0' && c <= '9') {
        unit |= static_cast<char32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        unit |= static_cast<char32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        unit |= static_cast<char32_t>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    return true;
  }

  static void Append(std::string& out, char32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool String(std::string& out) {
    ++at_;  // the opening quote
    out.clear();
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char e = text_[at_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          char32_t unit = 0;
          if (!Hex4(unit)) return false;
          if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            char32_t low = 0;
            if (!Word("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          }
          Append(out, unit);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  bool Array(TJsonValue& value, int depth) {
    ++at_;
    value.kind = TJsonValue::Kind::Array;
    if (Take(']')) return true;
    do {
      TJsonValue item;
      if (!Value(item, depth + 1)) return false;
      value.items.push_back(std::move(item));
    } while (Take(','));
    return Take(']');
  }

  bool Object(TJsonValue& value, int depth) {
    ++at_;
    value.kind = TJsonValue::Kind::Object;
    if (Take('}')) return true;
    do {
      Blanks();
      std::string name;
      if (at_ >= text_.size() || text_[at_] != '"' || !String(name) || !Take(':')) return false;
      TJsonValue member;
      if (!Value(member, depth + 1)) return false;
      value.members.emplace_back(std::move(name), std::move(member));
    } while (Take(','));
    return Take('}');
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

const TJsonValue* TJsonValue::Find(std::string_view name) const {
  for (const auto& [memberName, member] : members)
    if (memberName == name) return &member;
  return nullptr;
}

std::string TJsonValue::TextOf(std::string_view name) const {
  const TJsonValue* member = Find(name);
  return member != nullptr && member->kind == Kind::String ? member->text : std::string();
}

std::optional<TJsonValue> ParseJson(std::string_view text) {
  return TJsonReader(text).Document();
}
