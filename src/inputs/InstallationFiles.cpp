#include "inputs/InstallationFiles.h"

#include <algorithm>

#include "common/Base64.h"
#include "common/Text.h"
#include "common/Utf.h"

std::vector<std::string> IdentityKeys() {
  std::vector<std::string> keys;
  for (const TField& field : kIdentityFields) keys.emplace_back(field.key);
  return keys;
}

std::vector<std::string> AddressKeys() {
  return {std::string(kAddressKey)};
}

bool IsWebAddress(std::string_view address) {
  return StartsWithNoCase(address, "http://") || StartsWithNoCase(address, "https://");
}

std::string AddressValue(std::string_view ansiAddress) {
  std::string encoded = Base64Encode(ansiAddress);
  std::erase(encoded, '\r');
  std::erase(encoded, '\n');
  return encoded;
}

std::optional<TCompanyIdentity> ReadIdentity(TConfigFolder& folder, const TCodePage& codePage) {
  const std::string file = folder.PathOf(kIdentityFileName);
  if (file.empty()) return std::nullopt;
  const TFileRead read =
      folder.ReadSection(file, kIdentitySection, IdentityKeys(), codePage, codePage);
  if (!read.SectionFound()) return std::nullopt;
  TCompanyIdentity identity;
  for (std::size_t i = 0; i < kIdentityFieldCount; ++i)
    identity.*kIdentityFields[i].member = read.values.values[i];
  return identity;
}

std::optional<std::string> ReadAddress(TConfigFolder& folder, const TCodePage& codePage) {
  const std::string file = folder.PathOf(kAddressFileName);
  if (file.empty() || !folder.FileExists(file)) return std::nullopt;
  std::string value;
  try {
    const TFileRead read =
        folder.ReadSection(file, kAddressSection, AddressKeys(), codePage, codePage);
    if (read.state == TFileRead::State::Read) value = read.values.values[0];
    return Base64Decode(value);
  } catch (...) {
    return std::string();  // an unreadable value is an empty one
  }
}

namespace {

TStoredValues StoredOf(TFileRead read, const TCodePage& codePage) {
  TStoredValues stored{std::move(read), {}, {}};
  if (!stored.read.SectionFound()) return stored;
  const bool unicode = stored.read.encoding != TIniEncoding::Ansi;
  for (const std::string& value : stored.read.values.values) {
    if (unicode) {
      stored.text.emplace_back(value);
      continue;
    }
    // Text only when it comes back as the same bytes.
    std::string utf8 = Utf16ToUtf8(codePage.ToUtf16(value));
    if (codePage.FromUtf16(Utf8ToUtf16(utf8)) == value) {
      stored.text.emplace_back(std::move(utf8));
    } else {
      stored.text.emplace_back(std::nullopt);
    }
  }
  return stored;
}

// What a new file of each kind starts as: its mark alone.
constexpr std::string_view kNewIdentityFile = "\xFF\xFE";  // UTF-16 LE
constexpr std::string_view kNewAddressFile = "";           // ASCII

// The bytes between mark and stray with the edits made, in one string of the new size: the
// file's only copy besides the bytes read.
template <class Char, class Encode>
std::string Edited(std::string_view mark, std::string_view bytes,
                   const std::vector<TIniEdit<Char>>& edits, std::string_view stray,
                   Encode encode) {
  std::vector<std::string> encoded;
  std::size_t size = mark.size() + bytes.size() + stray.size();
  for (const auto& edit : edits) {
    encoded.emplace_back(encode(edit.units));
    size += encoded.back().size() - (edit.to - edit.from);
  }
  std::string out;
  out.reserve(size);
  out.append(mark);
  std::size_t at = 0;
  for (std::size_t i = 0; i < edits.size(); ++i) {
    out.append(bytes.substr(at, edits[i].from - at)).append(encoded[i]);
    at = edits[i].to;
  }
  out.append(bytes.substr(at)).append(stray);
  return out;
}

// The file's bytes with the values changed in its own encoding. The bytes after the mark are
// changed as they are, never decoded and encoded again: what is not changed stays, byte for
// byte, whatever it holds.
TFileChange Changed(const TStoredValues& stored, std::string_view section,
                    const std::vector<TKeyValue>& values, const TCodePage& codePage,
                    std::string_view newFile) {
  const std::string_view bytes =
      stored.read.state == TFileRead::State::Read && !stored.bytes.empty()
          ? std::string_view(stored.bytes)
          : newFile;
  const TIniEncoding encoding = IniEncodingOf(bytes);
  TFileChange change;
  switch (encoding) {
    case TIniEncoding::Ansi:
    case TIniEncoding::Utf8: {
      const std::size_t mark = encoding == TIniEncoding::Utf8 ? 3 : 0;
      std::vector<TIniSet<char>> sets;
      for (const TKeyValue& value : values) {
        if (encoding == TIniEncoding::Utf8) {
          sets.push_back({value.key, value.utf8});
          continue;
        }
        std::string ansi = codePage.FromUtf16(Utf8ToUtf16(value.utf8));
        if (codePage.ToUtf16(ansi) != Utf8ToUtf16(value.utf8)) {
          change.unencodable.emplace_back(value.key);
        }
        sets.push_back({value.key, std::move(ansi)});
      }
      if (!change.unencodable.empty()) return change;
      change.bytes = Edited(bytes.substr(0, mark), bytes.substr(mark),
                            IniEdits(bytes.substr(mark), section, sets), "",
                            [](const std::string& units) -> const std::string& { return units; });
      return change;
    }
    case TIniEncoding::Utf16Le:
    case TIniEncoding::Utf16Be: {
      const bool bigEndian = encoding == TIniEncoding::Utf16Be;
      // A stray last byte is no unit: it stays last.
      const std::string_view body = bytes.substr(2, (bytes.size() - 2) / 2 * 2);
      const std::string_view stray = bytes.substr(2 + body.size());
      std::vector<TIniSet<char16_t>> sets;
      for (const TKeyValue& value : values) sets.push_back({value.key, Utf8ToUtf16(value.utf8)});
      // The units only to find the places: the edits go into the bytes, units times two.
      std::vector<TIniEdit<char16_t>> edits =
          IniEdits(std::u16string_view(Utf16FromBytes(body, bigEndian)), section, sets);
      for (auto& edit : edits) {
        edit.from *= 2;
        edit.to *= 2;
      }
      change.bytes =
          Edited(bytes.substr(0, 2), body, edits, stray,
                 [&](const std::u16string& units) { return Utf16ToBytes(units, bigEndian); });
      return change;
    }
  }
  return change;
}

}  // namespace

TStoredValues ReadStored(TConfigFolder& folder, const std::string& path, std::string_view section,
                         const std::vector<std::string>& keys, const TCodePage& codePage) {
  static const TUtf8CodePage kUtf8;
  return StoredOf(folder.ReadSection(path, section, keys, codePage, kUtf8), codePage);
}

TStoredValues StoredOfFile(TFileBytes file, std::string_view section,
                           const std::vector<std::string>& keys, const TCodePage& codePage) {
  if (file.state == TFileRead::State::Read)
    return StoredOfBytes(std::move(file.bytes), section, keys, codePage);
  TFileRead read;
  read.state = file.state;
  read.error = file.error;
  return StoredOf(std::move(read), codePage);
}

TStoredValues StoredOfBytes(std::string bytes, std::string_view section,
                            const std::vector<std::string>& keys, const TCodePage& codePage) {
  // The values as the tool reads them everywhere (TProgramConfigFolder::ReadSection), here
  // from the bytes that the change is made on.
  static const TUtf8CodePage kUtf8;
  TSectionReading reading(section, keys, codePage, kUtf8);
  reading.Start(std::string_view(bytes).substr(0, 3));
  // In pieces, as a file is read: the reading's own copies stay the size of a piece.
  constexpr std::size_t kPiece = 1 << 20;
  for (std::size_t at = 3; at < bytes.size(); at += kPiece)
    if (!reading.Feed(std::string_view(bytes).substr(at, kPiece))) break;
  TStoredValues stored = StoredOf(reading.Finish(), codePage);
  stored.bytes = std::move(bytes);
  return stored;
}

TFileChange IdentityFileChange(const TStoredValues& stored, const std::vector<TKeyValue>& values,
                               const TCodePage& codePage) {
  return Changed(stored, kIdentitySection, values, codePage, kNewIdentityFile);
}

std::string AddressFileChange(const TStoredValues& stored, std::string_view value) {
  static const TUtf8CodePage kAscii;  // the value is base64: ASCII, the same in every code page
  return Changed(stored, kAddressSection, {{kAddressKey, std::string(value)}}, kAscii,
                 kNewAddressFile)
      .bytes;
}

namespace {
constexpr std::string_view kPendingHeader = "companymain-config pending change 1\n";
constexpr std::string_view kPendingEnd = "end\n";
}  // namespace

// A header line, then for each file its name, the length of its bytes before ("-": no file) and
// those bytes, the length of its bytes after and those, each length on a line of its own.
std::string PendingChangeBytes(const std::vector<TPendingFile>& files) {
  std::string bytes(kPendingHeader);
  for (const TPendingFile& file : files) {
    bytes.append(file.name).append("\n");
    if (file.before) {
      bytes.append(std::to_string(file.before->size())).append("\n").append(*file.before);
    } else {
      bytes.append("-\n");
    }
    bytes.append(std::to_string(file.after.size())).append("\n").append(file.after);
  }
  return bytes.append(kPendingEnd);
}

std::optional<std::vector<TPendingFile>> PendingChangeOf(std::string_view bytes) {
  if (!bytes.starts_with(kPendingHeader)) return std::nullopt;
  bytes.remove_prefix(kPendingHeader.size());
  const auto line = [&]() -> std::optional<std::string_view> {
    const std::size_t end = bytes.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view text = bytes.substr(0, end);
    bytes.remove_prefix(end + 1);
    return text;
  };
  // A length on a line of its own, then as many bytes; nullopt when no length, "-" when none.
  const auto counted = [&](bool optional) -> std::optional<std::optional<std::string_view>> {
    const auto length = line();
    if (!length) return std::nullopt;
    if (optional && *length == "-") return std::optional<std::string_view>();
    if (length->empty() || length->size() > 12 ||
        length->find_first_not_of("0123456789") != std::string_view::npos)
      return std::nullopt;
    const std::size_t size = std::stoull(std::string(*length));
    if (size > bytes.size()) return std::nullopt;
    const std::string_view taken = bytes.substr(0, size);
    bytes.remove_prefix(size);
    return std::optional<std::string_view>(taken);
  };
  std::vector<TPendingFile> files;
  while (bytes != kPendingEnd) {
    const auto name = line();
    if (!name) return std::nullopt;
    const auto before = counted(true);
    const auto after = before ? counted(false) : std::nullopt;
    if (!after) return std::nullopt;
    files.push_back({*name, *before, **after});
  }
  return files;
}
