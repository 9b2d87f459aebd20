#include "app/Display_posix.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "common/File_posix.h"

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

std::string Lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

// The platforms Qt 6 tries, in its order.
std::vector<std::string> PlatformOrder() {
  std::vector<std::string> names;
  std::string_view chosen = Environment("QT_QPA_PLATFORM");
  if (!chosen.empty()) {
    while (!chosen.empty()) {
      const std::size_t end = chosen.find(';');
      const std::string_view entry = chosen.substr(0, end);
      const std::string name = Lower(entry.substr(0, entry.find(':')));  // "xcb:arguments"
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

struct XcbDisconnect {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

// What Qt's xcb plugin does first: connect through DISPLAY and XAUTHORITY. A screen number
// the server does not have fails here too, as it does for Qt.
std::string X11Problem() {
  if (!IsSet("DISPLAY")) return "DISPLAY is not set";
  if (Environment("DISPLAY").empty()) return "DISPLAY is empty";
  int screen = 0;
  const std::unique_ptr<xcb_connection_t, XcbDisconnect> connection(xcb_connect(nullptr, &screen));
  if (xcb_connection_has_error(connection.get()) != 0)
    return "cannot connect to X display " + Quoted(Environment("DISPLAY"));
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
  if (IsSet("WAYLAND_SOCKET")) {
    struct stat st {};
    const int fd = std::atoi(std::getenv("WAYLAND_SOCKET"));
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
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const UniqueFd socketFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (path.size() >= sizeof address.sun_path || !socketFd.Valid())
    return "cannot connect to Wayland display " + Quoted(path);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (connect(socketFd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return "cannot connect to Wayland display " + Quoted(path);
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
