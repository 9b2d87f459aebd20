#pragma once

#include <sys/types.h>

#include <string>

// Starts xdg-open, found through PATH, with the address as its only argument, in a session of
// its own, without a shell and without waiting for it. Its process number, or -1 when it
// could not be started.
pid_t StartBrowser(const std::string& address);

enum class TBrowserState { Running, Succeeded, Failed };
// How the xdg-open that StartBrowser started stands, never waiting for it: an exit code other
// than 0, or an end by a signal, is a failure. Once it has ended, it is told only once.
TBrowserState BrowserState(pid_t browser);
