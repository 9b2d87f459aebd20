#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "Latin1CodePage.h"
#include "common/IniText.h"

namespace {

// Latin-1 with one double-byte pair (0xCE 0xDE) so that cuts can fall inside a character.
class SmallCodePage final : public Latin1CodePage {
 public:
  [[nodiscard]] std::size_t CompleteCharacters(std::string_view text) const override {
    std::size_t end = 0;
    while (end < text.size()) {
      const std::size_t next = end + (static_cast<unsigned char>(text[end]) == 0xCE ? 2 : 1);
      if (next > text.size()) break;
      end = next;
    }
    return end;
  }
};

const std::vector<std::string> kKeys = {"CompanyNum", "CompanyName", "CompanyURL"};

// Reads text through the decoder and the scanner in pieces of the given size, with every run
// of more than 8 zero bytes counted instead of read, as the reader does with a sparse file's holes.
TIniValues ReadInPieces(std::string_view text, std::size_t piece, const TCodePage& codePage) {
  TIniTextDecoder decoder(codePage);
  TIniScanner scanner("Company", kKeys, codePage);
  std::string ansi;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t zeros = 0;
    while (at + zeros < text.size() && text[at + zeros] == '\0') ++zeros;
    if (zeros > 8) {
      if (const auto nuls = decoder.NulsOfZeroBytes(zeros)) {
        if (!scanner.FeedNuls(*nuls)) return scanner.Finish();
        at += zeros;
        continue;
      }
    }
    ansi.clear();
    decoder.Feed(text.substr(at, piece), ansi);
    at += piece;
    if (!scanner.Feed(ansi)) return scanner.Finish();
  }
  ansi.clear();
  decoder.Finish(ansi);
  scanner.Feed(ansi);
  return scanner.Finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const SmallCodePage codePage;
  const std::size_t piece = 1 + data[0] % 97;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  const TIniValues whole = IniReadValues(text, "Company", kKeys, codePage);
  for (const std::string& value : whole.values) {
    FUZZ_CHECK(value.size() <= kIniValueMax);
    FUZZ_CHECK(value.find('\0') == std::string::npos);
    FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(codePage.CompleteCharacters(value) == value.size() || value.size() < kIniValueMax);
  }
  // How the file arrives, in pieces or with its zeros counted, never changes what is read.
  FUZZ_CHECK(ReadInPieces(text, piece, codePage) == whole);

  // A value written plainly under its section is read back, whatever comes after it.
  const std::string written =
      "[Company]\nCompanyNum=aGVsbG8=\n" + std::string(text.substr(0, 4096));
  FUZZ_CHECK(IniReadValues(written, "Company", kKeys, codePage).values[0] == "aGVsbG8=");
  return 0;
}
