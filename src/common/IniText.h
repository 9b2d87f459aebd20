#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/CodePage.h"

// The longest value a private-profile read returns (its buffer holds 2048 characters).
inline constexpr std::size_t kIniValueMax = 2047;

// What one reading of an INI file found in one section.
struct TIniValues {
  bool sectionFound = false;
  std::vector<std::string> values;  // one per key asked for; "" when the key is missing

  bool operator==(const TIniValues&) const = default;
};

// Finds the values of some keys of one section in INI text, the way the Windows
// private-profile reader does: lines end at any CR or LF; section and key names match
// case-insensitively (ASCII); only the first matching section is searched and its first
// matching key wins; keys before the first section are ignored; a section name runs from "["
// to the first "]" (or the line's end), trimmed; a line without "=" is no key; names and
// values are trimmed of blanks; one outer pair of matching quotes is removed; a value ends at
// a NUL byte and is cut to kIniValueMax bytes without splitting a character.
//
// The text comes in pieces of any size and is not kept: memory stays bounded by the values,
// however long the file or its lines, and reading can stop as soon as the result is known.
// The text must be in the ANSI code page (see TIniTextDecoder).
class TIniScanner {
 public:
  // valueMax: where values are cut (the profile reader's kIniValueMax, or more for text that
  // is to be kept whole).
  TIniScanner(std::string_view section, std::vector<std::string> keys, const TCodePage& codePage,
              std::size_t valueMax = kIniValueMax);

  // Reads the next piece of text. False once nothing after it can change the result: every
  // key has been found, or the section has ended.
  bool Feed(std::string_view text);
  // Reads a run of NUL bytes (a hole in a sparse file, say) in a time that does not grow with
  // its length: NULs end no line and hold no "=", so past a name's or value's first bytes
  // only their count matters. Same result as Feed of that many NULs.
  bool FeedNuls(std::uint64_t count);
  // The result, once the text has ended (or Feed returned false).
  TIniValues Finish();

 private:
  enum class Phase { LineStart, Header, HeaderDone, KeyName, Value, SkipLine, Done };

  // A name as the reader compares it: trimmed, and kept only as long as it could still match.
  class TName {
   public:
    explicit TName(std::size_t limit) : limit_(limit) {}
    void Add(char c);
    void Clear();
    [[nodiscard]] bool Equals(std::string_view wanted) const;
    [[nodiscard]] bool TooLong() const { return tooLong_; }

   private:
    std::size_t limit_;
    std::string text_;
    std::string pending_;  // blanks after the text, kept while a byte may still follow them
    std::size_t pendingCount_ = 0;
    bool tooLong_ = false;
  };

  [[nodiscard]] bool Skimming() const;
  void Skim(std::string_view part);
  void Take(char c);
  void EndLine();
  void EndValue();

  std::string section_;
  std::vector<std::string> keys_;
  const TCodePage& codePage_;
  std::size_t valueMax_;
  TIniValues result_;
  std::vector<bool> found_;
  std::size_t missing_;
  bool inSection_ = false;

  Phase phase_ = Phase::LineStart;
  TName name_;
  int key_ = -1;  // the key whose value is being read
  std::string value_;
  std::uint64_t valueBytes_ = 0;    // bytes of the value so far, its leading blanks skipped
  std::uint64_t valueTrimmed_ = 0;  // the same up to its last non-blank byte
  char valueLast_ = '\0';           // that last non-blank byte
};

// The encodings an INI file may declare with a byte order mark at its start.
enum class TIniEncoding { Ansi, Utf8, Utf16Le, Utf16Be };
// What a file's first bytes declare; Ansi when they hold no mark.
TIniEncoding IniEncodingOf(std::string_view start);

// Turns the bytes of an INI file into text in the ANSI code page, as the profile reader sees
// them: a file that starts with a byte order mark (UTF-8, UTF-16 LE, UTF-16 BE) is converted
// through UTF-16; any other file already is ANSI text. Bytes come in pieces of any size.
class TIniTextDecoder {
 public:
  explicit TIniTextDecoder(const TCodePage& codePage) : codePage_(codePage) {}

  // Appends the ANSI text of the next bytes to out (it may hold some back until it knows).
  void Feed(std::string_view bytes, std::string& out);
  // Appends what was held back.
  void Finish(std::string& out);
  // How many NUL characters of ANSI text a run of zero bytes gives, when that is known without
  // the bytes: the encoding is known and nothing is held back.
  [[nodiscard]] std::optional<std::uint64_t> NulsOfZeroBytes(std::uint64_t zeroBytes) const;

 private:
  void Convert(std::string_view bytes, bool last, std::string& out);

  const TCodePage& codePage_;
  std::optional<TIniEncoding> encoding_;  // unknown until the start has been seen
  std::string pending_;  // bytes held back: a mark not yet whole, or an unfinished character
};

// The whole of an INI file's bytes, read as one stream; for tests and small texts.
TIniValues IniReadValues(std::string_view fileBytes, std::string_view section,
                         const std::vector<std::string>& keys, const TCodePage& codePage);
std::string IniReadString(std::string_view fileBytes, std::string_view section,
                          std::string_view key, const TCodePage& codePage);

// ---- Changing values in place

// A key of one section and its new value, in the units of the text it goes into.
template <class Char>
struct TIniSet {
  std::string_view key;
  std::basic_string<Char> value;  // no line end in it
};

// The text with the values of some keys of one section changed, as the private-profile
// writer changes them: the line the reader would pick (the first key of that name in the
// first section of that name) gets the new value in place of its old one, blanks and quotes
// around the old value's place included; a key the section lacks gets a line of its own
// after the section's last key line (after its header when it has none); a section the text
// lacks is added at its end. New lines take the line end the lines before them have (the
// section's, else the text's first, else CR LF), and a text that does not end with a line end
// still does not. Every other unit stays as it was: comments, blank lines, other keys and
// sections, duplicates, spacing and line ends. A value the reader would trim or unquote is
// written in double quotes, so that it reads back as given.
//
// Units are bytes for ANSI and UTF-8 text and UTF-16 units for UTF-16 text: the names and
// the characters the reader looks for are ASCII, the same in every encoding it reads.
//
// A key given twice takes its last value. Time and memory grow with the text's length alone.
template <class Char>
std::basic_string<Char> IniSetValues(std::basic_string_view<Char> text, std::string_view section,
                                     const std::vector<TIniSet<Char>>& changes);

// One replacement IniSetValues makes: the units [from, to) of the text become units.
template <class Char>
struct TIniEdit {
  std::size_t from = 0, to = 0;
  std::basic_string<Char> units;
};
// The replacements IniSetValues makes, in the order of the text, none overlapping another:
// for a caller that puts them into the text's bytes without a copy of the whole text.
template <class Char>
std::vector<TIniEdit<Char>> IniEdits(std::basic_string_view<Char> text, std::string_view section,
                                     const std::vector<TIniSet<Char>>& changes);
