#pragma once

#include <string>
#include <string_view>

// What a copy knows about the graphical session it was started in. Empty means unset.
struct TSessionSpelling {
  std::string_view display{};           // DISPLAY
  std::string_view waylandDisplay{};    // WAYLAND_DISPLAY
  std::string_view runtimeDirectory{};  // XDG_RUNTIME_DIR, which a relative Wayland name is in
  std::string_view hostName{};          // this machine's own name
};

// The session as the variables spell it, for a display the launcher cannot ask who serves it
// (one on another host, or a platform without a display server), as a file name part
// ([A-Za-z0-9._-], at most 64 characters): the same for every spelling of one display (":0",
// ":0.0", "unix:0", "localhost:0", "127.0.0.1:0", this host's own name, the path of its
// socket), different for different displays and remote hosts. An X display wins over a
// Wayland one.
std::string SessionNameOf(const TSessionSpelling& spelling);

// Whether an X display's host part (lower case) names this machine: none, "unix", the loopback
// addresses, or this machine's own name (hostName, any case), in full or its first part.
bool IsThisHost(std::string_view host, std::string_view hostName);
