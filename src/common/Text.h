#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// Removes leading and trailing bytes of value 0x20 or less. 0x7F and bytes from 0x80 up stay,
// so the lead and trail bytes of double-byte characters are never cut.
std::string_view TrimView(std::string_view text);
inline std::string Trim(std::string_view text) {
  return std::string(TrimView(text));
}

// ASCII letters only: names, schemes and hosts; the bytes of other characters stay as they are.
std::string LowerAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// The parts one after another. Building a string this way rather than with "x" + string keeps
// GCC 12 from taking the copy for an overlapping one (-Wrestrict) in optimized builds.
std::string Concat(std::initializer_list<std::string_view> parts);
