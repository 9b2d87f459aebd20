#pragma once

#include <optional>
#include <string_view>

// DISPLAY as the X libraries read it: [protocol/]host:number[.screen], or the path of the
// display's socket ("/tmp/.X11-unix/X0", "unix:/…", launchd's "/…/org.xquartz:0"), with a
// screen number after a dot. The parts point into the text.
struct TXDisplayName {
  std::string_view socketPath;  // the display given by its socket's path; empty otherwise
  std::string_view protocol;    // what stands before a "/", as written ("unix", "tcp", ...)
  std::string_view host;        // without IPv6 brackets; "" or "unix" is this machine's socket
  std::string_view number;      // digits as written (":00" is ":0"); may be empty for a path
  std::string_view screen;      // digits; "0" when none is written
};

// nullopt when the text names no display.
std::optional<TXDisplayName> ParseXDisplay(std::string_view text);

// Digits, at most nine of them: a display or screen number.
bool IsDisplayNumber(std::string_view text);
