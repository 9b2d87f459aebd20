#include "launcher/XDisplay_posix.h"

bool IsDisplayNumber(std::string_view text) {
  return !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == text.npos;
}

std::optional<TXDisplayName> ParseXDisplay(std::string_view text) {
  TXDisplayName name;
  name.screen = "0";
  if (text.empty()) return std::nullopt;

  if (text.front() == '/' || text.starts_with("unix:/")) {
    std::string_view path = text.front() == '/' ? text : text.substr(5);
    if (const std::size_t dot = path.rfind('.');
        dot != path.npos && dot > 0 && IsDisplayNumber(path.substr(dot + 1))) {
      name.screen = path.substr(dot + 1);
      path = path.substr(0, dot);
    }
    if (const std::size_t colon = path.rfind(':');
        colon != path.npos && colon > 0 && IsDisplayNumber(path.substr(colon + 1))) {
      name.number = path.substr(colon + 1);
      path = path.substr(0, colon);
    }
    name.socketPath = path;
    return name;
  }

  if (const std::size_t slash = text.rfind('/'); slash != text.npos) {
    name.protocol = text.substr(0, slash);
    text.remove_prefix(slash + 1);
  }
  const std::size_t colon = text.rfind(':');
  if (colon == text.npos) return std::nullopt;
  std::string_view host = text.substr(0, colon);
  if (!host.empty() && host.back() == ':') host.remove_suffix(1);  // DECnet's "::"
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  name.host = host;
  name.number = text.substr(colon + 1);
  if (const std::size_t dot = name.number.find('.'); dot != name.number.npos) {
    name.screen = name.number.substr(dot + 1);
    name.number = name.number.substr(0, dot);
  }
  if (!IsDisplayNumber(name.number) || !IsDisplayNumber(name.screen)) return std::nullopt;
  return name;
}
