#pragma once

#include <string>

// What the window would be shown on, found the way Qt finds it, without Qt: its choice of
// platform (QT_QPA_PLATFORM; else Wayland when WAYLAND_DISPLAY or XDG_SESSION_TYPE=wayland ask
// for it, then X11), and for each a connection that speaks the display's own protocol: the X
// connection setup, a Wayland round trip. A socket that accepts and hangs up, or that does not
// answer within a few seconds, is no display. A platform that needs no display server
// (offscreen, vnc, ...) is never refused. Leaves nothing open.
struct TDisplayCheck {
  // Why there is no display, in words for one log line; empty when there is one.
  std::string problem;
  // The graphical session as a file-name part: the display server that answered, named by
  // its process (an XWayland display whose sockets its compositor made answers as that
  // compositor), so that every copy of one desktop finds the same name whatever variables it
  // sees; a display on another host by host and number.
  std::string session;
  // Why the window still cannot be shown on the display found (a Wayland display answered,
  // but Qt has no Wayland plugin here and no other platform it tries works); empty otherwise.
  std::string windowProblem;
};

TDisplayCheck CheckDisplay();
