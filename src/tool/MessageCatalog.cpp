#include "tool/MessageCatalog.h"

#include <algorithm>
#include <cstdint>

namespace {

// The .mo layout: a magic number (which also tells the byte order), a revision, the number of
// strings, the offsets of the tables of sources and translations; each table entry is a length
// and an offset, and each string is followed by a NUL.
constexpr std::uint32_t kMagic = 0x950412DE;

class TReader {
 public:
  explicit TReader(std::string_view bytes) : bytes_(bytes) {}
  std::optional<std::uint32_t> Word(std::uint64_t at, bool bigEndian) const {
    if (at + 4 > bytes_.size()) return std::nullopt;
    std::uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
      const auto byte = static_cast<unsigned char>(bytes_[at + static_cast<unsigned>(i)]);
      word |= std::uint32_t{byte} << (bigEndian ? 8 * (3 - i) : 8 * i);
    }
    return word;
  }
  std::optional<std::string_view> String(std::uint64_t entry, bool bigEndian) const {
    const auto length = Word(entry, bigEndian);
    const auto offset = Word(entry + 4, bigEndian);
    // The string and its closing NUL lie inside the file.
    if (!length || !offset || std::uint64_t{*offset} + *length >= bytes_.size() ||
        bytes_[*offset + *length] != '\0') {
      return std::nullopt;
    }
    return bytes_.substr(*offset, *length);
  }

 private:
  std::string_view bytes_;
};

}  // namespace

TMessageCatalog::TMessageCatalog(std::string_view moFile) {
  const TReader reader(moFile);
  const auto little = reader.Word(0, false);
  if (!little) return;
  const bool bigEndian = *little != kMagic;
  if (bigEndian && reader.Word(0, true) != kMagic) return;
  const auto count = reader.Word(8, bigEndian);
  const auto sources = reader.Word(12, bigEndian);
  const auto translations = reader.Word(16, bigEndian);
  if (!count || !sources || !translations || *count > moFile.size() / 8) return;
  std::vector<TEntry> entries;
  for (std::uint64_t i = 0; i < *count; ++i) {
    const auto source = reader.String(*sources + 8 * i, bigEndian);
    const auto translation = reader.String(*translations + 8 * i, bigEndian);
    if (!source || !translation) return;  // damaged: none of it is trusted
    // The header (empty source), plural forms and untranslated entries change nothing.
    if (source->empty() || source->find('\0') != std::string_view::npos || translation->empty())
      continue;
    entries.push_back({*source, *translation});
  }
  std::sort(entries.begin(), entries.end(),
            [](const TEntry& a, const TEntry& b) { return a.source < b.source; });
  entries_ = std::move(entries);
}

std::string_view TMessageCatalog::Translate(std::string_view source) const {
  const auto found = std::lower_bound(
      entries_.begin(), entries_.end(), source,
      [](const TEntry& entry, std::string_view wanted) { return entry.source < wanted; });
  return found != entries_.end() && found->source == source ? found->translation : source;
}
