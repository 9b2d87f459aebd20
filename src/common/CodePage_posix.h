#pragma once

#include <string>
#include <string_view>

#include "common/CodePage.h"

// The codeset of the user's locale as the environment chooses it (LC_ALL, LC_CTYPE, LANG).
// It is read without touching the process locale, because Qt moves LC_CTYPE to UTF-8 when it
// starts while the INI files stay in the user's own codeset. The C/POSIX locale's ASCII
// counts as UTF-8.
std::string UserAnsiCodeset();

// The ANSI code page of a POSIX system: its locale's codeset, converted with iconv.
class TPosixCodePage final : public TCodePage {
 public:
  // codeset as nl_langinfo(CODESET) names it ("UTF-8", "GBK", "GB18030", "ISO-8859-1", ...).
  explicit TPosixCodePage(std::string_view codeset);
  static TPosixCodePage ForUserLocale();

  // A bad or unmapped sequence becomes U+FFFD when the codeset is UTF-8 and "?" otherwise;
  // the text after it is still converted.
  [[nodiscard]] std::u16string ToUtf16(std::string_view ansi) const override;
  // A character the code page lacks (or a lone surrogate) becomes "?", as the Windows
  // profile reader writes it.
  [[nodiscard]] std::string FromUtf16(std::u16string_view units) const override;

  // A multi-byte character is never split: UTF-8 sequences, and the lead and trail bytes
  // of the double-byte code pages (GB18030's four-byte forms, EUC's three- and four-byte ones).
  [[nodiscard]] std::size_t CompleteCharacters(std::string_view text) const override;

  enum class Kind { Utf8, Gbk, DoubleByte, SingleByte };
  [[nodiscard]] Kind GetKind() const { return kind_; }
  // How a multi-byte code page tells its lead bytes.
  enum class Scheme { LeadAndTrail, Gb18030, ShiftJis, EucJp, EucTw };

 private:
  Kind kind_;
  Scheme scheme_ = Scheme::LeadAndTrail;
  std::string iconvName_;
};

inline TPosixCodePage TPosixCodePage::ForUserLocale() {
  return TPosixCodePage(UserAnsiCodeset());
}
