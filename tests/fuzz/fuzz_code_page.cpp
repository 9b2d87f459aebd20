#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "address/Encoding.h"
#include "common/CodePage_posix.h"
#include "common/Utf.h"

namespace {

bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    if (n == 0 || i + n > text.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    i += n;
  }
  return true;
}

}  // namespace

// The first byte picks the code page; the rest is ANSI text in it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const TPosixCodePage pages[] = {TPosixCodePage("UTF-8"), TPosixCodePage("GBK"),
                                         TPosixCodePage("GB18030"), TPosixCodePage("ISO-8859-1"),
                                         TPosixCodePage("BIG5")};
  const TPosixCodePage& page = pages[data[0] % (sizeof pages / sizeof pages[0])];
  const std::string_view ansi(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::u16string units = page.ToUtf16(ansi);
  // Never stops early: every input byte gives at least one unit or is part of one character.
  FUZZ_CHECK(ansi.empty() == units.empty());
  FUZZ_CHECK(units.size() <= ansi.size());
  FUZZ_CHECK(IsUtf8(AnsiToUtf8Text(ansi, page)));
  // Whatever came in, what goes back out reads again as the same characters, but for the
  // replacements.
  const std::string back = page.FromUtf16(units);
  FUZZ_CHECK(page.ToUtf16(back).size() <= units.size() * 2 + 2);
  // Plain ASCII is the same in every one of these code pages.
  std::string ascii;
  for (char c : ansi) ascii += static_cast<char>((c & 0x3F) | 0x40);
  FUZZ_CHECK(Utf16ToUtf8(page.ToUtf16(ascii)) == ascii);
  return 0;
}
