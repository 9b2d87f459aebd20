// The tool's read-change-write of the installation's files: for any file and any change, every
// key of every section reads as before but the changed one, which reads the new value, and
// only the changed line's units differ.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "Latin1CodePage.h"
#include "common/IniText.h"
#include "common/Text.h"
#include "common/Utf.h"
#include "inputs/InstallationFiles.h"

namespace {

// The file's text in units: bytes after a UTF-8 mark or none, UTF-16 units after theirs.
std::u16string UnitsOf(std::string_view bytes) {
  switch (IniEncodingOf(bytes)) {
    case TIniEncoding::Utf16Le:
    case TIniEncoding::Utf16Be:
      return Utf16FromBytes(bytes.substr(2), IniEncodingOf(bytes) == TIniEncoding::Utf16Be);
    case TIniEncoding::Utf8:
    case TIniEncoding::Ansi:
      break;
  }
  std::u16string units;
  for (const char c : bytes) units += static_cast<char16_t>(static_cast<unsigned char>(c));
  return units;
}

// Every name that may stand for a section or a key, as any line spells it, once whatever its
// case (the reader's names know none): what is read before and after is compared for each (a
// name that is none reads "" both times).
std::set<std::string> NamesIn(std::string_view text) {
  std::set<std::string> names = {"company", "sysinfo"};
  std::string line;
  const auto take = [&names](std::string_view part) {
    const std::size_t start = part.find_first_not_of(" \t\v\f\x1a[");
    if (start == std::string_view::npos) return;
    part = part.substr(start, part.find_first_of("=]", start) - start);
    const std::size_t end = part.find_last_not_of(" \t\v\f\x1a");
    // A few are enough to find a change that strays; many would only slow the search.
    if (end != std::string_view::npos && end < 40 && names.size() < 12)
      names.emplace(LowerAscii(part.substr(0, end + 1)));
  };
  for (const char c : text) {
    if (c == '\r' || c == '\n') {
      take(line);
      line.clear();
    } else {
      line += c;
    }
  }
  take(line);
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const Latin1CodePage codePage;
  // The first byte picks the file and the key, the second the new value's length.
  const std::size_t which = data[0] % (kIdentityFieldCount + 1);
  const bool address = which == kIdentityFieldCount;
  const std::size_t valueSize = std::min<std::size_t>(data[1] % 24, size - 2);
  std::string value(reinterpret_cast<const char*>(data) + 2, valueSize);
  // What the tool would refuse or never writes: line ends and NULs; values as text.
  std::erase_if(value, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
  value = Utf16ToUtf8(codePage.ToUtf16(value));
  const std::string before(reinterpret_cast<const char*>(data) + 2 + valueSize,
                           size - 2 - valueSize);

  const std::string_view section = address ? kAddressSection : kIdentitySection;
  const TStoredValues stored =
      StoredOfBytes(before, section, address ? AddressKeys() : IdentityKeys(), codePage);
  const std::string key(address ? kAddressKey : kIdentityFields[which].key);
  if (address) value = AddressValue(value);
  std::string after;
  if (address) {
    after = AddressFileChange(stored, value);
  } else {
    const TFileChange change = IdentityFileChange(stored, {{key, value}}, codePage);
    if (!change.unencodable.empty()) return 0;
    after = change.bytes;
  }

  // What the launcher's reader makes of both, name by name; the new value where it is asked for.
  const std::string text = Utf16ToUtf8(UnitsOf(before));
  std::set<std::string> names = NamesIn(text);
  names.insert(LowerAscii(key));
  const std::vector<std::string> all(names.begin(), names.end());
  for (const std::string& s : names) {
    const TIniValues was = IniReadValues(before, s, all, codePage);
    const TIniValues now = IniReadValues(after, s, all, codePage);
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (s == LowerAscii(section) && all[i] == LowerAscii(key)) {
        FUZZ_CHECK(now.values[i] == codePage.FromUtf16(Utf8ToUtf16(value)));
      } else {
        FUZZ_CHECK(now.values[i] == was.values[i]);
      }
    }
  }

  // Only one line differs, or lines were added: the units before and after the change are the
  // file's own, and what the change took away holds no line end. The mark stays.
  const TIniEncoding encoding = IniEncodingOf(before);
  const std::size_t mark = encoding == TIniEncoding::Ansi   ? 0
                           : encoding == TIniEncoding::Utf8 ? 3
                                                            : 2;
  if (!before.empty()) FUZZ_CHECK(after.substr(0, mark) == before.substr(0, mark));
  const std::u16string was = UnitsOf(before), now = UnitsOf(after);
  std::size_t prefix = 0, suffix = 0;
  while (prefix < was.size() && prefix < now.size() && was[prefix] == now[prefix]) ++prefix;
  while (suffix < was.size() - prefix && suffix < now.size() - prefix &&
         was[was.size() - 1 - suffix] == now[now.size() - 1 - suffix])
    ++suffix;
  const std::u16string_view removed =
      std::u16string_view(was).substr(prefix, was.size() - prefix - suffix);
  FUZZ_CHECK(removed.find_first_of(u"\r\n") == std::u16string_view::npos);
  return 0;
}
