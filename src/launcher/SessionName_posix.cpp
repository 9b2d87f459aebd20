#include "launcher/SessionName_posix.h"

#include <cstdint>
#include <optional>

#include "common/Text.h"
#include "launcher/XDisplay_posix.h"

namespace {

constexpr std::size_t kMaxLength = 64;  // the socket path beside the lock must stay short
constexpr std::string_view kLocalSocketPrefix = "/tmp/.X11-unix/X";

// ":00" and ":0" are one display.
std::string_view WithoutLeadingZeros(std::string_view digits) {
  const std::size_t first = digits.find_first_not_of('0');
  return first == digits.npos ? "0" : digits.substr(first);
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
    const std::string_view part = host.substr(0, dot);
    if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != part.npos)
      return false;
    ++parts;
    if (dot == host.npos) break;
    host.remove_prefix(dot + 1);
    if (host.empty()) return false;
  }
  return parts == 4;
}

std::string LocalDisplay(std::string_view number) {
  return "x11-" + std::string(WithoutLeadingZeros(number));
}

// [protocol/]host:display[.screen], or the path of its socket, as libxcb reads it.
std::string XDisplay(std::string_view text, std::string_view hostName) {
  const std::optional<TXDisplayName> display = ParseXDisplay(text);
  if (!display) return "xinvalid-" + Escape(text);
  if (const std::string_view path = display->socketPath; !path.empty()) {
    if (path.starts_with(kLocalSocketPrefix) &&
        IsDisplayNumber(path.substr(kLocalSocketPrefix.size()))) {
      return LocalDisplay(path.substr(kLocalSocketPrefix.size()));
    }
    return "xsocket-" + Escape(path);
  }
  const std::string host = LowerAscii(display->host);
  if (display->protocol == "unix" || IsThisHost(host, hostName))
    return LocalDisplay(display->number);
  return "x11-" + Escape(host) + "-" + std::string(WithoutLeadingZeros(display->number));
}

std::string WaylandDisplay(std::string_view name, std::string_view runtimeDirectory) {
  if (name.front() == '/' || runtimeDirectory.empty()) return "wayland-" + Escape(name);
  std::string path(runtimeDirectory);
  if (path.back() != '/') path += '/';
  return "wayland-" + Escape(path + std::string(name));
}

}  // namespace

bool IsThisHost(std::string_view host, std::string_view hostName) {
  if (host.empty() || host == "unix" || host == "localhost" || host == "::1" ||
      host == "0:0:0:0:0:0:0:1" || IsLoopbackV4(host)) {
    return true;
  }
  if (host.substr(0, 7) == "::ffff:" && IsLoopbackV4(host.substr(7))) return true;
  const std::string name = LowerAscii(hostName);
  if (name.empty()) return false;
  // "pc1" names the machine whose full name is "pc1.example.com" too.
  return host == name || host == std::string_view(name).substr(0, name.find('.'));
}

std::string SessionNameOf(const TSessionSpelling& spelling) {
  if (!spelling.display.empty()) return Bounded(XDisplay(spelling.display, spelling.hostName));
  if (!spelling.waylandDisplay.empty()) {
    return Bounded(WaylandDisplay(spelling.waylandDisplay, spelling.runtimeDirectory));
  }
  return "nodisplay";
}
