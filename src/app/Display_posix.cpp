#include "app/Display_posix.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/XDisplay_posix.h"
#include "common/File_posix.h"
#include "common/Text.h"

namespace {

std::string_view Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

bool IsSet(const char* name) {
  return std::getenv(name) != nullptr;
}

// Quoted for a one-line message, whatever the environment holds.
std::string Quoted(std::string_view text) {
  std::string result = "\"";
  for (const char c : text.substr(0, 200)) result += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  return result + "\"";
}

// The platforms Qt 6 tries, in its order.
std::vector<std::string> PlatformOrder() {
  std::vector<std::string> names;
  std::string_view chosen = Environment("QT_QPA_PLATFORM");
  if (!chosen.empty()) {
    while (!chosen.empty()) {
      const std::size_t end = chosen.find(';');
      const std::string_view entry = chosen.substr(0, end);
      const std::string name = LowerAscii(entry.substr(0, entry.find(':')));  // "xcb:arguments"
      if (!name.empty()) names.push_back(name);
      if (end == chosen.npos) break;
      chosen.remove_prefix(end + 1);
    }
    return names;
  }
  if (IsSet("WAYLAND_DISPLAY") || Environment("XDG_SESSION_TYPE") == "wayland")
    names.emplace_back("wayland");
  names.emplace_back("xcb");
  return names;
}

UniqueFd ConnectUnix(const std::string& path, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;  // an abstract name starts with a NUL byte
  if (path.size() + offset >= sizeof address.sun_path) return {};
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                             path.size() + (abstract ? 0 : 1));
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid() || connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0)
    return {};
  return fd;
}

UniqueFd ConnectTcp(const std::string& host, int number) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(6000 + number);
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return {};
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, freeaddrinfo);
  for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
    UniqueFd fd(socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol));
    if (fd.Valid() && connect(fd.Get(), at->ai_addr, at->ai_addrlen) == 0) return fd;
  }
  return {};
}

// Sends all of data, or reads size bytes, within the time left; false otherwise.
bool Transfer(int fd, char* data, std::size_t size, bool send, int milliseconds) {
  std::size_t done = 0;
  while (done < size) {
    pollfd wait{fd, static_cast<short>(send ? POLLOUT : POLLIN), 0};
    if (poll(&wait, 1, milliseconds) <= 0) return false;
    const ssize_t n =
        send ? write(fd, data + done, size - done) : read(fd, data + done, size - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// What Qt's xcb plugin does first, done by hand so that the launcher loads no X library:
// connect to the display's socket and open an X connection. A server that asks for an
// authorization (the cookie Qt will bring) is there; one that lets us in also tells its
// number of screens, and a screen number it does not have fails for Qt too.
std::string X11Problem() {
  if (!IsSet("DISPLAY")) return "DISPLAY is not set";
  const std::string_view text = Environment("DISPLAY");
  if (text.empty()) return "DISPLAY is empty";
  std::string cannot = "cannot connect to X display " + Quoted(text);
  const std::optional<TXDisplayName> display = ParseXDisplay(text);
  if (!display) return cannot;

  UniqueFd fd;
  const std::string protocol = LowerAscii(display->protocol);
  const int number = display->number.empty() ? 0 : std::stoi(std::string(display->number));
  if (!display->socketPath.empty()) {
    fd = ConnectUnix(std::string(display->socketPath), false);
  } else if (protocol == "unix" || display->host.empty() || display->host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    fd = ConnectUnix(path, true);
    if (!fd.Valid()) fd = ConnectUnix(path, false);
  } else {
    fd = ConnectTcp(std::string(display->host), number);
  }
  if (!fd.Valid()) return cannot;

  // The connection setup: little-endian, protocol 11.0, no authorization.
  char request[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  char reply[32] = {};
  constexpr int kPatience = 5000;  // a server that does not answer at all is no display
  if (!Transfer(fd.Get(), request, sizeof request, true, kPatience) ||
      !Transfer(fd.Get(), reply, 8, false, kPatience)) {
    return cannot;
  }
  if (reply[0] != 1) return {};  // refused for want of authorization: a server is there
  if (!Transfer(fd.Get(), reply + 8, sizeof reply - 8, false, kPatience)) return cannot;
  const int screens = static_cast<unsigned char>(reply[28]);
  if (std::stoi(std::string(display->screen)) >= screens) return cannot;
  return {};
}

// Qt's Wayland platform plugin, where Qt looks for its plugins; without one Qt cannot show
// anything on Wayland, whatever the socket.
bool QtHasWaylandPlugin() {
  std::vector<std::string> folders;
  if (const std::string_view own = Environment("QT_QPA_PLATFORM_PLUGIN_PATH"); !own.empty())
    folders.emplace_back(own);
  std::string_view paths = Environment("QT_PLUGIN_PATH");
  while (!paths.empty()) {
    const std::size_t end = paths.find(':');
    if (end != 0) folders.push_back(std::string(paths.substr(0, end)) + "/platforms");
    if (end == paths.npos) break;
    paths.remove_prefix(end + 1);
  }
  folders.emplace_back(COMPANYMAIN_QT_PLATFORM_PLUGINS);
  for (const std::string& folder : folders) {
    for (const char* plugin : {"/libqwayland-generic.so", "/libqwayland-egl.so"}) {
      struct stat st {};
      if (stat((folder + plugin).c_str(), &st) == 0) return true;
    }
  }
  return false;
}

// What libwayland's wl_display_connect() does: a socket handed over in WAYLAND_SOCKET, else
// WAYLAND_DISPLAY ("wayland-0" when unset) inside XDG_RUNTIME_DIR unless it is absolute.
std::string WaylandProblem() {
  if (!QtHasWaylandPlugin()) return "Qt has no Wayland platform plugin here";
  if (const char* handedOver = std::getenv("WAYLAND_SOCKET"); handedOver != nullptr) {
    struct stat st {};
    const int fd = std::atoi(handedOver);
    if (fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)) return {};
  }
  const std::string name(IsSet("WAYLAND_DISPLAY") ? Environment("WAYLAND_DISPLAY") : "wayland-0");
  std::string path = name;
  if (name.empty() || name.front() != '/') {
    const std::string_view runtime = Environment("XDG_RUNTIME_DIR");
    if (runtime.empty() || runtime.front() != '/')
      return "no XDG_RUNTIME_DIR for Wayland display " + Quoted(name);
    path = std::string(runtime) + "/" + name;
  }
  if (!ConnectUnix(path, false).Valid()) return "cannot connect to Wayland display " + Quoted(path);
  return {};
}

}  // namespace

std::string MissingDisplayReason() {
  std::string reasons;
  for (const std::string& platform : PlatformOrder()) {
    std::string problem;
    if (platform == "xcb") {
      problem = X11Problem();
    } else if (platform.rfind("wayland", 0) == 0) {
      problem = WaylandProblem();
    } else {
      return {};  // offscreen, minimal, vnc, linuxfb, eglfs...: no display server to ask
    }
    if (problem.empty()) return {};
    reasons += (reasons.empty() ? "" : "; ") + problem;
  }
  return reasons;
}
