#include "common/IniText.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <stdexcept>

#include "common/Text.h"
#include "common/Utf.h"

namespace {

// The private-profile reader's notion of white space around names and values.
bool IsIniBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

struct TMark {
  std::string_view bytes;
  TIniEncoding encoding;
};
constexpr TMark kMarks[] = {{"\xEF\xBB\xBF", TIniEncoding::Utf8},
                            {"\xFF\xFE", TIniEncoding::Utf16Le},
                            {"\xFE\xFF", TIniEncoding::Utf16Be}};

}  // namespace

// ---- TIniScanner::TName --------------------------------------------------------------------

void TIniScanner::TName::Add(char c) {
  if (tooLong_) return;
  if (IsIniBlank(c)) {
    // Blanks count only once something follows them: the name is trimmed.
    if (text_.empty()) return;
    if (pending_.size() < limit_) pending_ += c;
    ++pendingCount_;
    return;
  }
  if (text_.size() + pendingCount_ + 1 > limit_) {
    tooLong_ = true;  // longer than any name it is compared with
    return;
  }
  text_ += pending_;
  pending_.clear();
  pendingCount_ = 0;
  text_ += c;
}

void TIniScanner::TName::Clear() {
  text_.clear();
  pending_.clear();
  pendingCount_ = 0;
  tooLong_ = false;
}

bool TIniScanner::TName::Equals(std::string_view wanted) const {
  return !tooLong_ && EqualsNoCase(text_, wanted);
}

// ---- TIniScanner ---------------------------------------------------------------------------

namespace {
std::size_t LongestOf(std::string_view section, const std::vector<std::string>& keys) {
  std::size_t longest = section.size();
  for (const auto& key : keys) longest = std::max(longest, key.size());
  return longest;
}
}  // namespace

TIniScanner::TIniScanner(std::string_view section, std::vector<std::string> keys,
                         const TCodePage& codePage, std::size_t valueMax)
    : section_(section),
      keys_(std::move(keys)),
      codePage_(codePage),
      valueMax_(valueMax),
      found_(keys_.size(), false),
      missing_(keys_.size()),
      name_(LongestOf(section_, keys_)) {
  result_.values.resize(keys_.size());
  if (keys_.empty()) missing_ = 0;
}

bool TIniScanner::Feed(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && phase_ != Phase::Done) {
    if (Skimming()) {
      // Nothing in the rest of this line needs looking at byte by byte. Both ends are looked
      // for in one pass: a search for each would look to the text's end for the CR that lines
      // ending in LF lack, on every line.
      std::size_t end = at;
      while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
      Skim(text.substr(at, end - at));
      if (end >= text.size()) break;
      at = end;
    }
    Take(text[at++]);
  }
  return phase_ != Phase::Done;
}

bool TIniScanner::FeedNuls(std::uint64_t count) {
  while (count > 0 && phase_ != Phase::Done && !Skimming()) {
    Take('\0');
    --count;
  }
  if (count > 0 && phase_ == Phase::Value) {
    // The value is as full as it gets; the NULs only make it longer, ending in a NUL.
    valueBytes_ += count;
    valueTrimmed_ = valueBytes_;
    valueLast_ = '\0';
  }
  return phase_ != Phase::Done;
}

bool TIniScanner::Skimming() const {
  return phase_ == Phase::SkipLine || phase_ == Phase::HeaderDone ||
         (phase_ == Phase::KeyName && name_.TooLong()) ||
         (phase_ == Phase::Value && value_.size() > valueMax_);
}

void TIniScanner::Skim(std::string_view part) {
  if (phase_ == Phase::KeyName) {
    // A name too long to match: only its "=" matters, which ends it.
    const std::size_t equals = part.find('=');
    if (equals != std::string_view::npos) phase_ = Phase::SkipLine;
  } else if (phase_ == Phase::Value) {
    // All of the value that can be kept is kept; what remains decides only where it ends.
    const std::size_t last = part.find_last_not_of(" \t\v\f\x1a");
    if (last != std::string_view::npos) {
      valueTrimmed_ = valueBytes_ + last + 1;
      valueLast_ = part[last];
    }
    valueBytes_ += part.size();
  }
}

TIniValues TIniScanner::Finish() {
  if (phase_ != Phase::Done) EndLine();
  phase_ = Phase::Done;
  return result_;
}

void TIniScanner::Take(char c) {
  if (c == '\r' || c == '\n') {
    EndLine();
    return;
  }
  switch (phase_) {
    case Phase::LineStart:
      if (IsIniBlank(c)) return;
      if (c == '[') {
        if (inSection_) {
          // Only the first matching section counts: the result is known.
          phase_ = Phase::Done;
          return;
        }
        name_.Clear();
        phase_ = Phase::Header;
        return;
      }
      if (!inSection_ || missing_ == 0) {
        phase_ = Phase::SkipLine;
        return;
      }
      name_.Clear();
      phase_ = Phase::KeyName;
      Take(c);  // the name's first byte, or the "=" of a line without a name
      return;
    case Phase::Header:
      if (c == ']') {
        phase_ = Phase::HeaderDone;
      } else {
        name_.Add(c);
      }
      return;
    case Phase::KeyName:
      if (c != '=') {
        name_.Add(c);
        return;
      }
      key_ = -1;
      for (std::size_t i = 0; i < keys_.size(); ++i) {
        if (!found_[i] && name_.Equals(keys_[i])) {
          key_ = static_cast<int>(i);
          break;
        }
      }
      if (key_ < 0) {
        phase_ = Phase::SkipLine;
        return;
      }
      value_.clear();
      valueBytes_ = valueTrimmed_ = 0;
      phase_ = Phase::Value;
      return;
    case Phase::Value:
      if (valueBytes_ == 0 && IsIniBlank(c)) return;  // leading blanks
      // An opening quote and valueMax_ bytes are all a value can keep.
      if (value_.size() < valueMax_ + 1) value_ += c;
      ++valueBytes_;
      if (!IsIniBlank(c)) {
        valueTrimmed_ = valueBytes_;
        valueLast_ = c;
      }
      return;
    case Phase::HeaderDone:
    case Phase::SkipLine:
    case Phase::Done:
      return;
  }
}

void TIniScanner::EndLine() {
  switch (phase_) {
    case Phase::Header:
    case Phase::HeaderDone:
      inSection_ = name_.Equals(section_);
      if (inSection_) result_.sectionFound = true;
      break;
    case Phase::Value:
      EndValue();
      break;
    default:
      break;
  }
  if (phase_ != Phase::Done) {
    phase_ = inSection_ && missing_ == 0 ? Phase::Done : Phase::LineStart;
  }
}

void TIniScanner::EndValue() {
  // What was kept of the value, without its trailing blanks.
  const std::size_t kept =
      valueTrimmed_ < value_.size() ? static_cast<std::size_t>(valueTrimmed_) : value_.size();
  std::string_view value(value_.data(), kept);
  const char first = value.empty() ? '\0' : value.front();
  if (valueTrimmed_ >= 2 && (first == '"' || first == '\'') && valueLast_ == first) {
    value = value.substr(
        1, static_cast<std::size_t>(std::min<std::uint64_t>(valueTrimmed_ - 2, value.size())));
  }
  value = value.substr(0, value.find('\0'));
  if (value.size() > valueMax_) {
    value = value.substr(0, valueMax_);
    value = value.substr(0, codePage_.CompleteCharacters(value));
  }
  result_.values[static_cast<std::size_t>(key_)] = std::string(value);
  found_[static_cast<std::size_t>(key_)] = true;
  --missing_;
}

// ---- TIniTextDecoder -----------------------------------------------------------------------

TIniEncoding IniEncodingOf(std::string_view start) {
  for (const TMark& mark : kMarks)
    if (start.starts_with(mark.bytes)) return mark.encoding;
  return TIniEncoding::Ansi;
}

void TIniTextDecoder::Feed(std::string_view bytes, std::string& out) {
  if (!encoding_) {
    pending_.append(bytes);
    const std::string_view start = pending_;
    const TMark* found = nullptr;
    bool couldBeMark = false;  // too few bytes yet to tell
    for (const TMark& mark : kMarks) {
      if (start.starts_with(mark.bytes)) found = &mark;
      if (mark.bytes.starts_with(start)) couldBeMark = true;
    }
    if (found != nullptr) {
      encoding_ = found->encoding;
      pending_.erase(0, found->bytes.size());
    } else if (couldBeMark) {
      return;
    } else {
      encoding_ = TIniEncoding::Ansi;
    }
    std::string held;
    held.swap(pending_);
    Convert(held, false, out);
    return;
  }
  Convert(bytes, false, out);
}

void TIniTextDecoder::Finish(std::string& out) {
  if (!encoding_) encoding_ = TIniEncoding::Ansi;  // the start of a mark, and nothing more
  std::string held;
  held.swap(pending_);
  Convert(held, true, out);
}

std::optional<std::uint64_t> TIniTextDecoder::NulsOfZeroBytes(std::uint64_t zeroBytes) const {
  if (!pending_.empty() || !encoding_) return std::nullopt;
  switch (*encoding_) {
    case TIniEncoding::Ansi:
    case TIniEncoding::Utf8:
      return zeroBytes;
    case TIniEncoding::Utf16Le:
    case TIniEncoding::Utf16Be:
      if (zeroBytes % 2 == 0) return zeroBytes / 2;
      return std::nullopt;
  }
  return std::nullopt;
}

void TIniTextDecoder::Convert(std::string_view bytes, bool last, std::string& out) {
  if (encoding_ == TIniEncoding::Ansi) {
    out.append(bytes);
    return;
  }
  std::string text = std::move(pending_);
  pending_.clear();
  text.append(bytes);
  std::u16string units;
  if (encoding_ == TIniEncoding::Utf8) {
    const std::size_t tail = last ? 0 : Utf8IncompleteTail(text);
    pending_.assign(text, text.size() - tail, tail);
    text.resize(text.size() - tail);
    units = Utf8ToUtf16(text);
  } else {
    const bool bigEndian = encoding_ == TIniEncoding::Utf16Be;
    std::size_t whole = text.size() - text.size() % 2;
    units = Utf16FromBytes(std::string_view(text).substr(0, whole), bigEndian);
    // A high surrogate waits for the low one that may come with the next bytes.
    if (!last && !units.empty() && units.back() >= 0xD800 && units.back() <= 0xDBFF) {
      units.pop_back();
      whole -= 2;
    }
    pending_.assign(text, whole, text.size() - whole);
    if (last) pending_.clear();  // a stray last byte is no character
  }
  out += codePage_.FromUtf16(units);
}

// ---- Whole texts ---------------------------------------------------------------------------

TIniValues IniReadValues(std::string_view fileBytes, std::string_view section,
                         const std::vector<std::string>& keys, const TCodePage& codePage) {
  TIniTextDecoder decoder(codePage);
  TIniScanner scanner(section, keys, codePage);
  std::string text;
  decoder.Feed(fileBytes, text);
  decoder.Finish(text);
  scanner.Feed(text);
  return scanner.Finish();
}

std::string IniReadString(std::string_view fileBytes, std::string_view section,
                          std::string_view key, const TCodePage& codePage) {
  return IniReadValues(fileBytes, section, {std::string(key)}, codePage).values[0];
}

// ---- Changing values in place ------------------------------------------------------------

namespace {

template <class Char>
bool IsBlankUnit(Char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

template <class Char>
bool IsLineEnd(Char c) {
  return c == '\r' || c == '\n';
}

// The units' name, trimmed, equals the ASCII name, letters of any case.
template <class Char>
bool NameIs(std::basic_string_view<Char> units, std::string_view name) {
  std::size_t start = 0, end = units.size();
  while (start < end && IsBlankUnit(units[start])) ++start;
  while (end > start && IsBlankUnit(units[end - 1])) --end;
  if (end - start != name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const Char c = units[start + i];
    const auto lower = [](char32_t u) { return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u; };
    if (lower(static_cast<char32_t>(c)) !=
        lower(static_cast<char32_t>(static_cast<unsigned char>(name[i]))))
      return false;
  }
  return true;
}

// One line of the text, as the reader sees it.
struct TIniLine {
  std::size_t start = 0;  // its first unit
  std::size_t end = 0;    // the unit after its last, before its line end
  std::size_t next = 0;   // the start of the next line: after CR LF, CR or LF
  enum class Kind { Other, Header, Key } kind = Kind::Other;
  std::size_t nameStart = 0, nameEnd = 0;    // Header: inside the brackets; Key: before "="
  std::size_t valueStart = 0, valueEnd = 0;  // Key: the value without the blanks around it
};

// The line that starts at the unit at. Each unit is looked at a bounded number of times.
template <class Char>
TIniLine IniLineAt(std::basic_string_view<Char> text, std::size_t at) {
  TIniLine line;
  line.start = at;
  while (at < text.size() && !IsLineEnd(text[at])) ++at;
  line.end = at;
  // CR LF is one line end here: the reader sees an empty line between them, which is nothing.
  if (at < text.size())
    at += text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
  line.next = at;
  std::size_t first = line.start;
  while (first < line.end && IsBlankUnit(text[first])) ++first;
  if (first < line.end && text[first] == '[') {
    line.kind = TIniLine::Kind::Header;
    line.nameStart = first + 1;
    line.nameEnd = line.nameStart;
    while (line.nameEnd < line.end && text[line.nameEnd] != ']') ++line.nameEnd;
  } else if (first < line.end) {
    std::size_t equals = first;
    while (equals < line.end && text[equals] != '=') ++equals;
    if (equals < line.end) {
      line.kind = TIniLine::Kind::Key;
      line.nameStart = first;
      line.nameEnd = equals;
      line.valueStart = equals + 1;
      while (line.valueStart < line.end && IsBlankUnit(text[line.valueStart])) ++line.valueStart;
      line.valueEnd = line.end;
      while (line.valueEnd > line.valueStart && IsBlankUnit(text[line.valueEnd - 1]))
        --line.valueEnd;
    }
  }
  return line;
}

template <class Char>
std::basic_string<Char> Units(std::string_view ascii) {
  return std::basic_string<Char>(ascii.begin(), ascii.end());
}

// The value as the line must hold it to read back as given (see TIniScanner::EndValue).
template <class Char>
std::basic_string<Char> WrittenValue(const std::basic_string<Char>& value) {
  if (value.find_first_of(Units<Char>("\r\n")) != std::basic_string<Char>::npos)
    throw std::invalid_argument("an INI value cannot hold a line end");
  // The reader trims what TrimView trims and more; quoted, the blanks are part of the value.
  const auto trimmed = [](Char c) { return static_cast<char32_t>(c) <= 0x20; };
  const bool blankEnds = !value.empty() && (trimmed(value.front()) || trimmed(value.back()));
  const bool quoted = value.size() >= 2 && value.front() == value.back() &&
                      (value.front() == '"' || value.front() == '\'');
  if (!blankEnds && !quoted) return value;
  return Units<Char>("\"") + value + Units<Char>("\"");
}

}  // namespace

template <class Char>
std::vector<TIniEdit<Char>> IniEdits(std::basic_string_view<Char> text, std::string_view section,
                                     const std::vector<TIniSet<Char>>& changes) {
  using TString = std::basic_string<Char>;
  using TView = std::basic_string_view<Char>;
  const auto nameOf = [&](const TIniLine& line) {
    return text.substr(line.nameStart, line.nameEnd - line.nameStart);
  };
  const auto endOf = [&](const TIniLine& line) {
    return text.substr(line.end, line.next - line.end);
  };
  // One pass over the lines, keeping none: the first section of the name runs from its header
  // to the next header, where the pass ends.
  std::optional<TView> textEnd;  // the text's own line end: its first line's that has one
  bool inSection = false, sectionFound = false;
  TIniLine last;                 // the section's last key line, its header while it has none
  std::optional<TView> seenEnd;  // the last line end from the header on
  std::optional<TView> lastEnd;  // the same as it was at the last line
  std::vector<std::optional<TIniLine>> found(changes.size());
  for (std::size_t at = 0; at < text.size();) {
    const TIniLine line = IniLineAt(text, at);
    at = line.next;
    if (!textEnd && line.next > line.end) textEnd = endOf(line);
    if (line.kind == TIniLine::Kind::Header) {
      if (inSection) break;
      if (sectionFound || !NameIs(nameOf(line), section)) continue;
      inSection = sectionFound = true;
    } else if (!inSection) {
      continue;
    }
    if (line.next > line.end) seenEnd = endOf(line);
    if (line.kind == TIniLine::Kind::Other) continue;
    last = line;
    lastEnd = seenEnd;
    if (line.kind != TIniLine::Kind::Key) continue;
    for (std::size_t i = 0; i < changes.size(); ++i)
      if (!found[i] && NameIs(nameOf(line), changes[i].key)) found[i] = line;
  }

  std::vector<TIniEdit<Char>> edits;
  std::vector<const TIniSet<Char>*> missing;
  for (std::size_t i = 0; i < changes.size(); ++i) {
    if (found[i]) {
      edits.push_back({found[i]->valueStart, found[i]->valueEnd, WrittenValue(changes[i].value)});
    } else {
      missing.push_back(&changes[i]);
    }
  }
  // In the text's order; of the same key's changes the last stays.
  std::stable_sort(edits.begin(), edits.end(),
                   [](const auto& a, const auto& b) { return a.from < b.from; });
  for (std::size_t i = edits.size(); i-- > 1;)
    if (edits[i - 1].from == edits[i].from)
      edits.erase(edits.begin() + static_cast<std::ptrdiff_t>(i - 1));
  if (!missing.empty()) {
    // The new lines, and where they go: after the section's last key line (its header when it
    // has none), or at the end of the text as a section of their own. They come after every
    // changed value, one that ends the text included.
    std::vector<TString> added;
    std::size_t at = text.size();
    TString end(textEnd.value_or(Units<Char>("\r\n")));
    bool endFirst = !text.empty() && !IsLineEnd(text.back());
    if (sectionFound) {
      at = last.next;
      endFirst = last.next == last.end;  // the text's last line, without an end
      if (lastEnd) end = *lastEnd;
    } else {
      added.push_back(Units<Char>("[") + Units<Char>(section) + Units<Char>("]"));
    }
    for (const TIniSet<Char>* change : missing)
      added.push_back(Units<Char>(change->key) + Units<Char>("=") + WrittenValue(change->value));
    TString units;
    for (const TString& line : added) units += endFirst ? end + line : line + end;
    edits.push_back({at, at, std::move(units)});
  }
  return edits;
}

template <class Char>
std::basic_string<Char> IniSetValues(std::basic_string_view<Char> text, std::string_view section,
                                     const std::vector<TIniSet<Char>>& changes) {
  const std::vector<TIniEdit<Char>> edits = IniEdits(text, section, changes);
  std::size_t size = text.size();
  for (const auto& edit : edits) size += edit.units.size() - (edit.to - edit.from);
  std::basic_string<Char> out;
  out.reserve(size);
  std::size_t at = 0;
  for (const auto& edit : edits) {
    out.append(text.substr(at, edit.from - at)).append(edit.units);
    at = edit.to;
  }
  out.append(text.substr(at));
  return out;
}

template std::string IniSetValues(std::string_view, std::string_view,
                                  const std::vector<TIniSet<char>>&);
template std::u16string IniSetValues(std::u16string_view, std::string_view,
                                     const std::vector<TIniSet<char16_t>>&);
template std::vector<TIniEdit<char>> IniEdits(std::string_view, std::string_view,
                                              const std::vector<TIniSet<char>>&);
template std::vector<TIniEdit<char16_t>> IniEdits(std::u16string_view, std::string_view,
                                                  const std::vector<TIniSet<char16_t>>&);
