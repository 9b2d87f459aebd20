#pragma once

// The window module of the Linux program: the main window and the message boxes, the parts
// that need the GUI toolkit. The launcher loads it only when it has something to show, which
// on the ordinary path is after the browser has started. Only C types cross between the two:
// each side has a C++ runtime of its own.
extern "C" {

// What the launcher lends the module.
struct CompanyMainWindowHost {
  const char* programName;  // argv[0]: the desktop names the program's windows after it
  int activationFd;         // the instance lock's listening socket; -1 when there is none
  void* launcher;           // handed back to the functions below
  // Takes one waiting request of a refused copy; non-zero when a copy of this user sent it.
  int (*acceptActivation)(void* launcher);
  // How the xdg-open started on the way here stands: 0 still running, 1 ended well, 2 failed.
  // Null when none was started. The main window watches it for browserPatience milliseconds
  // at most, then the program ends whatever it does.
  int (*browserState)(void* launcher);
  int browserPatience;
  // The module waits for the user (waiting non-zero) or has stopped waiting: only a message
  // waiting for the user may keep the program from ending for longer than a few seconds.
  void (*waitingForUser)(void* launcher, int waiting);
  // The window cannot be shown: says so on standard error with the reason, and with any
  // message that was to be shown, and ends the program with exit code 1. Never returns.
  void (*fail)(void* launcher, const char* reason);
};

struct CompanyMainWindowCalls {
  int version;
  // Starts the toolkit, once; with withMainWindow, also creates the main window, hidden, so
  // that it exists from then on. Requests of refused copies are taken from then on too.
  void (*open)(const CompanyMainWindowHost* host, int withMainWindow);
  // The program's message box: modal, caption "提示", OK; returns once it is dismissed.
  void (*showMessage)(const char* utf8Text);
  // Shows the main window maximized, runs the event loop, then closes the toolkit. With the
  // end requested the loop ends at once, or, where a browser was started, once it has ended
  // well or the browser's patience has run out; when it failed the user is told first.
  // Returns the loop's exit code.
  int (*run)(int endRequested);
  // Closes the toolkit when run() was never called.
  void (*close)(void);
};

// The one symbol the module exports.
const CompanyMainWindowCalls* CompanyMainWindowEntry(void);
}

inline constexpr int kCompanyMainWindowVersion = 2;
inline constexpr const char* kCompanyMainWindowModule = "CompanyMainWindow.so";
inline constexpr const char* kCompanyMainWindowEntry = "CompanyMainWindowEntry";
