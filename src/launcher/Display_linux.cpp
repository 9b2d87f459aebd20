#include "launcher/Display_linux.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/File_linux.h"
#include "common/Text.h"
#include "launcher/SessionName_posix.h"
#include "launcher/XDisplay_posix.h"

namespace {

using Clock = std::chrono::steady_clock;

// A display that has not answered within this time, from the name lookup to its reply, is no
// display: the user sees the one line instead of a launcher that never ends.
constexpr std::chrono::milliseconds kPatience(5000);

class Deadline {
 public:
  Deadline() : end_(Clock::now() + kPatience) {}
  // Milliseconds left, at least 0.
  [[nodiscard]] int Left() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  }

 private:
  Clock::time_point end_;
};

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

std::string HostName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return host;
}

// The session as the variables spell it: for displays that are not reached through a socket
// of this machine, and for platforms that need no display server.
std::string SessionFromVariables() {
  const std::string host = HostName();
  return SessionNameOf({.display = Environment("DISPLAY"),
                        .waylandDisplay = Environment("WAYLAND_DISPLAY"),
                        .runtimeDirectory = Environment("XDG_RUNTIME_DIR"),
                        .hostName = host});
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

// The display server behind a connected Unix socket: the process that listens on it, named by
// its number and its start time (a number alone may be reused). The compositors that start
// XWayland make its sockets themselves, so that its X display answers as the compositor.
std::string ServerOf(int fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.pid <= 0) return {};
  std::ifstream stat("/proc/" + std::to_string(peer.pid) + "/stat");
  std::string text;
  std::getline(stat, text);
  // "pid (name) state ppid ..." with the start time as the 22nd field; the name may hold
  // blanks and parentheses, so the fields are counted from its closing one.
  std::string startTime;
  if (const std::size_t close = text.rfind(')'); close != text.npos) {
    std::istringstream fields(text.substr(close + 1));
    for (int field = 3; field <= 22 && fields >> startTime; ++field) {
    }
    if (startTime.find_first_not_of("0123456789") != startTime.npos) startTime.clear();
  }
  // Where the process cannot be seen (/proc mounted with hidepid), the number alone: the
  // copies of a display that went away went with it.
  return "server-" + std::to_string(peer.pid) + (startTime.empty() ? "" : "-" + startTime);
}

TUniqueFd ConnectUnix(const std::string& path, bool abstract, const Deadline& deadline) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;  // an abstract name starts with a NUL byte
  if (path.size() + offset >= sizeof address.sun_path) return {};
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                             path.size() + (abstract ? 0 : 1));
  TUniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return {};
  // A server whose queue is full makes connect() wait: only as long as the deadline allows.
  const int left = deadline.Left();
  const timeval limit{left / 1000, (left % 1000) * 1000};
  if (left == 0 || setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0 ||
      connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    return {};
  }
  return fd;
}

// Waits for fd to become ready for events within the deadline.
bool WaitFor(int fd, short events, const Deadline& deadline) {
  pollfd wait{fd, events, 0};
  int ready = 0;
  do {
    ready = poll(&wait, 1, deadline.Left());
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

// getaddrinfo() may wait on a name server for as long as it likes: the lookup runs on its own
// and is given up at the deadline (a request still running then is left to the end of the
// program, which follows at once, as there is no display).
addrinfo* Resolve(const std::string& host, const std::string& port, const Deadline& deadline) {
  struct Request {
    std::string host, port;
    addrinfo hints{};
    gaicb block{};
  };
  auto* request = new Request{host, port};
  request->hints.ai_family = AF_UNSPEC;
  request->hints.ai_socktype = SOCK_STREAM;
  request->block.ar_name = request->host.c_str();
  request->block.ar_service = request->port.c_str();
  request->block.ar_request = &request->hints;
  gaicb* list[] = {&request->block};
  if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
    delete request;
    return nullptr;
  }
  while (gai_error(&request->block) == EAI_INPROGRESS) {
    const int left = deadline.Left();
    if (left == 0) {
      if (gai_cancel(&request->block) == EAI_NOTCANCELED) return nullptr;  // left running
      break;
    }
    const timespec limit{left / 1000, (left % 1000) * 1000000L};
    gai_suspend(list, 1, &limit);
  }
  addrinfo* found = gai_error(&request->block) == 0 ? request->block.ar_result : nullptr;
  delete request;
  return found;
}

TUniqueFd ConnectTcp(const std::string& host, int number, const Deadline& deadline) {
  addrinfo* found = Resolve(host, std::to_string(6000 + number), deadline);
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, freeaddrinfo);
  for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
    TUniqueFd fd(
        socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, at->ai_protocol));
    if (!fd.Valid()) continue;
    if (connect(fd.Get(), at->ai_addr, at->ai_addrlen) != 0) {
      // A host that drops the packets would keep a blocking connect() for minutes.
      int error = 0;
      socklen_t length = sizeof error;
      if (errno != EINPROGRESS || !WaitFor(fd.Get(), POLLOUT, deadline) ||
          getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        continue;
      }
    }
    return fd;
  }
  return {};
}

// Sends all of data, or reads size bytes, within the deadline; false otherwise.
bool Transfer(int fd, char* data, std::size_t size, bool send, const Deadline& deadline) {
  std::size_t done = 0;
  while (done < size) {
    if (!WaitFor(fd, static_cast<short>(send ? POLLOUT : POLLIN), deadline)) return false;
    const ssize_t n = send ? ::send(fd, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT)
                           : recv(fd, data + done, size - done, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

struct TProbe {
  std::string problem;
  std::string session;
};

// What Qt's xcb plugin does first, done by hand so that the launcher loads no X library:
// connect to the display's socket and open an X connection. A server that asks for an
// authorization (the cookie Qt will bring) is there; one that lets us in also tells its
// number of screens, and a screen number it does not have fails for Qt too.
TProbe X11Probe() {
  if (!IsSet("DISPLAY")) return {"DISPLAY is not set", {}};
  const std::string_view text = Environment("DISPLAY");
  if (text.empty()) return {"DISPLAY is empty", {}};
  TProbe cannot{"cannot connect to X display " + Quoted(text), {}};
  const std::optional<TXDisplayName> display = ParseXDisplay(text);
  if (!display) return cannot;

  const Deadline deadline;
  TUniqueFd fd;
  const std::string protocol = LowerAscii(display->protocol);
  const int number = display->number.empty() ? 0 : std::stoi(std::string(display->number));
  const std::string localSocket = "/tmp/.X11-unix/X" + std::to_string(number);
  const auto connectLocal = [&] {
    TUniqueFd local = ConnectUnix(localSocket, true, deadline);
    return local.Valid() ? std::move(local) : ConnectUnix(localSocket, false, deadline);
  };
  bool tcp = false;
  if (!display->socketPath.empty()) {
    fd = ConnectUnix(std::string(display->socketPath), false, deadline);
  } else if (protocol == "unix" || display->host.empty() || display->host == "unix") {
    fd = connectLocal();
  } else {
    fd = ConnectTcp(std::string(display->host), number, deadline);
    tcp = true;
  }
  if (!fd.Valid()) return cannot;

  // The connection setup: little-endian, protocol 11.0, no authorization.
  char request[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  char reply[32] = {};
  if (!Transfer(fd.Get(), request, sizeof request, true, deadline) ||
      !Transfer(fd.Get(), reply, 8, false, deadline)) {
    return cannot;
  }
  if (reply[0] == 1) {  // let in; otherwise refused for want of authorization: a server is there
    if (!Transfer(fd.Get(), reply + 8, sizeof reply - 8, false, deadline)) return cannot;
    const int screens = static_cast<unsigned char>(reply[28]);
    if (std::stoi(std::string(display->screen)) >= screens) return cannot;
  }

  std::string session;
  if (!tcp) {
    session = ServerOf(fd.Get());
  } else if (IsThisHost(LowerAscii(display->host), HostName())) {
    // The same server as its local socket, if it has one.
    const TUniqueFd local = connectLocal();
    if (local.Valid()) session = ServerOf(local.Get());
  }
  return {{}, session.empty() ? SessionFromVariables() : session};
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

// One Wayland round trip: wl_display.sync, answered by the callback's done event. A socket
// that accepts and hangs up, or that says something else first, is no compositor.
bool WaylandAnswers(int fd, const Deadline& deadline) {
  constexpr std::uint32_t kDisplay = 1, kCallback = 2, kSync = 0, kDone = 0, kError = 0;
  std::uint32_t sync[3] = {kDisplay, (12u << 16) | kSync,
                           kCallback};  // the wire's byte order is ours
  if (!Transfer(fd, reinterpret_cast<char*>(sync), sizeof sync, true, deadline)) return false;
  for (int events = 0; events < 64; ++events) {
    std::uint32_t header[2] = {};
    if (!Transfer(fd, reinterpret_cast<char*>(header), sizeof header, false, deadline))
      return false;
    const std::uint32_t size = header[1] >> 16, opcode = header[1] & 0xffff;
    if (size < sizeof header || size > 4096 || size % 4 != 0) return false;
    if (header[0] == kCallback && opcode == kDone) return true;
    if (header[0] == kDisplay && opcode == kError) return false;
    std::vector<char> body(size - sizeof header);
    if (!body.empty() && !Transfer(fd, body.data(), body.size(), false, deadline)) return false;
  }
  return false;
}

// What libwayland's wl_display_connect() does: a socket handed over in WAYLAND_SOCKET, else
// WAYLAND_DISPLAY ("wayland-0" when unset) inside XDG_RUNTIME_DIR unless it is absolute.
TProbe WaylandProbe() {
  if (const char* handedOver = std::getenv("WAYLAND_SOCKET"); handedOver != nullptr) {
    // Ours to look at, not to speak on: Qt takes the connection over as it is.
    struct stat st {};
    const int fd = std::atoi(handedOver);
    if (fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)) {
      const std::string server = ServerOf(fd);
      return {{}, server.empty() ? SessionFromVariables() : server};
    }
  }
  const std::string name(IsSet("WAYLAND_DISPLAY") ? Environment("WAYLAND_DISPLAY") : "wayland-0");
  std::string path = name;
  if (name.empty() || name.front() != '/') {
    const std::string_view runtime = Environment("XDG_RUNTIME_DIR");
    if (runtime.empty() || runtime.front() != '/')
      return {"no XDG_RUNTIME_DIR for Wayland display " + Quoted(name), {}};
    path = std::string(runtime) + "/" + name;
  }
  const Deadline deadline;
  const TUniqueFd fd = ConnectUnix(path, false, deadline);
  if (!fd.Valid() || !WaylandAnswers(fd.Get(), deadline))
    return {"cannot connect to Wayland display " + Quoted(path), {}};
  const std::string server = ServerOf(fd.Get());
  return {{}, server.empty() ? SessionNameOf({.waylandDisplay = path}) : server};
}

}  // namespace

TDisplayCheck CheckDisplay() {
  std::string reasons;
  std::optional<TProbe> waylandWithoutPlugin;
  const auto add = [&reasons](const std::string& problem) {
    reasons += (reasons.empty() ? "" : "; ") + problem;
  };
  for (const std::string& platform : PlatformOrder()) {
    TProbe probe;
    if (platform == "xcb") {
      probe = X11Probe();
    } else if (platform.rfind("wayland", 0) == 0) {
      probe = WaylandProbe();
      // Qt passes over a platform it has no plugin for; the display is still there.
      if (probe.problem.empty() && !QtHasWaylandPlugin()) {
        waylandWithoutPlugin = probe;
        add("Qt has no Wayland platform plugin here");
        continue;
      }
    } else {
      // offscreen, minimal, vnc, linuxfb, eglfs...: no display server to ask
      return {{}, SessionFromVariables(), {}};
    }
    if (probe.problem.empty()) return {{}, probe.session, {}};
    add(probe.problem);
  }
  if (waylandWithoutPlugin) return {{}, waylandWithoutPlugin->session, reasons};
  return {reasons, {}, {}};
}
