#include "inputs/InstallationFiles.h"

#include <algorithm>

#include "common/Base64.h"
#include "common/Text.h"
#include "common/Utf.h"

std::vector<std::string> IdentityKeys() {
  std::vector<std::string> keys;
  for (const TIdentityField& field : kIdentityFields) keys.emplace_back(field.key);
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

TStoredValues ReadStored(TConfigFolder& folder, const std::string& path, std::string_view section,
                         const std::vector<std::string>& keys, const TCodePage& codePage) {
  static const TUtf8CodePage kUtf8;
  TStoredValues stored{folder.ReadSection(path, section, keys, codePage, kUtf8), {}};
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

std::string IdentityFileBytes(const std::vector<std::string>& utf8Values) {
  std::string text = "\xEF\xBB\xBF[" + std::string(kIdentitySection) + "]\r\n";
  for (std::size_t i = 0; i < kIdentityFieldCount && i < utf8Values.size(); ++i) {
    const std::string& value = utf8Values[i];
    // The reader trims blanks and takes off one pair of outer quotes: quoted, a value reads
    // back exactly as given.
    const bool quote =
        TrimView(value) != value || (value.size() >= 2 && value.front() == value.back() &&
                                     (value.front() == '"' || value.front() == '\''));
    text += kIdentityFields[i].key;
    text += '=';
    text += quote ? "\"" + value + "\"" : value;
    text += "\r\n";
  }
  return Utf16ToBytes(Utf8ToUtf16(text), false);
}

std::string AddressFileBytes(std::string_view value) {
  return "[" + std::string(kAddressSection) + "]\r\n" + std::string(kAddressKey) + "=" +
         std::string(value) + "\r\n";
}
