#include "tool/Json.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_set>
#include <utility>

#include "common/Text.h"
#include "common/Utf.h"

std::string JsonString(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  // Through UTF-16, so that ill-formed bytes become U+FFFD: whatever a value holds, the answer
  // is strict JSON. Every control character (C0, DEL, C1) is escaped, so that none reaches a
  // terminal or a log as it is.
  const std::u16string units = Utf8ToUtf16(utf8);
  std::string out = "\"";
  std::size_t copied = 0;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    const char* escape = unit == u'"'    ? "\\\""
                         : unit == u'\\' ? "\\\\"
                         : unit == u'\n' ? "\\n"
                         : unit == u'\r' ? "\\r"
                         : unit == u'\t' ? "\\t"
                                         : nullptr;
    if (escape == nullptr && unit >= 0x20 && (unit < 0x7F || unit > 0x9F)) continue;
    out += Utf16ToUtf8(std::u16string_view(units).substr(copied, i - copied));
    copied = i + 1;
    if (escape != nullptr) {
      out += escape;
    } else {
      out += "\\u00";
      out += kHex[unit >> 4];
      out += kHex[unit & 0x0F];
    }
  }
  out += Utf16ToUtf8(std::u16string_view(units).substr(copied));
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

// nlohmann's parser reads RFC 8259 strictly (every string well-formed UTF-8, without overlong
// forms or encoded surrogates; every \u escape a character, a lone surrogate refused; no raw
// control character; nothing but blanks around the value). On top of it the value is built
// here, refusing what RFC 8259 leaves open: a name given twice in one object, and values
// nested deeper than any answer of the tool.
class TBuilder {
 public:
  using TJson = nlohmann::json;

  bool null() { return Put(TJsonValue{}); }
  bool boolean(bool value) {
    TJsonValue v;
    v.kind = TJsonValue::Kind::Bool;
    v.boolean = value;
    return Put(std::move(v));
  }
  bool number_integer(TJson::number_integer_t value) { return Number(std::to_string(value)); }
  bool number_unsigned(TJson::number_unsigned_t value) { return Number(std::to_string(value)); }
  bool number_float(TJson::number_float_t, const std::string& text) { return Number(text); }
  bool string(std::string& text) {
    TJsonValue v;
    v.kind = TJsonValue::Kind::String;
    v.text = std::move(text);
    return Put(std::move(v));
  }
  bool binary(TJson::binary_t&) { return Fail("not a JSON value"); }  // JSON text has none
  bool start_object(std::size_t) { return Open(TJsonValue::Kind::Object); }
  bool key(std::string& name) {
    TOpen& object = open_.back();
    if (!object.names.insert(name).second) return Fail("\"" + name + "\" is given twice");
    object.value.members.emplace_back(std::move(name), TJsonValue{});
    return true;
  }
  bool end_object() { return Close(); }
  bool start_array(std::size_t) { return Open(TJsonValue::Kind::Array); }
  bool end_array() { return Close(); }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& error) {
    // "[json.exception.parse_error.101] parse error at line 1, column 5: syntax error while
    // parsing value - invalid literal; last read: 'nul'": the reason alone, in the program's
    // own form (the bytes read may be no text).
    std::string why = error.what();
    if (const std::size_t colon = why.find(": "); colon != std::string::npos)
      why.erase(0, colon + 2);
    if (const std::size_t last = why.find("; last read:"); last != std::string::npos)
      why.resize(last);
    return Fail(why + " (at byte " + std::to_string(position == 0 ? 0 : position - 1) + ")");
  }

  [[nodiscard]] const std::string& Error() const { return error_; }
  TJsonValue root;

 private:
  static constexpr std::size_t kDepthMax = 64;

  struct TOpen {
    TJsonValue value;
    std::unordered_set<std::string> names;
  };

  bool Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
  }
  bool Put(TJsonValue value) {
    if (open_.empty()) {
      root = std::move(value);
    } else if (TJsonValue& into = open_.back().value; into.kind == TJsonValue::Kind::Array) {
      into.items.push_back(std::move(value));
    } else {
      into.members.back().second = std::move(value);
    }
    return true;
  }
  bool Number(std::string text) {
    TJsonValue v;
    v.kind = TJsonValue::Kind::Number;
    v.text = std::move(text);
    return Put(std::move(v));
  }
  bool Open(TJsonValue::Kind kind) {
    if (open_.size() >= kDepthMax) return Fail("values are nested too deep");
    open_.emplace_back();
    open_.back().value.kind = kind;
    return true;
  }
  bool Close() {
    TJsonValue value = std::move(open_.back().value);
    open_.pop_back();
    return Put(std::move(value));
  }

  std::vector<TOpen> open_;
  std::string error_;
};

// The value, or why the text is none (English, with the byte).
std::optional<TJsonValue> Read(std::string_view text, std::string& error) {
  // nlohmann's parser would skip a byte order mark, which RFC 8259 forbids a sender to write.
  if (text.starts_with("\xEF\xBB\xBF")) {
    error = "a byte order mark is not JSON (at byte 0)";
    return std::nullopt;
  }
  TBuilder builder;
  if (!nlohmann::json::sax_parse(text.begin(), text.end(), &builder)) {
    error = builder.Error();
    return std::nullopt;
  }
  return std::move(builder.root);
}

}  // namespace

std::optional<TJsonValue> ParseJson(std::string_view text) {
  std::string error;
  return Read(text, error);
}

TJsonObjectRead ReadJsonObject(std::string_view text) {
  TJsonObjectRead read;
  const std::optional<TJsonValue> value = Read(text, read.error);
  if (!value) return read;
  if (value->kind != TJsonValue::Kind::Object) {
    read.error = "a JSON object must start with {";
    return read;
  }
  for (const auto& [name, member] : value->members) {
    if (member.kind != TJsonValue::Kind::String && member.kind != TJsonValue::Kind::Null) {
      read.members.clear();
      read.error = "the value of \"" + name + "\" must be a string or null";
      return read;
    }
    read.members.emplace(name, member.kind == TJsonValue::Kind::String
                                   ? std::optional<std::string>(member.text)
                                   : std::nullopt);
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
