#include "launcher/WindowModule_linux.h"

#include <dlfcn.h>
#include <elf.h>
#include <limits.h>
#include <link.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/File_linux.h"
#include "launcher/Browser_posix.h"
#include "launcher/InstanceLock_linux.h"
#include "launch/WindowModule.h"

namespace {

// Starting the toolkit, and then showing the window until the end, each take far less than
// this unless they hang (the toolkit starting threads it cannot have, say).
constexpr int kWindowPatienceSeconds = 10;
// How long the main window watches xdg-open: long enough for it to find no browser, never as
// long as a browser that it runs in the foreground.
constexpr int kBrowserPatienceMilliseconds = 3000;

// What the end of a failed window says besides its reason: the message that was to be shown.
// Made beforehand, as a signal handler may only write it.
char pendingLine[4096];
std::size_t pendingLength = 0;

void SetPending(std::string_view utf8Text) {
  if (utf8Text.empty()) {
    pendingLength = 0;
    return;
  }
  const std::string line = "CompanyMain: " + std::string(utf8Text) + "\n";
  pendingLength = std::min(line.size(), sizeof pendingLine);
  std::memcpy(pendingLine, line.data(), pendingLength);
}

void WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(STDERR_FILENO, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void WriteAll(std::string_view text) {
  WriteAll(text.data(), text.size());
}

constexpr std::string_view kTimedOut = "CompanyMain: cannot show its window (it did not come up)\n";
constexpr std::string_view kBusError =
    "CompanyMain: cannot show its window (its module or a library changed while in use)\n";
constexpr std::string_view kAborted = "CompanyMain: cannot show its window (the toolkit gave up)\n";
constexpr std::string_view kCrashed = "CompanyMain: cannot show its window (the toolkit crashed)\n";

extern "C" void EndFailedWindow(int signal) {
  WriteAll(signal == SIGALRM   ? kTimedOut
           : signal == SIGBUS  ? kBusError
           : signal == SIGABRT ? kAborted
                               : kCrashed);
  WriteAll(pendingLine, pendingLength);
  _exit(1);
}

// The bound on the window: armed from the loading of the module to the end, except while a
// message waits for the user.
void Patience(bool armed) {
  itimerval timer{};
  timer.it_value.tv_sec = armed ? kWindowPatienceSeconds : 0;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

// A toolkit short of memory may abort or crash: the program still ends with its one line and
// exit code 1. A handler somebody else has set (a sanitizer's) stays in place.
void WatchTheWindow() {
  struct sigaction action {};
  action.sa_handler = EndFailedWindow;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGALRM, SIGBUS, SIGABRT, SIGSEGV, SIGILL, SIGFPE}) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
        (current.sa_flags & SA_SIGINFO) == 0) {
      sigaction(signal, &action, nullptr);
    }
  }
  Patience(true);
}

void Report(const std::string& line) {
  WriteAll("CompanyMain: " + line + "\n");
}

int AcceptActivation(void* launcher) {
  auto* lock = static_cast<TPosixInstanceLock*>(launcher);
  return lock != nullptr && lock->AcceptActivation() ? 1 : 0;
}

pid_t watchedBrowser = -1;

int BrowserStateOf(void*) {
  switch (BrowserState(watchedBrowser)) {
    case TBrowserState::Running:
      return 0;
    case TBrowserState::Succeeded:
      return 1;
    case TBrowserState::Failed:
      break;
  }
  return 2;
}

void WaitingForUser(void*, int waiting) {
  Patience(waiting == 0);
}

[[noreturn]] void Fail(void*, const char* reason) {
  Patience(false);
  Report(std::string("cannot show its window (") + (reason != nullptr ? reason : "") + ")");
  WriteAll(pendingLine, pendingLength);
  _exit(1);
}

// Where the module lies: beside the program. A folder too deep to name in one call is named
// through a descriptor of it. When the system cannot tell the program's own path at all, the
// program was started by a path relative to the working directory, which is still where it
// was: the module is found through that.
std::string ModulePath(const std::string& programFolder, TUniqueFd& folderHolder) {
  std::string folder = programFolder;
  if (folder.empty()) {
    const auto* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    const std::string path(started != nullptr ? started : "");
    const std::size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
  } else if (folder.size() + std::string_view(kCompanyMainWindowModule).size() < PATH_MAX) {
    return folder + kCompanyMainWindowModule;
  }
  folderHolder = OpenFolder(folder);
  if (!folderHolder.Valid()) return folder + kCompanyMainWindowModule;
  return "/proc/self/fd/" + std::to_string(folderHolder.Get()) + "/" + kCompanyMainWindowModule;
}

bool ReadAt(int fd, void* data, std::size_t size, off_t offset) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = pread(fd, bytes, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

// Anything but a regular file in the module's place is refused unread: a FIFO, a socket or a
// device left by a half-finished copy. Empty for a regular file.
std::string NotAFile(mode_t mode) {
  if (S_ISREG(mode)) return {};
  const char* kind = S_ISFIFO(mode)                   ? "a FIFO"
                     : S_ISSOCK(mode)                 ? "a socket"
                     : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                     : S_ISDIR(mode)                  ? "a folder"
                                                      : "something else";
  return std::string(kind) + ", not a file";
}

// Why the module cannot be loaded as it is, or empty. A module shorter than its own headers say
// would be mapped all the same, and the first touch of a missing page would end the program
// with SIGBUS (an interrupted copy, say). Empty, too, for a file that is no ELF file of ours,
// which dlopen() then names.
std::string Unusable(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::string("cannot examine it: ") + std::strerror(errno);
  if (std::string kind = NotAFile(st.st_mode); !kind.empty()) return kind;
  const auto size = static_cast<unsigned long long>(st.st_size);
  ElfW(Ehdr) header{};
  if (!ReadAt(fd, &header, sizeof header, 0) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
      header.e_phentsize != sizeof(ElfW(Phdr))) {
    return {};
  }
  unsigned long long needed =
      static_cast<unsigned long long>(header.e_phoff) + header.e_phnum * sizeof(ElfW(Phdr));
  if (header.e_shoff != 0) {
    needed =
        std::max(needed, static_cast<unsigned long long>(header.e_shoff) +
                             static_cast<unsigned long long>(header.e_shnum) * header.e_shentsize);
  }
  if (needed <= size) {
    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    if (!ReadAt(fd, segments.data(), segments.size() * sizeof(ElfW(Phdr)),
                static_cast<off_t>(header.e_phoff))) {
      return "cannot read its program headers";
    }
    for (const ElfW(Phdr) & segment : segments) {
      if (segment.p_type == PT_LOAD)
        needed =
            std::max(needed, static_cast<unsigned long long>(segment.p_offset) + segment.p_filesz);
    }
  }
  if (needed <= size) return {};
  return "the file has " + std::to_string(size) + " bytes, its headers say " +
         std::to_string(needed) + ": an incomplete copy";
}

}  // namespace

TWindowModuleLoader::TWindowModuleLoader(std::string programFolder, std::string programName)
    : programFolder_(std::move(programFolder)), programName_(std::move(programName)) {}

TWindowModuleLoader::~TWindowModuleLoader() {
  if (opened_) calls_->close();
  if (calls_ != nullptr) Patience(false);
}

bool TWindowModuleLoader::Open(bool withMainWindow) {
  if (failed_) return false;
  if (!unusable_.empty()) {
    Report("cannot show its window (" + unusable_ + ")");
    failed_ = true;
    return false;
  }
  if (calls_ == nullptr) {
    // Bounded from here on: the file system holding the module may hang as well as the toolkit.
    WatchTheWindow();
    TUniqueFd folder;
    const std::string path = ModulePath(programFolder_, folder);
    // The module is checked and loaded through one descriptor: what is loaded is what was
    // checked. Without O_NONBLOCK a FIFO in its place would block the open until a writer came.
    const TUniqueFd module(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    std::string problem;
    struct stat st {};
    if (module.Valid()) {
      problem = Unusable(module.Get());
    } else if (stat(path.c_str(), &st) == 0) {
      problem = NotAFile(st.st_mode);  // a socket cannot be opened at all
    }
    const CompanyMainWindowCalls* calls = nullptr;
    if (problem.empty()) {
      const std::string checked =
          module.Valid() ? "/proc/self/fd/" + std::to_string(module.Get()) : path;
      // Never unloaded: the toolkit it brings keeps threads and handlers of its own.
      void* handle = dlopen(checked.c_str(), RTLD_LAZY | RTLD_LOCAL);
      using Entry = const CompanyMainWindowCalls* (*)();
      const auto entry = handle == nullptr
                             ? nullptr
                             : reinterpret_cast<Entry>(dlsym(handle, kCompanyMainWindowEntry));
      calls = entry == nullptr ? nullptr : entry();
      if (calls == nullptr || calls->version != kCompanyMainWindowVersion) {
        const char* why = dlerror();
        problem = why != nullptr ? why : path + ": not a window module of this version";
        // Named by its path, not by the descriptor it was loaded through.
        if (const std::size_t at = problem.find(checked); at != std::string::npos)
          problem.replace(at, checked.size(), path);
        calls = nullptr;
      }
    } else {
      problem = path + ": " + problem;
    }
    if (calls == nullptr) {
      Patience(false);
      Report("cannot load its window module (" + problem + ")");
      failed_ = true;
      return false;
    }
    calls_ = calls;
  }
  watchedBrowser = browser_;
  const CompanyMainWindowHost host = {programName_.c_str(),
                                      lock_ != nullptr ? lock_->ActivationFd() : -1,
                                      lock_,
                                      AcceptActivation,
                                      browser_ > 0 ? BrowserStateOf : nullptr,
                                      kBrowserPatienceMilliseconds,
                                      WaitingForUser,
                                      Fail};
  calls_->open(&host, withMainWindow ? 1 : 0);
  opened_ = true;
  return true;
}

void TWindowModuleLoader::ShowMessage(std::string_view utf8Text, bool withMainWindow) {
  SetPending(utf8Text);
  if (!Open(withMainWindow)) {
    WriteAll(pendingLine, pendingLength);  // told at least where someone may read it
    SetPending({});
    return;
  }
  calls_->showMessage(std::string(utf8Text).c_str());
  SetPending({});
}

void TWindowModuleLoader::RunMainWindow(bool endRequested) {
  if (!Open(true)) return;
  Patience(true);  // the toolkit is up: the window's own time starts
  calls_->run(endRequested ? 1 : 0);
  opened_ = false;  // run() closed the toolkit
}
