#pragma once

#include <string>
#include <string_view>

#include "common/CodePage.h"

// Form encoding as the web system reads it: the safe set !$'()*-.0-9@A-Z_a-z is copied, a
// blank becomes "+", every other byte becomes %XX (upper-case hex). Stops at a zero byte.
std::string QueryEncode(std::string_view bytes);

// ANSI text of the user's code page to UTF-8.
std::string AnsiToUtf8Text(std::string_view ansi, const TCodePage& codePage);
