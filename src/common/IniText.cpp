#include "common/IniText.h"

#include <algorithm>

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
      // Nothing in the rest of this line needs looking at byte by byte.
      const std::size_t end = std::min(text.find('\r', at), text.find('\n', at));
      Skim(text.substr(at, std::min(end, text.size()) - at));
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
