#include "common/CodePage_posix.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "common/Utf.h"

namespace {

// One iconv conversion descriptor.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (Ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  [[nodiscard]] bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of in into out. At a bad or unmapped sequence, onBad(rest of the input,
  // out) appends a replacement and returns how many bytes to skip; conversion goes on after.
  template <class OnBad>
  void Run(std::string_view in, std::string& out, OnBad onBad) {
    char buffer[4096];
    auto* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    while (inLeft > 0) {
      char* outPtr = buffer;
      std::size_t outLeft = sizeof buffer;
      const std::size_t done = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
      if (done != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
      std::size_t skip = onBad(std::string_view(inPtr, inLeft), out);
      if (skip == 0 || skip > inLeft) skip = inLeft;
      inPtr += skip;
      inLeft -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
    }
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(cd_, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
  }

 private:
  iconv_t cd_;
};

std::string Normalised(std::string_view codeset) {
  std::string name;
  for (char c : codeset) {
    if (c == '-' || c == '_' || c == ' ') continue;
    name += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  }
  return name;
}

bool IsAnyOf(const std::string& name, std::initializer_list<std::string_view> names) {
  for (std::string_view n : names)
    if (name == n) return true;
  return false;
}

bool IsLead(unsigned char c) {
  return c >= 0x81 && c <= 0xFE;
}
bool IsTrail(unsigned char c) {
  return c >= 0x40 && c <= 0xFE && c != 0x7F;
}
bool IsDigit(unsigned char c) {
  return c >= 0x30 && c <= 0x39;
}

// How many bytes a bad sequence of a double-byte code page spans: a lead byte takes its trail
// byte with it (Windows gives one "?" for the pair), a GB18030 four-byte form goes whole.
std::size_t BadDoubleByteLength(std::string_view rest) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(rest[i]); };
  if (rest.size() >= 4 && IsLead(at(0)) && IsDigit(at(1)) && IsLead(at(2)) && IsDigit(at(3)))
    return 4;
  if (rest.size() >= 2 && IsLead(at(0)) && IsTrail(at(1))) return 2;
  return 1;
}

// How many bytes the character that starts at text[i] spans in a multi-byte code page.
std::size_t CharacterLength(TPosixCodePage::Scheme scheme, std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return 1;
  switch (scheme) {
    case TPosixCodePage::Scheme::ShiftJis:
      return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC) ? 2 : 1;
    case TPosixCodePage::Scheme::EucJp:
      return c == 0x8F ? 3 : (c == 0x8E || c >= 0xA1) && c != 0xFF ? 2 : 1;
    case TPosixCodePage::Scheme::EucTw:
      return c == 0x8E ? 4 : c >= 0xA1 && c != 0xFF ? 2 : 1;
    case TPosixCodePage::Scheme::Gb18030:
      if (!IsLead(c)) return 1;
      return i + 1 < text.size() && IsDigit(static_cast<unsigned char>(text[i + 1])) ? 4 : 2;
    default:
      return IsLead(c) ? 2 : 1;
  }
}

}  // namespace

std::string UserAnsiCodeset() {
  // The locale the environment names, as setlocale(LC_ALL, "") would take it.
  const char* named = nullptr;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    named = std::getenv(variable);
    if (named != nullptr && *named != '\0') break;
  }
  const std::string_view name = named == nullptr ? "" : named;
  // A UTF-8 locale, and C and POSIX, come out as UTF-8 whether or not the locale is installed
  // (one that is not falls back to C, whose ASCII is read as UTF-8): known without reading
  // the locale files, which the first start of the day would read from disk.
  const std::size_t dot = name.find('.');
  const std::string_view explicitCodeset =
      dot == name.npos ? "" : name.substr(dot + 1, name.find('@', dot) - dot - 1);
  if (name.empty() || name == "C" || name == "POSIX" || Normalised(explicitCodeset) == "UTF8")
    return "UTF-8";
  // Otherwise the locale itself says: newlocale(…, "", …) reads the same variables without
  // changing the locale of the process.
  locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (user == static_cast<locale_t>(nullptr)) return "UTF-8";  // falls back to C
  std::string codeset = nl_langinfo_l(CODESET, user);
  freelocale(user);
  return codeset;
}

TPosixCodePage::TPosixCodePage(std::string_view codeset) {
  const std::string name = Normalised(codeset);
  if (IsAnyOf(name, {"", "UTF8", "ANSIX3.41968", "ASCII", "USASCII", "646"})) {
    kind_ = Kind::Utf8;
    iconvName_ = "UTF-8";
  } else if (IsAnyOf(name,
                     {"GBK", "CP936", "MS936", "WINDOWS936", "GB2312", "EUCCN", "CSGB2312"})) {
    // Code page 936 is GBK; glibc's GBK maps it as Windows does apart from the user-defined
    // areas, which ToUtf16 takes from GB18030.
    kind_ = Kind::Gbk;
    iconvName_ = "GBK";
  } else if (IsAnyOf(name, {"GB18030", "BIG5", "BIG5HKSCS", "EUCKR", "CP949", "UHC", "SJIS",
                            "SHIFTJIS", "CP932", "EUCJP", "EUCTW"})) {
    kind_ = Kind::DoubleByte;
    iconvName_ = std::string(codeset);
    if (name == "GB18030") scheme_ = Scheme::Gb18030;
    if (IsAnyOf(name, {"SJIS", "SHIFTJIS", "CP932"})) scheme_ = Scheme::ShiftJis;
    if (name == "EUCJP") scheme_ = Scheme::EucJp;
    if (name == "EUCTW") scheme_ = Scheme::EucTw;
  } else {
    kind_ = Kind::SingleByte;
    iconvName_ = std::string(codeset);
  }
}

std::u16string TPosixCodePage::ToUtf16(std::string_view ansi) const {
  if (kind_ == Kind::Utf8) return Utf8ToUtf16(ansi);

  std::u16string out;
  Iconv cd("UTF-16LE", iconvName_.c_str());
  if (!cd.Ok()) {
    // An unknown codeset: ASCII is still ASCII, everything else is unknown.
    for (char c : ansi)
      out += static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : u'?';
    return out;
  }
  std::string bytes;
  cd.Run(ansi, bytes, [&](std::string_view rest, std::string& converted) -> std::size_t {
    const std::size_t length = kind_ == Kind::SingleByte ? 1 : BadDoubleByteLength(rest);
    if (kind_ == Kind::Gbk && length == 2) {
      // Windows maps the user-defined areas of 936 into the Private Use Area, as GB18030 does.
      Iconv gb18030("UTF-16LE", "GB18030");
      std::string unit;
      if (gb18030.Ok()) gb18030.Run(rest.substr(0, 2), unit, [](auto, auto&) { return 0; });
      if (unit.size() == 2) {
        const unsigned u =
            static_cast<unsigned char>(unit[0]) | (static_cast<unsigned char>(unit[1]) << 8);
        if (u >= 0xE000 && u <= 0xF8FF) {
          converted += unit;
          return length;
        }
      }
    }
    converted.append("?\0", 2);
    return length;
  });
  out = Utf16FromBytes(bytes, false);
  return out;
}

std::string TPosixCodePage::FromUtf16(std::u16string_view units) const {
  if (kind_ == Kind::Utf8) {
    // UTF-8 needs no conversion module: only a lone surrogate has no form in it.
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
      const char16_t u = units[i];
      const bool high = u >= 0xD800 && u <= 0xDBFF;
      if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        out += Utf16ToUtf8(units.substr(i, 2));
        ++i;
      } else if (u >= 0xD800 && u <= 0xDFFF) {
        out += '?';
      } else {
        out += Utf16ToUtf8(units.substr(i, 1));
      }
    }
    return out;
  }
  const std::string utf16le = Utf16ToBytes(units, false);
  std::string out;
  Iconv cd(iconvName_.c_str(), "UTF-16LE");
  if (!cd.Ok()) {
    for (std::size_t i = 0; i + 1 < utf16le.size(); i += 2) {
      const bool ascii = utf16le[i + 1] == 0 && static_cast<unsigned char>(utf16le[i]) < 0x80;
      out += ascii ? utf16le[i] : '?';
    }
    return out;
  }
  cd.Run(utf16le, out, [](std::string_view rest, std::string& converted) -> std::size_t {
    if (rest.size() < 2) return rest.size();  // a stray last byte is no character
    converted += '?';
    const auto unit = [&](std::size_t i) {
      return static_cast<unsigned>(static_cast<unsigned char>(rest[i]) |
                                   (static_cast<unsigned char>(rest[i + 1]) << 8));
    };
    const bool pair = rest.size() >= 4 && unit(0) >= 0xD800 && unit(0) <= 0xDBFF &&
                      unit(2) >= 0xDC00 && unit(2) <= 0xDFFF;
    return pair ? 4 : 2;
  });
  return out;
}

std::size_t TPosixCodePage::CompleteCharacters(std::string_view text) const {
  switch (kind_) {
    case Kind::SingleByte:
      return text.size();
    case Kind::Utf8:
      return text.size() - Utf8IncompleteTail(text);
    case Kind::Gbk:
    case Kind::DoubleByte:
      break;
  }
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t next = i + CharacterLength(scheme_, text, i);
    if (next > text.size()) break;
    i = next;
  }
  return i;
}
