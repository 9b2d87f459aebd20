#pragma once

#include <string>
#include <string_view>

#include "address/CodePage.h"

// Form encoding as the web system reads it: the safe set !$'()*-.0-9@A-Z_a-z is copied, a
// blank becomes "+", every other byte becomes %XX (upper-case hex). Stops at a zero byte.
std::string QueryEncode(std::string_view bytes);

// UTF-16 to UTF-8. A surrogate pair becomes one 4-byte sequence; a lone surrogate, which
// has no UTF-8 form, becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);

// ANSI text of the user's code page to UTF-8.
std::string AnsiToUtf8Text(std::string_view ansi, const TCodePage& codePage);
