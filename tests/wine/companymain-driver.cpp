// Drives CompanyMain.exe under Wine the way a user would: starts copies, finds their windows
// and message boxes by class and caption, reads them, presses OK and restores minimized
// windows. Usage:
//   companymain-driver <CompanyMain.exe> step...
// Steps (NAME names a started copy; HEX is UTF-8 text in hex; times in milliseconds):
//   start NAME [min]        start a copy (min: show command 7), working folder the root of C:
//   attach NAME             take a running copy started by someone else (found by the exe's
//                           file name), for paths CreateProcess refuses
//   box NAME HEX            wait for its message box showing caption "提示", this text and one
//                           OK button, all at once; then the exclamation icon on screen
//   ok NAME                 press OK on that box and wait for the box to go
//   exit NAME               wait for the copy to end with exit code 0, showing no box
//   quiet NAME MS           the copy keeps running for MS without any message box
//   hidden NAME             its main window exists and is hidden
//   disabled NAME           its main window is disabled (a modal box is up)
//   nowindow NAME           it has no main window
//   zoomed NAME             its main window becomes visible and maximized
//   iconic NAME             its window shows minimized (a taskbar entry only)
//   restore NAME X Y W H    restore it from the taskbar; it appears normal at this rectangle
//   launches N              the fake browser has been started N times (lines of C:\browser.log)
//   buttons NAME N          N of its top-level windows would have a taskbar button (visible,
//                           unowned or WS_EX_APPWINDOW, not WS_EX_TOOLWINDOW), each titled
//                           "企业信息管理"
//   taskbar NAME N          Wine's taskbar (a desktop with a shell) shows N buttons for it
//   cover                   a window of the driver's covers the work area and takes the focus
//                           (and the window in front before has taken in that it lost it)
//   click NAME              click its taskbar button
//   front NAME              its message box is the foreground window and uncovered
//   look NAME               print "look NAME" and wait until C:\looked exists (the script has
//                           taken the screenshot NAME), then delete it for the next look
//   watch NAME              from now on, note every window of it that has a taskbar button
//   seen NAME N             exactly N of its windows had a taskbar button at some moment since
//                           its watch began (by the rule of "buttons")
//   windows                 list every visible top-level window: its program, class, caption
//                           and the texts of its visible controls (what a case that ran out of
//                           time left on screen); the exe argument is not used
//   sleep MS
// Steps for an installer's dialogs (a started program's top-level windows and their controls;
// on a failure they print what the program shows):
//   run NAME HEX            start a program by its command line (HEX), in the root of C:
//   dialog NAME HEX         wait for its window that shows a control with exactly this text
//   field NAME N HEX        the dialog's N-th visible edit field (from 0) holds exactly this
//   type NAME N HEX         put this text into it
//   press NAME ID           press the dialog's button of this id once it is enabled
//   alert NAME HEX          wait for a message box whose text holds this, and press its OK
//   alerted NAME HEX        wait for that message box, and leave it up
//   shows NAME HEX          a visible control of the dialog shows text that holds this
//   checked NAME HEX 0|1    the check box with exactly this text is clear or checked
//   check NAME HEX          tick the check box with exactly this text
//   focus NAME N            the keyboard focus is on the dialog's N-th visible edit field
//   ended NAME CODE         wait for it to end with this exit code
//   nofile HEX              no file or folder at this Windows path
// A step for the configuration tool's writer against the platform's:
//   profiles DIR N          for each of DIR\1 .. DIR\N: the changes of change.txt (UTF-8 lines
//                           KEY=VALUE) made with WritePrivateProfileStringW in section Company of
//                           b\Config\Company.ini; then a.dump and b.dump (UTF-8) of both files as
//                           GetPrivateProfileStringW reads them: every key of every section
// Every step that checks a state waits for it (up to 20 s, 60 s for a dialog), reading the
// windows and their texts again each time: a window is on screen before its program answers
// for it. Only when the time is up does it fail, with what it saw last.
// Prints one line per step; exit status 1 at the first failing step.
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kTimeout = 20000;
const wchar_t kCaption[] = L"\u63D0\u793A";                            // 提示
const wchar_t kMainTitle[] = L"\u4F01\u4E1A\u4FE1\u606F\u7BA1\u7406";  // 企业信息管理
const wchar_t kMainClass[] = L"TFrm_CompanyMain";
const wchar_t kCoverClass[] = L"CompanyMainDriverCover";

// A started or attached copy; owns its process and thread handles.
struct Copy {
  PROCESS_INFORMATION process{};
  HWND box = nullptr;

  Copy() = default;
  Copy(const Copy&) = delete;
  Copy& operator=(const Copy&) = delete;
  Copy(Copy&& other) noexcept
      : process(std::exchange(other.process, PROCESS_INFORMATION{})), box(other.box) {}
  Copy& operator=(Copy&& other) noexcept {
    if (this != &other) {
      Close();
      process = std::exchange(other.process, PROCESS_INFORMATION{});
      box = other.box;
    }
    return *this;
  }
  ~Copy() { Close(); }

 private:
  void Close() {
    if (process.hThread != nullptr) CloseHandle(process.hThread);
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  }
};

// Owns a process snapshot, once checked against INVALID_HANDLE_VALUE.
struct SnapshotCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Snapshot = std::unique_ptr<void, SnapshotCloser>;

std::wstring exePath;
std::map<std::string, Copy> copies;

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::string FromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
  }
  return out;
}

[[noreturn]] void Fail(const std::string& step, const std::string& why) {
  std::printf("FAIL %s: %s\n", step.c_str(), why.c_str());
  std::fflush(stdout);
  std::exit(1);
}

// Polls without sleeping: some states last only while the copy starts the browser.
template <class Condition>
bool WaitFor(Condition condition, DWORD timeout = kTimeout, DWORD pause = 20) {
  const ULONGLONG end = GetTickCount64() + timeout;
  do {
    if (condition()) return true;
    if (pause > 0) Sleep(pause);
  } while (GetTickCount64() < end);
  return condition();
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

// Text of a window of another process: WM_GETTEXT is marshalled across processes. Nothing
// when the window's thread did not answer: within 5 s, or at once while Wine holds it hung (it
// has not looked at its messages for 5 s, as a program that starts slowly on a loaded machine
// has not before its first box takes its first message). A step that checks a text reads it
// again until it shows what it must (see WaitFor): a text not read is not an empty text.
std::optional<std::wstring> ReadText(HWND window) {
  wchar_t text[4096] = {};
  DWORD_PTR result = 0;
  if (SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text),
                          SMTO_ABORTIFHUNG, 5000, &result) == 0) {
    return std::nullopt;
  }
  return std::wstring(text);
}

// The text as a step prints it: empty when it could not be read.
std::wstring TextOf(HWND window) {
  return ReadText(window).value_or(L"");
}

// A text read for a report: in quotes, or "(no answer)".
std::string Quoted(const std::optional<std::wstring>& text) {
  return text ? "\"" + Utf8(*text) + "\"" : std::string("(no answer)");
}

// A window as the steps print it: its class, then its text in quotes. Appended piece by piece:
// GCC 12 takes "text" + std::string for an overlapping copy (-Wrestrict) where it inlines it.
std::string Describe(HWND window) {
  std::string described = Utf8(ClassOf(window));
  described += " \"";
  described += Utf8(TextOf(window));
  described += '"';
  return described;
}

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

std::vector<HWND> TopWindows() {
  std::vector<HWND> all;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
  return all;
}

// The copy's visible dialogs (message boxes are of this class).
std::vector<HWND> BoxesOf(const Copy& copy) {
  std::vector<HWND> found;
  for (HWND window : TopWindows()) {
    if (ProcessOf(window) == copy.process.dwProcessId && ClassOf(window) == L"#32770" &&
        IsWindowVisible(window)) {
      found.push_back(window);
    }
  }
  return found;
}

HWND FindBox(const Copy& copy) {
  const std::vector<HWND> boxes = BoxesOf(copy);
  return boxes.empty() ? nullptr : boxes.front();
}

HWND FindMain(const Copy& copy) {
  for (HWND window : TopWindows()) {
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    if (ProcessOf(window) == copy.process.dwProcessId && ClassOf(window) == kMainClass &&
        std::wstring(title) == kMainTitle) {
      return window;
    }
  }
  return nullptr;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> all;
  EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&all));
  return all;
}

// What a message box shows, read at one moment: its caption, its text (the control of id
// 0xFFFF) and its buttons.
struct BoxSeen {
  std::optional<std::wstring> caption, text;
  int buttons = 0;
  bool ok = false;

  explicit BoxSeen(HWND box) : caption(ReadText(box)) {
    for (HWND child : Children(box)) {
      if (GetDlgCtrlID(child) == 0xFFFF) text = ReadText(child);
      if (ClassOf(child) == L"Button") ++buttons;
      if (GetDlgCtrlID(child) == IDOK) ok = true;
    }
  }

  // Caption "提示", exactly this text, one button and it is OK: all at once.
  bool Shows(const std::string& expected) const {
    return caption == std::wstring(kCaption) && text && Utf8(*text) == expected && buttons == 1 &&
           ok;
  }

  std::string Described() const {
    return "caption " + Quoted(caption) + ", text " + Quoted(text) + ", " +
           std::to_string(buttons) + " buttons" + (ok ? " (one of them OK)" : " (none of them OK)");
  }
};

// The window a thread holds active, as Wine's server knows it: the one it last took in
// being activated (nothing once it has taken in losing the focus).
HWND ActiveOfThread(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  return thread != 0 && GetGUIThreadInfo(thread, &info) ? info.hwndActive : nullptr;
}

// The pixels of a rectangle, drawn by draw into a 32-bit bitmap of its size.
template <class Draw>
std::vector<DWORD> Pixels(int width, int height, Draw draw) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC memory = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  std::vector<DWORD> pixels;
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    draw(memory);
    GdiFlush();
    const auto* first = static_cast<const DWORD*>(bits);
    pixels.assign(first, first + static_cast<std::size_t>(width) * height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  return pixels;
}

bool Alike(const std::vector<DWORD>& a, const std::vector<DWORD>& b) {
  if (a.size() != b.size() || a.empty()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      const int x = static_cast<int>((a[i] >> shift) & 0xFF),
                y = static_cast<int>((b[i] >> shift) & 0xFF);
      if (x - y > 8 || y - x > 8) return false;
    }
  }
  return true;
}

// Which of the system's message icons the box shows on screen: what is drawn where its icon
// control is, compared with each of them drawn the same way on the box's background. The
// icon's handle belongs to the box's process; its picture is what the user sees.
std::string IconShown(HWND box) {
  HWND control = nullptr;
  for (HWND child : Children(box)) {
    if (ClassOf(child) == L"Static" &&
        (GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
      control = child;
  }
  if (control == nullptr) return "no icon";
  RECT at{};
  GetWindowRect(control, &at);
  const int width = GetSystemMetrics(SM_CXICON), height = GetSystemMetrics(SM_CYICON);
  HDC screen = GetDC(nullptr);
  const std::vector<DWORD> shown = Pixels(width, height, [&](HDC dc) {
    BitBlt(dc, 0, 0, width, height, screen, at.left, at.top, SRCCOPY);
  });
  const COLORREF background = GetPixel(screen, at.left - 2, at.top + height / 2);
  ReleaseDC(nullptr, screen);
  const struct {
    const wchar_t* id;
    const char* name;
  } icons[] = {{IDI_EXCLAMATION, "exclamation"},
               {IDI_HAND, "error"},
               {IDI_ASTERISK, "information"},
               {IDI_QUESTION, "question"}};
  for (const auto& icon : icons) {
    const std::vector<DWORD> drawn = Pixels(width, height, [&](HDC dc) {
      HBRUSH brush = CreateSolidBrush(background);
      const RECT all{0, 0, width, height};
      FillRect(dc, &all, brush);
      DeleteObject(brush);
      DrawIconEx(dc, 0, 0, LoadIconW(nullptr, icon.id), width, height, 0, nullptr, DI_NORMAL);
    });
    if (Alike(shown, drawn)) return icon.name;
  }
  return "an icon that is none of the system's";
}

// The copy's windows that the taskbar shows a button for, by the system's rule.
std::vector<HWND> ButtonWindows(const Copy& copy) {
  std::vector<HWND> found;
  for (HWND window : TopWindows()) {
    if (ProcessOf(window) != copy.process.dwProcessId || !IsWindowVisible(window)) continue;
    const LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
    if ((exStyle & WS_EX_TOOLWINDOW) != 0) continue;
    if (GetWindow(window, GW_OWNER) == nullptr || (exStyle & WS_EX_APPWINDOW) != 0) {
      found.push_back(window);
    }
  }
  return found;
}

// Every window of a copy that had a taskbar button at any moment, looked for without pause
// on a thread of its own: a window shown for a few milliseconds is seen too.
class ButtonWatch {
 public:
  explicit ButtonWatch(const Copy& copy)
      : thread_([this, &copy] {
          while (!stop_) {
            for (HWND window : ButtonWindows(copy)) {
              const std::lock_guard<std::mutex> hold(mutex_);
              seen_.insert(window);
            }
            Sleep(1);
          }
        }) {}
  ~ButtonWatch() { Stop(); }
  ButtonWatch(const ButtonWatch&) = delete;
  ButtonWatch& operator=(const ButtonWatch&) = delete;

  std::set<HWND> Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  std::atomic<bool> stop_ = false;
  std::mutex mutex_;
  std::set<HWND> seen_;
  std::thread thread_;
};

std::map<std::string, std::unique_ptr<ButtonWatch>> watches;

// The visible buttons of Wine's taskbar that stand for windows of the copy: each is a child
// of the tray window whose control id is the window's handle.
std::vector<HWND> TaskbarButtons(const Copy& copy) {
  std::vector<HWND> found;
  HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  if (tray == nullptr) return found;
  for (HWND button : Children(tray)) {
    const auto target = reinterpret_cast<HWND>(GetWindowLongPtrW(button, GWLP_ID));
    if (IsWindowVisible(button) && target != nullptr && IsWindow(target) &&
        ProcessOf(target) == copy.process.dwProcessId) {
      found.push_back(button);
    }
  }
  return found;
}

// Whether the window (or one of its children) is what the user sees at its centre.
bool Uncovered(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  HWND seen = WindowFromPoint(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
  return seen != nullptr && (seen == window || IsChild(window, seen));
}

// The cover: another program's window over everything but the taskbar, with its own thread
// to answer the system. It is ready once its thread has taken in what the window system said of
// its creation: Wine's X11 driver learns that the window is mapped, exposed and focused from
// events that come back on this thread's X connection, and acts on them (restacking the cover
// over every window) only when the thread next looks at its messages. Taken in later, after a
// click has brought a box up, they would put the cover back over the box for good, with the box
// still the foreground window. So the thread asks the X server a question and waits for its
// answer (SetCursorPos grabs the pointer, which waits for the server's reply: every event sent
// before the reply has arrived by then) and pumps its messages, which acts on what arrived; and
// once more for what acting on them asked of the server (the focus given to the mapped window).
DWORD WINAPI CoverThread(void* ready) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH));
  windowClass.lpszClassName = kCoverClass;
  RegisterClassW(&windowClass);
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  HWND cover = CreateWindowExW(0, kCoverClass, L"cover", WS_POPUP | WS_VISIBLE, work.left, work.top,
                               work.right - work.left, work.bottom - work.top, nullptr, nullptr,
                               windowClass.hInstance, nullptr);
  SetForegroundWindow(cover);
  for (int round = 0; round < 2; ++round) {
    // Another point each time: Wine warps (and asks) only when the position changes.
    SetCursorPos((work.left + work.right) / 2 + round, (work.top + work.bottom) / 2);
    MSG pending{};
    while (PeekMessageW(&pending, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&pending);
  }
  SetEvent(static_cast<HANDLE>(ready));
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

bool Running(const Copy& copy) {
  return WaitForSingleObject(copy.process.hProcess, 0) == WAIT_TIMEOUT;
}

// The image file name of every running process, by process id.
std::map<DWORD, std::wstring> ProcessNames() {
  std::map<DWORD, std::wstring> names;
  HANDLE raw = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (raw == INVALID_HANDLE_VALUE) return names;
  const Snapshot snapshot(raw);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(raw, &entry); more; more = Process32NextW(raw, &entry)) {
    names[entry.th32ProcessID] = entry.szExeFile;
  }
  return names;
}

// The id of the one running process whose image has this file name, or 0.
DWORD ProcessNamed(const std::wstring& fileName) {
  DWORD found = 0;
  for (const auto& [pid, name] : ProcessNames()) {
    if (lstrcmpiW(name.c_str(), fileName.c_str()) == 0) found = pid;
  }
  return found;
}

Copy& Named(const std::string& step, const std::string& name) {
  const auto it = copies.find(name);
  if (it == copies.end()) Fail(step, "no copy named " + name);
  return it->second;
}

std::string RectText(const RECT& r) {
  char text[96];
  std::snprintf(text, sizeof text, "%ld,%ld %ldx%ld", static_cast<long>(r.left),
                static_cast<long>(r.top), static_cast<long>(r.right - r.left),
                static_cast<long>(r.bottom - r.top));
  return text;
}

RECT ExpectedRect(char** args) {
  const long x = std::atol(args[0]);
  const long y = std::atol(args[1]);
  return RECT{x, y, x + std::atol(args[2]), y + std::atol(args[3])};
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// ---- An installer's dialogs ------------------------------------------------------------------

constexpr DWORD kDialogTimeout = 60000;  // an installation runs between two pages
std::map<std::string, HWND> dialogs;

std::wstring Wide(const std::string& utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// The visible controls of a window and of its visible child dialogs.
std::vector<HWND> VisibleControls(HWND window) {
  std::vector<HWND> found;
  for (HWND child : Children(window)) {
    HWND w = child;
    bool visible = true;
    for (; w != nullptr && w != window; w = GetParent(w)) visible = visible && IsWindowVisible(w);
    if (visible) found.push_back(child);
  }
  return found;
}

std::vector<HWND> VisibleWindowsOf(const Copy& copy) {
  std::vector<HWND> found;
  for (HWND window : TopWindows()) {
    if (ProcessOf(window) == copy.process.dwProcessId && IsWindowVisible(window))
      found.push_back(window);
  }
  return found;
}

// What the program shows: each visible window with the texts of its controls.
std::string ShownText(const Copy& copy) {
  std::string shown;
  for (HWND window : VisibleWindowsOf(copy)) {
    shown += " [" + Utf8(TextOf(window)) + "]";
    for (HWND control : VisibleControls(window)) {
      const std::string text = Utf8(TextOf(control));
      if (!text.empty()) shown += " \"" + text + "\"";
    }
  }
  return shown.empty() ? " (no window)" : shown;
}

// The message boxes of the copy: its visible dialogs other than its main one with a message
// text (the control of id 0xFFFF).
std::vector<HWND> AlertsOf(const Copy& copy, HWND main) {
  std::vector<HWND> found;
  for (HWND window : VisibleWindowsOf(copy)) {
    if (window == main || ClassOf(window) != L"#32770") continue;
    for (HWND child : Children(window)) {
      if (GetDlgCtrlID(child) == 0xFFFF) {
        found.push_back(window);
        break;
      }
    }
  }
  return found;
}

std::vector<HWND> EditFields(HWND dialog) {
  std::vector<HWND> edits;
  for (HWND control : VisibleControls(dialog))
    if (ClassOf(control) == L"Edit") edits.push_back(control);
  return edits;
}

// The dialog's visible check box with exactly this text.
HWND CheckBox(HWND dialog, const std::wstring& label) {
  for (HWND control : VisibleControls(dialog))
    if (ClassOf(control) == L"Button" && ReadText(control) == label) return control;
  return nullptr;
}

// One step of the dialog steps at args[0]; the number of arguments it took, 0 when it is none
// of them.
int DialogStep(int available, char** args) {
  const std::string step = args[0];
  const auto need = [&](int n) {
    if (n >= available) Fail(step, "missing arguments");
  };
  const auto fail = [&](const Copy& copy, const std::string& why) {
    Fail(step, why + "; on screen:" + ShownText(copy));
  };
  const auto dialogOf = [&](const Copy& copy, const std::string& name) {
    const auto found = dialogs.find(name);
    if (found == dialogs.end() || !IsWindow(found->second)) fail(copy, "no dialog of " + name);
    return found->second;
  };
  if (step == "run") {
    need(2);
    std::wstring commandLine = Wide(FromHex(args[2]));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    Copy copy;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, L"C:\\",
                        &startup, &copy.process)) {
      Fail(step, "CreateProcess failed, error " + std::to_string(GetLastError()));
    }
    copies[args[1]] = std::move(copy);
    std::printf("ok run %s: %s\n", args[1], Utf8(commandLine).c_str());
    return 3;
  }
  if (step == "dialog") {
    need(2);
    Copy& copy = Named(step, args[1]);
    const std::wstring expected = Wide(FromHex(args[2]));
    HWND found = nullptr;
    WaitFor(
        [&] {
          for (HWND window : VisibleWindowsOf(copy)) {
            for (HWND control : VisibleControls(window)) {
              if (TextOf(control) == expected) found = window;
            }
          }
          return found != nullptr || !Running(copy);
        },
        kDialogTimeout, 100);
    if (found == nullptr) fail(copy, "no window shows \"" + Utf8(expected) + "\"");
    dialogs[args[1]] = found;
    std::printf("ok dialog of %s shows \"%s\"\n", args[1], Utf8(expected).c_str());
    return 3;
  }
  if (step == "field" || step == "type") {
    need(3);
    Copy& copy = Named(step, args[1]);
    HWND dialog = dialogOf(copy, args[1]);
    const std::size_t n = static_cast<std::size_t>(std::atol(args[2]));
    const std::wstring text = Wide(FromHex(args[3]));
    std::vector<HWND> edits;
    std::optional<std::wstring> held;
    bool typed = step != "type";
    // The field, and its text, read again until it holds this (a page fills its fields as it
    // comes up; typed, it is set once and read back).
    const bool holds = WaitFor([&] {
      edits = EditFields(dialog);
      if (n >= edits.size()) return false;
      if (!typed) {
        DWORD_PTR result = 0;
        typed = SendMessageTimeoutW(edits[n], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                    SMTO_ABORTIFHUNG, 5000, &result) != 0;
        if (!typed) return false;
      }
      held = ReadText(edits[n]);
      return held == text;
    });
    if (n >= edits.size()) fail(copy, "no edit field " + std::to_string(n));
    if (!holds) {
      fail(copy, "field " + std::to_string(n) + (typed ? "" : " took no text;") + " holds " +
                     Quoted(held) + ", expected \"" + Utf8(text) + "\"");
    }
    std::printf("ok field %zu of %s: \"%s\"\n", n, args[1], Utf8(text).c_str());
    return 4;
  }
  if (step == "press") {
    need(2);
    Copy& copy = Named(step, args[1]);
    HWND dialog = dialogOf(copy, args[1]);
    const int id = std::atoi(args[2]);
    HWND button = GetDlgItem(dialog, id);
    if (button == nullptr || !WaitFor([&] { return IsWindowEnabled(button) != FALSE; }))
      fail(copy, "no enabled button " + std::to_string(id));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    std::printf("ok pressed button %d of %s (\"%s\")\n", id, args[1], Utf8(TextOf(button)).c_str());
    return 3;
  }
  if (step == "alert" || step == "alerted") {
    need(2);
    Copy& copy = Named(step, args[1]);
    const auto main = dialogs.find(args[1]);
    const std::string expected = FromHex(args[2]);
    // A message box whose text holds this, its text read again until it does (or the program
    // ends, or the time is up); then what was last seen is told.
    HWND box = nullptr;
    std::optional<std::wstring> text;
    bool any = false;
    WaitFor([&] {
      for (HWND candidate : AlertsOf(copy, main == dialogs.end() ? nullptr : main->second)) {
        any = true;
        text = std::nullopt;
        for (HWND child : Children(candidate))
          if (GetDlgCtrlID(child) == 0xFFFF) text = ReadText(child);
        if (text && Utf8(*text).find(expected) != std::string::npos) {
          box = candidate;
          return true;
        }
      }
      return !Running(copy);
    });
    if (!any) fail(copy, "no message box");
    if (box == nullptr)
      fail(copy, "the message box says " + Quoted(text) + ", not \"" + expected + "\"");
    const std::string said = Utf8(*text);
    if (step == "alerted") {
      std::printf("ok message box of %s is up: \"%s\"\n", args[1], said.c_str());
      return 3;
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    if (!WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000))
      fail(copy, "the message box stayed");
    std::printf("ok message box of %s: \"%s\"\n", args[1], said.c_str());
    return 3;
  }
  if (step == "shows") {
    need(2);
    Copy& copy = Named(step, args[1]);
    HWND dialog = dialogOf(copy, args[1]);
    const std::string expected = FromHex(args[2]);
    std::string seen;
    if (!WaitFor([&] {
          for (HWND control : VisibleControls(dialog)) {
            const std::string text = Utf8(TextOf(control));
            if (text.find(expected) != std::string::npos) {
              seen = text;
              return true;
            }
          }
          return false;
        })) {
      fail(copy, "nothing shows \"" + expected + "\"");
    }
    std::printf("ok %s shows \"%s\"\n", args[1], seen.c_str());
    return 3;
  }
  if (step == "checked") {
    need(3);
    Copy& copy = Named(step, args[1]);
    HWND dialog = dialogOf(copy, args[1]);
    const std::wstring label = Wide(FromHex(args[2]));
    const bool expected = std::string(args[3]) == "1";
    HWND box = nullptr;
    bool read = false, checked = false;
    // The check box and its state, read again until it is as expected.
    WaitFor([&] {
      box = CheckBox(dialog, label);
      DWORD_PTR state = 0;
      read = box != nullptr &&
             SendMessageTimeoutW(box, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state) != 0;
      checked = state == BST_CHECKED;
      return read && checked == expected;
    });
    if (box == nullptr) fail(copy, "no check box \"" + Utf8(label) + "\"");
    if (!read) fail(copy, "the check box \"" + Utf8(label) + "\" did not answer");
    if (checked != expected)
      fail(copy, std::string("the check box is ") + (checked ? "checked" : "clear"));
    std::printf("ok \"%s\" is %s\n", Utf8(label).c_str(), checked ? "checked" : "clear");
    return 4;
  }
  if (step == "check") {
    need(2);
    Copy& copy = Named(step, args[1]);
    HWND dialog = dialogOf(copy, args[1]);
    const std::wstring label = Wide(FromHex(args[2]));
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = CheckBox(dialog, label)) != nullptr; }))
      fail(copy, "no check box \"" + Utf8(label) + "\"");
    // A click, as a user's: the dialog hears of it as it would of the mouse.
    DWORD_PTR result = 0;
    SendMessageTimeoutW(box, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    std::printf("ok ticked \"%s\"\n", Utf8(label).c_str());
    return 3;
  }
  if (step == "focus") {
    need(2);
    Copy& copy = Named(step, args[1]);
    HWND dialog = dialogOf(copy, args[1]);
    const std::size_t n = static_cast<std::size_t>(std::atol(args[2]));
    std::vector<HWND> edits;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
    if (!WaitFor([&] {
          edits = EditFields(dialog);
          return n < edits.size() && GetGUIThreadInfo(thread, &info) && info.hwndFocus == edits[n];
        })) {
      if (n >= edits.size()) fail(copy, "no edit field " + std::to_string(n));
      std::string on = "nothing";
      for (std::size_t i = 0; i < edits.size(); ++i)
        if (edits[i] == info.hwndFocus) on = "edit field " + std::to_string(i);
      if (on == "nothing" && info.hwndFocus != nullptr)
        on = "\"" + Utf8(TextOf(info.hwndFocus)) + "\" (" + Utf8(ClassOf(info.hwndFocus)) + ")";
      fail(copy, "the focus is on " + on + ", not on edit field " + std::to_string(n));
    }
    std::printf("ok the focus is on edit field %zu of %s\n", n, args[1]);
    return 3;
  }
  if (step == "ended") {
    need(2);
    Copy& copy = Named(step, args[1]);
    if (WaitForSingleObject(copy.process.hProcess, kDialogTimeout) != WAIT_OBJECT_0)
      fail(copy, std::string(args[1]) + " did not end");
    DWORD code = 0;
    GetExitCodeProcess(copy.process.hProcess, &code);
    if (code != static_cast<DWORD>(std::atol(args[2])))
      Fail(step, "exit code " + std::to_string(code));
    std::printf("ok %s ended with exit code %lu\n", args[1], static_cast<unsigned long>(code));
    return 3;
  }
  if (step == "nofile") {
    need(1);
    const std::wstring path = Wide(FromHex(args[1]));
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
      Fail(step, Utf8(path) + " exists");
    std::printf("ok no %s\n", Utf8(path).c_str());
    return 2;
  }
  return 0;
}

// Every key of every section, as the profile reader lists and reads them, a line each, and the
// identity's keys in each section and before the first (Wine lists no key of a section whose
// first key has no name, and no section without a name).
std::string ProfileDump(const std::wstring& path) {
  const auto list = [&path](const wchar_t* section) {
    std::wstring names(1 << 16, L'\0');
    names.resize(section == nullptr
                     ? GetPrivateProfileSectionNamesW(
                           names.data(), static_cast<DWORD>(names.size()), path.c_str())
                     : GetPrivateProfileStringW(section, nullptr, L"", names.data(),
                                                static_cast<DWORD>(names.size()), path.c_str()));
    // By the length given back: a name may be empty.
    std::vector<std::wstring> listed;
    for (std::size_t at = 0; at < names.size(); at += listed.back().size() + 1)
      listed.emplace_back(names.c_str() + at);
    return listed;
  };
  std::vector<std::wstring> sections = list(nullptr);
  sections.insert(sections.begin(), L"");
  std::string dump;
  for (const std::wstring& section : sections) {
    std::vector<std::wstring> keys = list(section.c_str());
    for (const wchar_t* key :
         {L"CompanyNum", L"CompanyType", L"CompanyName", L"DeviceId", L"UploadUser", L"OtherInfo"})
      keys.emplace_back(key);
    for (const std::wstring& key : keys) {
      std::wstring value(4096, L'\0');
      value.resize(GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", value.data(),
                                            static_cast<DWORD>(value.size()), path.c_str()));
      dump += "[" + Utf8(section) + "] " + Utf8(key) + "=" + Utf8(value) + "\n";
    }
  }
  return dump;
}

int ProfilesStep(const std::string& top, int count) {
  const auto write = [](const std::wstring& path, const std::string& bytes) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    const bool ok =
        file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return (file == nullptr || std::fclose(file) == 0) && ok;
  };
  for (int n = 1; n <= count; ++n) {
    const std::wstring dir = Wide(top) + L"\\" + std::to_wstring(n) + L"\\";
    FILE* changes = _wfopen((dir + L"change.txt").c_str(), L"rb");
    if (changes == nullptr) Fail("profiles", "no change.txt in " + Utf8(dir));
    char line[8192];
    const std::wstring platform = dir + L"b\\Config\\Company.ini";
    while (std::fgets(line, sizeof line, changes) != nullptr) {
      std::string text(line);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      const std::size_t equals = text.find('=');
      if (equals == std::string::npos) continue;
      WritePrivateProfileStringW(L"Company", Wide(text.substr(0, equals)).c_str(),
                                 Wide(text.substr(equals + 1)).c_str(), platform.c_str());
    }
    std::fclose(changes);
    if (!write(dir + L"a.dump", ProfileDump(dir + L"a\\Config\\Company.ini")) ||
        !write(dir + L"b.dump", ProfileDump(platform)))
      Fail("profiles", "cannot write the dumps in " + Utf8(dir));
  }
  std::printf("ok %d changes made by the platform, %d pairs read\n", count, count);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** wargv) {
  if (argc < 2) {
    std::printf("usage: companymain-driver <CompanyMain.exe> step...\n");
    return 2;
  }
  exePath = wargv[1];
  std::vector<std::string> storage;
  for (int i = 0; i < argc; ++i) storage.push_back(Utf8(wargv[i]));
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());

  for (int i = 2; i < argc;) {
    const std::string step = argv[i];
    const auto need = [&](int n) {
      if (i + n >= argc) Fail(step, "missing arguments");
    };
    if (step == "start") {
      need(1);
      const std::string name = argv[i + 1];
      const bool minimized = i + 2 < argc && std::string(argv[i + 2]) == "min";
      STARTUPINFOW startup{};
      startup.cb = sizeof startup;
      startup.dwFlags = STARTF_USESHOWWINDOW;
      startup.wShowWindow = minimized ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL;
      std::wstring commandLine = L"\"" + exePath + L"\"";
      Copy copy;
      if (!CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          L"C:\\", &startup, &copy.process)) {
        Fail(step, "CreateProcess failed, error " + std::to_string(GetLastError()));
      }
      copies[name] = std::move(copy);
      std::printf("ok start %s%s\n", name.c_str(), minimized ? " minimized" : "");
      i += minimized ? 3 : 2;
    } else if (step == "attach") {
      need(1);
      const std::string name = argv[i + 1];
      const std::size_t slash = exePath.find_last_of(L"\\/");
      const std::wstring fileName =
          slash == std::wstring::npos ? exePath : exePath.substr(slash + 1);
      DWORD pid = 0;
      if (!WaitFor([&] { return (pid = ProcessNamed(fileName)) != 0; })) {
        Fail(step, "no running process " + Utf8(fileName));
      }
      Copy copy;
      copy.process.dwProcessId = pid;
      copy.process.hProcess =
          OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
      if (copy.process.hProcess == nullptr) {
        Fail(step, "OpenProcess failed, error " + std::to_string(GetLastError()));
      }
      copies[name] = std::move(copy);
      std::printf("ok attached %s\n", name.c_str());
      i += 2;
    } else if (step == "box") {
      need(2);
      Copy& copy = Named(step, argv[i + 1]);
      const std::string expected = FromHex(argv[i + 2]);
      // A box of the copy that shows the caption, the text and the one OK button together:
      // each is read again until they do (a box is on screen a moment before the program's
      // thread answers for it), or the copy ends, or the time is up.
      HWND box = nullptr;
      std::optional<BoxSeen> last;
      WaitFor([&] {
        for (HWND candidate : BoxesOf(copy)) {
          last.emplace(candidate);
          if (last->Shows(expected)) {
            box = candidate;
            return true;
          }
        }
        return !Running(copy);
      });
      if (box == nullptr) {
        DWORD code = 0;
        GetExitCodeProcess(copy.process.hProcess, &code);
        const std::string how =
            Running(copy) ? " within 20 s" : " (it ended with code " + std::to_string(code) + ")";
        if (!last) {
          Fail(step, std::string(argv[i + 1]) + (Running(copy)
                                                     ? " showed no message box within 20 s"
                                                     : " ended with code " + std::to_string(code) +
                                                           " and showed no message box"));
        }
        Fail(step, "no box of " + std::string(argv[i + 1]) + " showed caption \"" + Utf8(kCaption) +
                       "\", text \"" + expected + "\" and one OK button" + how +
                       "; last seen: " + last->Described());
      }
      // Read from the screen once the box has been drawn there.
      std::string icon;
      WaitFor([&] { return (icon = IconShown(box)) == "exclamation"; }, kTimeout, 50);
      if (icon != "exclamation") Fail(step, "the box shows " + icon + ", not the exclamation");
      copy.box = box;
      std::printf("ok box %s \"%s\"\n", argv[i + 1], expected.c_str());
      i += 3;
    } else if (step == "ok") {
      need(1);
      Copy& copy = Named(step, argv[i + 1]);
      if (copy.box == nullptr) Fail(step, "no box seen");
      HWND button = GetDlgItem(copy.box, IDOK);
      PostMessageW(copy.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
      HWND box = copy.box;
      if (!WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000)) {
        Fail(step, "the box stayed");
      }
      copy.box = nullptr;
      std::printf("ok pressed OK on %s\n", argv[i + 1]);
      i += 2;
    } else if (step == "exit") {
      need(1);
      Copy& copy = Named(step, argv[i + 1]);
      HWND box = nullptr;
      const bool ended = WaitFor([&] {
        box = FindBox(copy);
        return box != nullptr || !Running(copy);
      });
      if (box != nullptr)
        Fail(step, "unexpected message box \"" + Utf8(TextOf(GetDlgItem(box, 0xFFFF))) + "\"");
      if (!ended) Fail(step, std::string(argv[i + 1]) + " did not end");
      DWORD code = 1;
      GetExitCodeProcess(copy.process.hProcess, &code);
      if (code != 0) Fail(step, "exit code " + std::to_string(code));
      std::printf("ok %s ended with exit code 0\n", argv[i + 1]);
      i += 2;
    } else if (step == "quiet") {
      need(2);
      Copy& copy = Named(step, argv[i + 1]);
      const DWORD ms = static_cast<DWORD>(std::atol(argv[i + 2]));
      HWND box = nullptr;
      WaitFor([&] { return (box = FindBox(copy)) != nullptr || !Running(copy); }, ms);
      if (box != nullptr)
        Fail(step, "message box \"" + Utf8(TextOf(GetDlgItem(box, 0xFFFF))) + "\"");
      if (!Running(copy)) Fail(step, std::string(argv[i + 1]) + " ended");
      std::printf("ok %s waits quietly\n", argv[i + 1]);
      i += 3;
    } else if (step == "hidden" || step == "disabled" || step == "nowindow") {
      need(1);
      Copy& copy = Named(step, argv[i + 1]);
      // Waited for, as every state a step checks: "nowindow" holds at once when it holds.
      std::string seen;
      const bool holds = WaitFor([&] {
        HWND main = FindMain(copy);
        if (step == "nowindow") {
          seen = "it has a main window";
          return main == nullptr;
        }
        if (main == nullptr) {
          seen = "no window of class TFrm_CompanyMain with its caption";
          return false;
        }
        if (step == "hidden") {
          seen = "the window is visible";
          return IsWindowVisible(main) == FALSE;
        }
        seen = "the window is enabled";
        return IsWindowEnabled(main) == FALSE;
      });
      if (!holds) Fail(step, seen);
      std::printf("ok %s %s\n", argv[i + 1], step.c_str());
      i += 2;
    } else if (step == "zoomed") {
      need(1);
      Copy& copy = Named(step, argv[i + 1]);
      if (!WaitFor(
              [&] {
                HWND main = FindMain(copy);
                return main != nullptr && IsWindowVisible(main) && IsZoomed(main);
              },
              kTimeout, 0)) {
        Fail(step, "the window never showed maximized");
      }
      std::printf("ok %s maximized\n", argv[i + 1]);
      i += 2;
    } else if (step == "iconic") {
      need(1);
      Copy& copy = Named(step, argv[i + 1]);
      if (!WaitFor([&] {
            HWND main = FindMain(copy);
            return main != nullptr && IsWindowVisible(main) && IsIconic(main);
          })) {
        Fail(step, "the window never showed minimized");
      }
      std::printf("ok %s minimized\n", argv[i + 1]);
      i += 2;
    } else if (step == "launches") {
      need(1);
      const long expected = std::atol(argv[i + 1]);
      // The browser may still be writing its line: the count is read until it is N.
      long lines = 0;
      WaitFor([&] {
        lines = 0;
        if (FILE* log = _wfopen(L"C:\\browser.log", L"rb")) {
          for (int c; (c = std::fgetc(log)) != EOF;) lines += c == '\n';
          std::fclose(log);
        }
        return lines == expected;
      });
      if (lines != expected)
        Fail(step, "the browser was started " + std::to_string(lines) + " times");
      std::printf("ok browser started %ld times\n", lines);
      i += 2;
    } else if (step == "restore") {
      need(5);
      Copy& copy = Named(step, argv[i + 1]);
      const RECT expected = ExpectedRect(&argv[i + 2]);
      {
        HWND main = FindMain(copy);
        if (main == nullptr) Fail(step, "no window");
        // What the taskbar button sends when it is clicked.
        PostMessageW(main, WM_SYSCOMMAND, SC_RESTORE, 0);
        // Restoring is not one step (the style may change a moment before the rectangle
        // leaves the minimized position, -32000, -32000): wait for the whole state.
        RECT seen{};
        bool back = false, zoomed = false;
        if (!WaitFor(
                [&] {
                  back = IsWindow(main) && IsWindowVisible(main) && !IsIconic(main);
                  GetWindowRect(main, &seen);
                  zoomed = IsZoomed(main) != FALSE;
                  back = back && seen.left != -32000 && seen.top != -32000;
                  return back && !zoomed && SameRect(seen, expected);
                },
                kTimeout, 0)) {
          if (!back) Fail(step, "the window never came back");
          if (zoomed) Fail(step, "restored maximized");
          Fail(step, "restored at " + RectText(seen));
        }
        std::printf("ok %s restored at %s\n", argv[i + 1], RectText(seen).c_str());
      }
      i += 6;
    } else if (step == "buttons") {
      need(2);
      Copy& copy = Named(step, argv[i + 1]);
      const std::size_t expected = static_cast<std::size_t>(std::atol(argv[i + 2]));
      std::vector<HWND> seen;
      std::string list;
      // Showing and hiding are not one step: wait for the count to settle at N, each titled.
      const bool settled = WaitFor([&] {
        seen = ButtonWindows(copy);
        list.clear();
        bool titled = true;
        for (HWND window : seen) {
          const std::optional<std::wstring> title = ReadText(window);
          titled = titled && title == std::wstring(kMainTitle);
          list += ' ' + Utf8(ClassOf(window)) + ' ' + Quoted(title);
        }
        return seen.size() == expected && titled;
      });
      if (seen.size() != expected) {
        Fail(step, std::to_string(seen.size()) + " windows with a taskbar button:" + list);
      }
      if (!settled) Fail(step, "a taskbar button titled otherwise:" + list);
      std::printf("ok %s has %zu taskbar buttons:%s\n", argv[i + 1], seen.size(), list.c_str());
      i += 3;
    } else if (step == "taskbar") {
      need(2);
      Copy& copy = Named(step, argv[i + 1]);
      if (FindWindowW(L"Shell_TrayWnd", nullptr) == nullptr) Fail(step, "no taskbar");
      const std::size_t expected = static_cast<std::size_t>(std::atol(argv[i + 2]));
      std::vector<HWND> seen;
      WaitFor([&] { return (seen = TaskbarButtons(copy)).size() == expected; });
      std::string list;
      for (HWND button : seen) {
        list +=
            " \"" + Utf8(TextOf(reinterpret_cast<HWND>(GetWindowLongPtrW(button, GWLP_ID)))) + "\"";
      }
      if (seen.size() != expected) {
        Fail(step, "the taskbar shows " + std::to_string(seen.size()) + " buttons:" + list);
      }
      std::printf("ok the taskbar shows %zu buttons for %s:%s\n", seen.size(), argv[i + 1],
                  list.c_str());
      i += 3;
    } else if (step == "cover") {
      // The window in front before the cover: Wine tells its thread that it lost the focus by a
      // message that thread takes in when it next looks at its messages.
      HWND before = GetForegroundWindow();
      HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      HANDLE thread = CreateThread(nullptr, 0, CoverThread, ready, 0, nullptr);
      if (thread == nullptr || WaitForSingleObject(ready, kTimeout) != WAIT_OBJECT_0) {
        Fail(step, "no cover window");
      }
      CloseHandle(thread);
      CloseHandle(ready);
      HWND cover = FindWindowW(kCoverClass, nullptr);
      // Covered is all of it at once (the cover's thread has taken in its creation, see
      // CoverThread): the cover in front, every box out of sight, and the window in front
      // before no longer active in its own thread (Wine tells that thread by a message it takes
      // in when it next looks at its messages; until then it still counts its box active).
      std::string seen;
      if (!WaitFor([&] {
            if (GetForegroundWindow() != cover) {
              seen = "the cover did not come to the foreground";
              return false;
            }
            for (auto& [name, copy] : copies) {
              if (copy.box != nullptr && IsWindow(copy.box) && Uncovered(copy.box)) {
                seen = "the box of " + name + " is still in sight";
                return false;
              }
            }
            if (before != nullptr && before != cover && IsWindow(before) &&
                ActiveOfThread(before) == before) {
              seen = "the window in front before (" + Describe(before) +
                     ") is still active in its thread: it has not taken in that it lost the focus";
              return false;
            }
            return true;
          })) {
        Fail(step, seen);
      }
      std::printf("ok covered\n");
      i += 1;
    } else if (step == "click") {
      need(1);
      Copy& copy = Named(step, argv[i + 1]);
      std::vector<HWND> buttons;
      if (!WaitFor([&] { return (buttons = TaskbarButtons(copy)).size() == 1; })) {
        Fail(step, std::to_string(buttons.size()) + " taskbar buttons to choose from");
      }
      // The button presses itself as under the mouse, and the taskbar does what it does for a
      // click. (A click sent through the input queue is sometimes lost on Wine's virtual
      // desktop, pointer moved first or not.)
      SendMessageW(buttons[0], BM_CLICK, 0, 0);
      std::printf("ok clicked the taskbar button of %s\n", argv[i + 1]);
      i += 2;
    } else if (step == "front") {
      need(1);
      Copy& copy = Named(step, argv[i + 1]);
      if (copy.box == nullptr) Fail(step, "no box seen");
      if (!WaitFor([&] { return GetForegroundWindow() == copy.box && Uncovered(copy.box); })) {
        HWND front = GetForegroundWindow();
        RECT r{};
        GetWindowRect(copy.box, &r);
        HWND seen = WindowFromPoint(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
        std::string order;
        for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w != nullptr;
             w = GetWindow(w, GW_HWNDNEXT)) {
          if (!IsWindowVisible(w)) continue;
          char b[64];
          std::snprintf(b, sizeof b, " %p(owner %p,%s)", static_cast<void*>(w),
                        static_cast<void*>(GetWindow(w, GW_OWNER)),
                        IsWindowEnabled(w) ? "on" : "off");
          order += Utf8(ClassOf(w)) + b;
        }
        std::printf("order: %s\n", order.c_str());
        char frontHandle[32];
        std::snprintf(frontHandle, sizeof frontHandle, " %p", static_cast<void*>(front));
        Fail(step, "the box did not come back to the front (foreground: " +
                       (front != nullptr ? Utf8(ClassOf(front)) + frontHandle : "none") +
                       ", at its centre: " + (seen != nullptr ? Utf8(ClassOf(seen)) : "none") +
                       ")");
      }
      std::printf("ok the box of %s is in front\n", argv[i + 1]);
      i += 2;
    } else if (step == "look") {
      need(1);
      std::printf("look %s\n", argv[i + 1]);
      std::fflush(stdout);
      if (!WaitFor([] { return GetFileAttributesW(L"C:\\looked") != INVALID_FILE_ATTRIBUTES; },
                   60000, 50)) {
        Fail(step, "nobody looked");
      }
      DeleteFileW(L"C:\\looked");
      std::printf("ok looked\n");
      i += 2;
    } else if (step == "watch") {
      need(1);
      watches[argv[i + 1]] = std::make_unique<ButtonWatch>(Named(step, argv[i + 1]));
      std::printf("ok watching the taskbar buttons of %s\n", argv[i + 1]);
      i += 2;
    } else if (step == "seen") {
      need(2);
      const auto watch = watches.find(argv[i + 1]);
      if (watch == watches.end()) Fail(step, std::string(argv[i + 1]) + " is not watched");
      const std::set<HWND> seen = watch->second->Stop();
      std::string list;
      for (HWND window : seen) {
        char handle[32];
        std::snprintf(handle, sizeof handle, "%p", static_cast<void*>(window));
        list += std::string(" ") + handle +
                (IsWindow(window) ? " \"" + Utf8(ClassOf(window)) + "\"" : "");
      }
      if (seen.size() != std::strtoul(argv[i + 2], nullptr, 10))
        Fail(step,
             std::to_string(seen.size()) + " windows had a taskbar button at some moment:" + list);
      std::printf("ok %s had %zu windows with a taskbar button:%s\n", argv[i + 1], seen.size(),
                  list.c_str());
      i += 3;
    } else if (step == "windows") {
      const std::map<DWORD, std::wstring> names = ProcessNames();
      for (HWND window : TopWindows()) {
        if (!IsWindowVisible(window)) continue;
        const auto name = names.find(ProcessOf(window));
        std::string line = name != names.end() ? Utf8(name->second) : "?";
        line += ' ';
        line += Describe(window);
        for (HWND child : Children(window)) {
          if (!IsWindowVisible(child) || TextOf(child).empty()) continue;
          line += " | ";
          line += Describe(child);
        }
        std::printf("window %s\n", line.c_str());
      }
      std::printf("ok windows listed\n");
      i += 1;
    } else if (step == "profiles") {
      need(2);
      ProfilesStep(argv[i + 1], std::atoi(argv[i + 2]));
      i += 3;
    } else if (step == "sleep") {
      need(1);
      Sleep(static_cast<DWORD>(std::atol(argv[i + 1])));
      i += 2;
    } else if (const int used = DialogStep(argc - i, &argv[i]); used > 0) {
      i += used;
    } else {
      Fail(step, "unknown step");
    }
    std::fflush(stdout);
  }
  return 0;
}
