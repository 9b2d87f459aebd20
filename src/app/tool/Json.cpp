#include "tool/Json.h"

#include <cstdint>
#include <optional>
#include <utility>

#include "common/Text.h"
#include "common/Utf.h"

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

// One reader for both: RFC 8259 read strictly (every string valid UTF-8, every \u escape a
// character, nothing but blanks around the value), with the reason and its byte when it is not.
class TReader {
 public:
  explicit TReader(std::string_view text) : text_(text) {}

  std::optional<TJsonValue> Document() {
    TJsonValue value;
    if (!Value(value, 0)) return std::nullopt;
    Blanks();
    if (pos_ != text_.size()) {
      Fail("nothing may follow the value");
      return std::nullopt;
    }
    return value;
  }
  [[nodiscard]] std::string Error() const {
    return error_ + " (at byte " + std::to_string(pos_) + ")";
  }

 private:
  static constexpr int kDepthMax = 64;

  [[nodiscard]] char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  bool Take(char c) {
    Blanks();
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  bool Word(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }
  void Blanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r'))
      ++pos_;
  }
  bool Fail(const char* why) {
    if (error_.empty()) error_ = why;
    return false;
  }

  bool Value(TJsonValue& value, int depth) {
    if (depth > kDepthMax) return Fail("values are nested too deep");
    Blanks();
    switch (Peek()) {
      case '{':
        return Object(value, depth);
      case '[':
        return Array(value, depth);
      case '"':
        value.kind = TJsonValue::Kind::String;
        return String(value.text);
      default:
        break;
    }
    if (Word("null")) {
      value.kind = TJsonValue::Kind::Null;
      return true;
    }
    if (Word("true") || Word("false")) {
      value.kind = TJsonValue::Kind::Bool;
      value.boolean = text_[pos_ - 1] == 'e' && text_[pos_ - 2] == 'u';
      return true;
    }
    return Number(value);
  }

  bool Number(TJsonValue& value) {
    const std::size_t start = pos_;
    const auto digits = [&] {
      const std::size_t from = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      return pos_ > from;
    };
    Word("-");
    if (!Word("0") && !digits()) return Fail("not a JSON value");
    if (Word(".") && !digits()) return Fail("a number's fraction has no digits");
    if (Word("e") || Word("E")) {
      if (!Word("+")) Word("-");
      if (!digits()) return Fail("a number's exponent has no digits");
    }
    value.kind = TJsonValue::Kind::Number;
    value.text = std::string(text_.substr(start, pos_ - start));
    return true;
  }

  bool Array(TJsonValue& value, int depth) {
    ++pos_;
    value.kind = TJsonValue::Kind::Array;
    if (Take(']')) return true;
    do {
      TJsonValue item;
      if (!Value(item, depth + 1)) return false;
      value.items.push_back(std::move(item));
    } while (Take(','));
    return Take(']') || Fail("items must be separated by , and the array closed with ]");
  }

  bool Object(TJsonValue& value, int depth) {
    ++pos_;
    value.kind = TJsonValue::Kind::Object;
    if (Take('}')) return true;
    do {
      Blanks();
      std::string name;
      if (Peek() != '"') return Fail("a member name must be a string");
      if (!String(name)) return false;
      if (!Take(':')) return Fail("a member name must be followed by :");
      TJsonValue member;
      if (!Value(member, depth + 1)) return false;
      value.members.emplace_back(std::move(name), std::move(member));
    } while (Take(','));
    return Take('}') || Fail("members must be separated by , and the object closed with }");
  }

  // Four hex digits after \u.
  std::optional<std::uint32_t> Hex4() {
    if (text_.size() - pos_ < 4) return std::nullopt;
    std::uint32_t unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      unit <<= 4;
      if (c >= '0' && c <= '9')
        unit |= static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        unit |= static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        unit |= static_cast<std::uint32_t>(c - 'A' + 10);
      else
        return std::nullopt;
    }
    return unit;
  }

  // One UTF-8 character taken as it is: well-formed (no overlong form, no surrogate, at most
  // U+10FFFF), or false.
  bool Utf8Character(std::string& out) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text_[pos_ + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    std::uint32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
      length = 2, cp = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
      length = 3, cp = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4)
      length = 4, cp = lead & 0x07;
    else
      return false;
    if (text_.size() - pos_ < length) return false;
    for (std::size_t i = 1; i < length; ++i) {
      if ((byte(i) & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (byte(i) & 0x3F);
    }
    if ((length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    out.append(text_.substr(pos_, length));
    pos_ += length;
    return true;
  }

  bool String(std::string& out) {
    ++pos_;  // the opening quote
    out.clear();
    for (;;) {
      if (pos_ >= text_.size()) return Fail("a string is not closed with \"");
      const auto c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return Fail("a control character must be escaped in a string");
      if (c >= 0x80) {
        if (!Utf8Character(out)) return Fail("a string is not valid UTF-8");
        continue;
      }
      ++pos_;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (pos_ >= text_.size()) return Fail("an escape is cut off");
      const char e = text_[pos_++];
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
          auto unit = Hex4();
          if (!unit) return Fail("\\u must be followed by four hex digits");
          std::u16string units(1, static_cast<char16_t>(*unit));
          if (*unit >= 0xDC00 && *unit <= 0xDFFF)
            return Fail("a \\u escape is a lone low surrogate");
          if (*unit >= 0xD800 && *unit <= 0xDBFF) {
            if (!Word("\\u")) return Fail("a \\u escape is a lone high surrogate");
            const auto low = Hex4();
            if (!low) return Fail("\\u must be followed by four hex digits");
            if (*low < 0xDC00 || *low > 0xDFFF)
              return Fail("a \\u escape is a lone high surrogate");
            units += static_cast<char16_t>(*low);
          }
          out += Utf16ToUtf8(units);
          break;
        }
        default:
          return Fail("unknown escape in a string");
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

std::optional<TJsonValue> ParseJson(std::string_view text) {
  return TReader(text).Document();
}

TJsonObjectRead ReadJsonObject(std::string_view text) {
  TJsonObjectRead read;
  TReader reader(text);
  const std::optional<TJsonValue> value = reader.Document();
  const auto fail = [&](const std::string& why) {
    read.members.clear();
    read.error = why;
    return read;
  };
  if (!value) return fail(reader.Error());
  if (value->kind != TJsonValue::Kind::Object) return fail("a JSON object must start with {");
  for (const auto& [name, member] : value->members) {
    std::optional<std::string> text;
    if (member.kind == TJsonValue::Kind::String)
      text = member.text;
    else if (member.kind != TJsonValue::Kind::Null)
      return fail("the value of \"" + name + "\" must be a string or null");
    if (!read.members.emplace(name, text).second) return fail("\"" + name + "\" is given twice");
  }
  return read;
}

const TJsonValue* TJsonValue::Find(std::string_view name) const {
  for (const auto& [memberName, member] : members)
    if (memberName == name) return &member;
  return nullptr;
}

std::string TJsonValue::TextOf(std::string_view name) const {
  const TJsonValue* member = Find(name);
  return member != nullptr && member->kind == Kind::String ? member->text : std::string();
}
