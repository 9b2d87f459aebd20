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
  void* lock;               // handed back to acceptActivation
  // Takes one waiting request of a refused copy; non-zero when a copy of this user sent it.
  int (*acceptActivation)(void* lock);
};

struct CompanyMainWindowCalls {
  int version;
  // Starts the toolkit, once; with withMainWindow, also creates the main window, hidden, so
  // that it exists from then on. Requests of refused copies are taken from then on too.
  void (*open)(const CompanyMainWindowHost* host, int withMainWindow);
  // The program's message box: modal, caption "提示", OK; returns once it is dismissed.
  void (*showMessage)(const char* utf8Text);
  // Shows the main window maximized, runs the event loop (to the end at once when the end has
  // been requested), then closes the toolkit. Returns the loop's exit code.
  int (*run)(int endRequested);
  // Closes the toolkit when run() was never called.
  void (*close)(void);
};

// The one symbol the module exports.
const CompanyMainWindowCalls* CompanyMainWindowEntry(void);
}

inline constexpr int kCompanyMainWindowVersion = 1;
inline constexpr const char* kCompanyMainWindowModule = "CompanyMainWindow.so";
inline constexpr const char* kCompanyMainWindowEntry = "CompanyMainWindowEntry";
