#pragma once

#include <string>
#include <string_view>

// Base64 with the standard alphabet. The encoder breaks its output with CR LF after every
// 76 characters (the web system expects exactly this form, line breaks included).
std::string Base64Encode(std::string_view bytes);

// Lenient decoder: characters outside the alphabet are skipped, "=" inside the data does not
// stop it. Never reads outside the characters it collected, whatever the input.
std::string Base64Decode(std::string_view text);
