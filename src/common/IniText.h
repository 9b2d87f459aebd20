#pragma once

#include <string>
#include <string_view>

// The longest value a private-profile read returns (its buffer holds 2048 characters).
inline constexpr std::size_t kIniValueMax = 2047;

// Finds a value in the text of an INI file the way the Windows private-profile reader does:
// lines end at any run of CR/LF; section and key names match case-insensitively (ASCII);
// only the first matching section is searched and its first matching key wins; keys before
// the first section are ignored; a section name runs from "[" to the first "]" (or the line's
// end), trimmed; a line without "=" is no key; a key starting with ";" is a comment; names
// and values are trimmed of blanks; one outer pair of matching quotes is removed; a value
// ends at a NUL byte and is cut to kIniValueMax bytes. A leading UTF-8 BOM is skipped.
// The text must already be in the ANSI code page (see IsUtf16LeText). Missing gives "".
std::string IniReadString(std::string_view text, std::string_view section, std::string_view key);

// True when the file text starts with the UTF-16 LE byte order mark; such a file has to be
// converted to the ANSI code page before IniReadString reads it.
bool IsUtf16LeText(std::string_view text);
