#pragma once

#include <string>

// Why Qt would find no display to show the window on, in words for one log line; empty when
// it would find one. Follows Qt's own choice of platform (QT_QPA_PLATFORM; else Wayland when
// WAYLAND_DISPLAY or XDG_SESSION_TYPE=wayland ask for it, then X11) and connects the way its
// plugins do. A platform that needs no display server (offscreen, vnc, ...) is never refused.
// Leaves nothing open.
std::string MissingDisplayReason();
