#pragma once

#include <string>

// Starts xdg-open, found through PATH, with the address as its only argument, in a session of
// its own, without a shell and without waiting for it. False when it could not be started.
bool StartBrowser(const std::string& address);
