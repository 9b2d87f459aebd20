#include "launcher/Application_win.h"

#include <windows.h>

#include <string>

#include "common/CodePage_win.h"
#include "common/Handles_win.h"
#include "launch/Messages.h"
#include "launcher/Resources_win.h"

namespace {

// Posted to the application window once the owner is on screen: by then its activation is
// over, and the box goes back above it.
constexpr UINT kBoxForwardMessage = WM_APP + 1;

struct TPopupSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK CheckPopup(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<TPopupSearch*>(data);
  if (window != search->owner && GetWindow(window, GW_OWNER) == search->owner &&
      IsWindowVisible(window) && IsWindowEnabled(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// The first visible, enabled window of this thread that the owner owns: the message box.
HWND EnabledPopupOf(HWND owner) {
  TPopupSearch search{owner, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), CheckPopup, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Set on the thread while a box is up: a window of ours that is being activated (the box,
// by its taskbar button, Alt+Tab or another program) is raised as well. Activation alone
// leaves the stacking to the window system, which may keep another program's window over
// the box.
LRESULT CALLBACK RaiseOnActivate(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    SetWindowPos(reinterpret_cast<HWND>(wParam), HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

class TWinApplication::TImpl {
 public:
  explicit TImpl(HINSTANCE instance) : instance_(instance) {}
  ~TImpl() {
    window_.Reset();
    if (class_ != 0) UnregisterClassW(MAKEINTATOM(class_), instance_);
  }
  TImpl(const TImpl&) = delete;
  TImpl& operator=(const TImpl&) = delete;

  void ShowMessage(HWND owner, std::string_view utf8Text);
  void OwnerShown() {
    if (!window_.Valid()) return;
    ShowWindow(window_.Get(), SW_HIDE);
    if (boxOwner_ != nullptr) PostMessageW(window_.Get(), kBoxForwardMessage, 0, 0);
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  bool Create();

  HINSTANCE instance_;
  ATOM class_ = 0;
  TUniqueWindow window_;
  HWND boxOwner_ = nullptr;  // whose box the taskbar button stands for, while one is up
};

TWinApplication::TWinApplication(void* instance)
    : impl_(std::make_unique<TImpl>(static_cast<HINSTANCE>(instance))) {}
TWinApplication::~TWinApplication() = default;
void TWinApplication::ShowMessage(void* owner, std::string_view utf8Text) {
  impl_->ShowMessage(static_cast<HWND>(owner), utf8Text);
}
void TWinApplication::OwnerShown() {
  impl_->OwnerShown();
}

bool TWinApplication::TImpl::Create() {
  if (window_.Valid()) return true;
  const std::wstring className = WideFromUtf8(kApplicationWindowClass);
  const std::wstring title = WideFromUtf8(kAppTitle);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &TImpl::WindowProc;
  windowClass.hInstance = instance_;
  windowClass.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_COMPANYMAIN));
  // Shared: the system frees it with the module, as it does the large one.
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_COMPANYMAIN),
                                                      IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                      GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = className.c_str();
  class_ = RegisterClassExW(&windowClass);
  if (class_ == 0) return false;
  // A caption and a minimize box give the taskbar button its title, its menu and its
  // minimize/restore clicks; the window itself has no size, at the centre of the screen, where
  // the box is placed.
  HWND window =
      CreateWindowExW(WS_EX_APPWINDOW, className.c_str(), title.c_str(),
                      WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                      GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0,
                      nullptr, nullptr, instance_, nullptr);
  if (window == nullptr) return false;
  window_.Reset(window);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return true;
}

void TWinApplication::TImpl::ShowMessage(HWND owner, std::string_view utf8Text) {
  const std::wstring text = WideFromUtf8(utf8Text);
  const std::wstring caption = WideFromUtf8(kMessageCaption);
  // An owner on screen has its own taskbar button, which its box shares. Without the stand-in
  // (should it fail to be made) the box is still shown.
  const bool standIn = (owner == nullptr || !IsWindowVisible(owner)) && Create();
  if (owner == nullptr && standIn) owner = window_.Get();
  if (standIn) {
    boxOwner_ = owner;
    ShowWindow(window_.Get(), SW_SHOWNA);
  }
  {
    const TUniqueHook raise(
        SetWindowsHookExW(WH_CBT, RaiseOnActivate, nullptr, GetCurrentThreadId()));
    MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
  }
  if (standIn) {
    boxOwner_ = nullptr;
    ShowWindow(window_.Get(), SW_HIDE);
  }
}

LRESULT CALLBACK TWinApplication::TImpl::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                    LPARAM lParam) {
  auto* self = reinterpret_cast<TImpl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case kBoxForwardMessage:
      // Another copy has brought the owner up, activated and on top: the modal box must not
      // stay hidden behind the window it blocks (the system does not always keep it above).
      if (self != nullptr && self->boxOwner_ != nullptr) {
        if (HWND box = EnabledPopupOf(self->boxOwner_); box != nullptr) {
          SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
          SetForegroundWindow(box);
        }
      }
      return 0;
    case WM_ACTIVATE:
      // Clicked in the taskbar (or reached with Alt+Tab): the box comes forward in its place.
      if (LOWORD(wParam) != WA_INACTIVE && self != nullptr && self->boxOwner_ != nullptr) {
        if (HWND box = EnabledPopupOf(self->boxOwner_); box != nullptr) {
          SetForegroundWindow(box);
          return 0;
        }
      }
      break;
    case WM_CLOSE:
      // Closed from the taskbar: the box is answered with its own button, not by ending it.
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
