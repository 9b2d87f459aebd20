#include "app/SessionName_posix.h"

#include <cstdint>

namespace {

constexpr std::size_t kMaxLength = 64;  // the socket path beside the lock must stay short
constexpr std::string_view kDigits = "0123456789";
constexpr std::string_view kLocalSocketPrefix = "/tmp/.X11-unix/X";

bool IsNumber(std::string_view text) {
  return !text.empty() && text.size() <= 9 && text.find_first_not_of(kDigits) == text.npos;
}

// ":00" and ":0" are one display.
std::string_view WithoutLeadingZeros(std::string_view digits) {
  const std::size_t first = digits.find_first_not_of('0');
  return first == digits.npos ? "0" : digits.substr(first);
}

std::string Lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

// Anything outside [A-Za-z0-9.-] becomes "_hh", so that different texts stay different.
std::string Escape(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string result;
  for (const char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-';
    if (plain) {
      result += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      result += '_';
      result += kHex[byte >> 4];
      result += kHex[byte & 0x0f];
    }
  }
  return result;
}

// Long names are cut; a hash of the whole keeps those that share a beginning apart.
std::string Bounded(std::string name) {
  if (name.size() <= kMaxLength) return name;
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  std::string suffix = "-";
  for (int shift = 60; shift >= 0; shift -= 4) suffix += "0123456789abcdef"[(hash >> shift) & 0x0f];
  name.resize(kMaxLength - suffix.size());
  return name + suffix;
}

bool IsLoopbackV4(std::string_view host) {
  if (host.substr(0, 4) != "127.") return false;
  int parts = 0;
  while (!host.empty()) {
    const std::size_t dot = host.find('.');
    if (!IsNumber(host.substr(0, dot)) || host.substr(0, dot).size() > 3) return false;
    ++parts;
    if (dot == host.npos) break;
    host.remove_prefix(dot + 1);
    if (host.empty()) return false;
  }
  return parts == 4;
}

bool IsThisHost(std::string_view host, std::string_view hostName) {
  if (host.empty() || host == "unix" || host == "localhost" || host == "::1" ||
      host == "0:0:0:0:0:0:0:1" || IsLoopbackV4(host)) {
    return true;
  }
  if (host.substr(0, 7) == "::ffff:" && IsLoopbackV4(host.substr(7))) return true;
  const std::string name = Lower(hostName);
  if (name.empty()) return false;
  // "pc1" names the machine whose full name is "pc1.example.com" too.
  return host == name || host == std::string_view(name).substr(0, name.find('.'));
}

std::string LocalDisplay(std::string_view number) {
  return "x11-" + std::string(WithoutLeadingZeros(number));
}

// A display given as the path of its socket, as libxcb accepts it: "/tmp/.X11-unix/X0",
// "unix:/…", with launchd's ":N" at the end of the name and a screen number after a dot.
std::string SocketDisplay(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot != path.npos && dot > 0 && IsNumber(path.substr(dot + 1))) path = path.substr(0, dot);
  const std::size_t colon = path.rfind(':');
  if (colon != path.npos && colon > 0 && IsNumber(path.substr(colon + 1)))
    path = path.substr(0, colon);
  if (path.substr(0, kLocalSocketPrefix.size()) == kLocalSocketPrefix &&
      IsNumber(path.substr(kLocalSocketPrefix.size()))) {
    return LocalDisplay(path.substr(kLocalSocketPrefix.size()));
  }
  return "xsocket-" + Escape(path);
}

// [protocol/]host:display[.screen], as libxcb reads it.
std::string XDisplay(std::string_view text, std::string_view hostName) {
  if (text.substr(0, 6) == "unix:/") return SocketDisplay(text.substr(5));
  if (text.front() == '/') return SocketDisplay(text);

  const std::string_view whole = text;
  std::string_view protocol;
  if (const std::size_t slash = text.rfind('/'); slash != text.npos) {
    protocol = text.substr(0, slash);
    text.remove_prefix(slash + 1);
  }
  const std::size_t colon = text.rfind(':');
  if (colon == text.npos) return "xinvalid-" + Escape(whole);
  std::string_view host = text.substr(0, colon);
  std::string_view number = text.substr(colon + 1);
  std::string_view screen = "0";
  if (const std::size_t dot = number.find('.'); dot != number.npos) {
    screen = number.substr(dot + 1);
    number = number.substr(0, dot);
  }
  if (!IsNumber(number) || !IsNumber(screen)) return "xinvalid-" + Escape(whole);

  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  const std::string lowerHost = Lower(host);
  if (protocol == "unix" || IsThisHost(lowerHost, hostName)) return LocalDisplay(number);
  return "x11-" + Escape(lowerHost) + "-" + std::string(WithoutLeadingZeros(number));
}

std::string WaylandDisplay(std::string_view name, std::string_view runtimeDirectory) {
  if (name.front() == '/' || runtimeDirectory.empty()) return "wayland-" + Escape(name);
  std::string path(runtimeDirectory);
  if (path.back() != '/') path += '/';
  return "wayland-" + Escape(path + std::string(name));
}

}  // namespace

std::string SessionNameOf(const TSessionSpelling& spelling) {
  if (!spelling.display.empty()) return Bounded(XDisplay(spelling.display, spelling.hostName));
  if (!spelling.waylandDisplay.empty()) {
    return Bounded(WaylandDisplay(spelling.waylandDisplay, spelling.runtimeDirectory));
  }
  return "nodisplay";
}
