#include "common/IniText.h"

namespace {

// The private-profile reader's notion of white space around names and values.
bool IsIniBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsIniBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsIniBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

bool IsUtf16LeText(std::string_view text) {
  return text.starts_with("\xFF\xFE");
}

std::string IniReadString(std::string_view text, std::string_view section, std::string_view key) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);

  bool inSection = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? text.npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : text.find_first_not_of("\r\n", end);
    if (pos == std::string_view::npos) pos = text.size();

    line = TrimBlanks(line);
    if (line.starts_with('[')) {
      if (inSection) break;  // only the first matching section counts
      std::string_view name = line.substr(1);
      name = TrimBlanks(name.substr(0, name.find(']')));
      inSection = EqualsNoCase(name, section);
      continue;
    }
    if (!inSection) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view name = TrimBlanks(line.substr(0, eq));
    if (name.starts_with(';') || !EqualsNoCase(name, key)) continue;

    std::string_view value = Unquote(TrimBlanks(line.substr(eq + 1)));
    value = value.substr(0, value.find('\0'));
    return std::string(value.substr(0, kIniValueMax));
  }
  return {};
}
