#include "launcher/CompanyMain_win.h"

#include <windows.h>

#include <algorithm>

#include "common/CodePage_win.h"
#include "common/Handles_win.h"
#include "launcher/Application_win.h"
#include "launcher/LoadingPicture_win.h"
#include "launch/Messages.h"
#include "launcher/Resources_win.h"

namespace {

// Layout at 96 DPI, in pixels.
constexpr int kDesignWidth = 1024;
constexpr int kDesignHeight = 738;
constexpr int kBevel = 2;  // lowered outer and raised inner bevel of the panel, 1 pixel each
constexpr POINT kLabelAt = {445, 329};
constexpr SIZE kLabelSize = {174, 12};
constexpr POINT kPictureAt = {418, 327};
constexpr int kPictureSize = 16;
constexpr int kFontHeight = 12;
constexpr COLORREF kLabelColour = RGB(0x28, 0x5B, 0xA2);  // 10640168 as a TColor

constexpr UINT_PTR kAnimationTimer = 1;
constexpr UINT_PTR kPictureTimer = 2;
constexpr UINT kShowStepMessage = WM_APP + 1;

template <class Function>
Function UserFunction(const char* name) {
  // Newer functions are looked up so that the program still starts on older Windows.
  const FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

UINT WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = UserFunction<GetDpiForWindowFunction>("GetDpiForWindow");
  if (getDpiForWindow != nullptr && window != nullptr) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi != 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

// The design size at this DPI, centred on the primary screen but never beyond its top-left
// corner.
RECT CentredDesignRect(UINT dpi) {
  const int width = MulDiv(kDesignWidth, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
  const int height = MulDiv(kDesignHeight, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
  const int left = std::max(0, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
  const int top = std::max(0, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
  return RECT{left, top, left + width, top + height};
}

// The design size holds even on a screen smaller than the window, where the default limit
// is the screen's size.
void AllowDesignSize(MINMAXINFO* limits, UINT dpi) {
  const LONG width = MulDiv(kDesignWidth, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
  const LONG height = MulDiv(kDesignHeight, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
  limits->ptMaxTrackSize.x = std::max(limits->ptMaxTrackSize.x, width);
  limits->ptMaxTrackSize.y = std::max(limits->ptMaxTrackSize.y, height);
}

}  // namespace

// Everything of the window that needs the Windows headers.
class TWinMainWindow::TImpl {
 public:
  TImpl(HINSTANCE instance, TWinApplication& application);
  ~TImpl();
  TImpl(const TImpl&) = delete;
  TImpl& operator=(const TImpl&) = delete;

  bool Create();
  [[nodiscard]] HWND Handle() const { return window_.Get(); }
  void Attach(TFrm_CompanyMain& form) { form_ = &form; }
  void Show(bool startMinimized);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void ApplyDpi(UINT dpi);
  [[nodiscard]] int Scale(int designPixels) const;
  [[nodiscard]] RECT PictureRect() const;
  void Paint();
  void LoadPicture();
  void StartAnimation();

  HINSTANCE instance_;
  TWinApplication& application_;
  // Loaded at the first paint, after the browser has started; the window works without it.
  std::unique_ptr<TGdiplusSession> gdiplus_;
  std::unique_ptr<TLoadingPicture> picture_;  // goes before the GDI+ session it needs
  bool pictureLoaded_ = false;
  TFrm_CompanyMain* form_ = nullptr;
  ATOM class_ = 0;
  TUniqueWindow window_;
  TUniqueFont font_;
  UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
  bool waitingForRestore_ = false;
  bool animating_ = false;
};

TWinMainWindow::TWinMainWindow(void* instance, TWinApplication& application)
    : impl_(std::make_unique<TImpl>(static_cast<HINSTANCE>(instance), application)) {}
TWinMainWindow::~TWinMainWindow() = default;
bool TWinMainWindow::Create() {
  return impl_->Create();
}
void* TWinMainWindow::Handle() const {
  return impl_->Handle();
}
void TWinMainWindow::Attach(TFrm_CompanyMain& form) {
  impl_->Attach(form);
}
void TWinMainWindow::Show(bool startMinimized) {
  impl_->Show(startMinimized);
}

TWinMainWindow::TImpl::TImpl(HINSTANCE instance, TWinApplication& application)
    : instance_(instance), application_(application) {}

TWinMainWindow::TImpl::~TImpl() {
  window_.Reset();
  if (class_ != 0) UnregisterClassW(MAKEINTATOM(class_), instance_);
}

bool TWinMainWindow::TImpl::Create() {
  const std::wstring className = WideFromUtf8(kMainWindowClass);
  const std::wstring caption = WideFromUtf8(kAppTitle);

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &TWinMainWindow::TImpl::WindowProc;
  windowClass.hInstance = instance_;
  windowClass.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_COMPANYMAIN));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = nullptr;  // WM_PAINT covers every pixel
  windowClass.lpszClassName = className.c_str();
  class_ = RegisterClassExW(&windowClass);
  if (class_ == 0) return false;

  dpi_ = WindowDpi(nullptr);
  const RECT at = CentredDesignRect(dpi_);
  HWND window =
      CreateWindowExW(0, className.c_str(), caption.c_str(), WS_OVERLAPPEDWINDOW, at.left, at.top,
                      at.right - at.left, at.bottom - at.top, nullptr, nullptr, instance_, this);
  if (window == nullptr) return false;
  if (window_.Get() != window) window_.Reset(window);  // normally taken at WM_NCCREATE
  // Per-monitor awareness: the primary monitor may use another DPI than the system's.
  const UINT dpi = WindowDpi(window);
  if (dpi != dpi_) {
    const RECT scaled = CentredDesignRect(dpi);
    SetWindowPos(window, nullptr, scaled.left, scaled.top, scaled.right - scaled.left,
                 scaled.bottom - scaled.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ApplyDpi(dpi);
  return true;
}

void TWinMainWindow::TImpl::Show(bool startMinimized) {
  HWND window = window_.Get();
  if (window == nullptr || form_ == nullptr) return;
  if (startMinimized) {
    // After a failed creation step the window is never made visible; the quit is posted.
    if (form_->CreationFailed()) return;
    waitingForRestore_ = true;
    ShowWindow(window, SW_SHOWMINNOACTIVE);
    return;
  }
  // The show step runs before the window is visible, not on WM_SHOWWINDOW: Wine sends none
  // when a hidden window is shown maximized.
  form_->FormShow();
  ShowWindow(window, SW_SHOWMAXIMIZED);
  UpdateWindow(window);
}

LRESULT CALLBACK TWinMainWindow::TImpl::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                   LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* self = static_cast<TImpl*>(create->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->window_.Reset(window);
  }
  auto* self = reinterpret_cast<TImpl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) {
    // WM_GETMINMAXINFO comes first, before WM_NCCREATE.
    if (message == WM_GETMINMAXINFO) {
      AllowDesignSize(reinterpret_cast<MINMAXINFO*>(lParam), WindowDpi(window));
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->window_.Release();  // already being destroyed
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return self->OnMessage(message, wParam, lParam);
}

LRESULT TWinMainWindow::TImpl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND window = window_.Get();
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers everything
    case WM_PAINT:
      Paint();
      return 0;
    case WM_TIMER:
      if (wParam == kPictureTimer) {
        KillTimer(window, kPictureTimer);
        LoadPicture();
        const RECT picture = PictureRect();
        InvalidateRect(window, &picture, FALSE);
        return 0;
      }
      if (wParam == kAnimationTimer && picture_ != nullptr) {
        picture_->Advance();
        SetTimer(window, kAnimationTimer, picture_->CurrentDelay(), nullptr);
        const RECT picture = PictureRect();
        InvalidateRect(window, &picture, FALSE);
        return 0;
      }
      break;
    case WM_WINDOWPOSCHANGED:
      // On screen (also at another copy's request while a creation message is up): this
      // window's taskbar button is the program's one now.
      if ((reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_SHOWWINDOW) != 0)
        application_.OwnerShown();
      // Back from the minimized start (restored by the user, or maximized at another copy's
      // request): the show step runs once the window has come back.
      if (waitingForRestore_ && IsWindowVisible(window) && !IsIconic(window)) {
        waitingForRestore_ = false;
        PostMessageW(window, kShowStepMessage, 0, 0);
      }
      break;
    case kShowStepMessage:
      if (form_ != nullptr) form_->FormShow();
      return 0;
    case WM_GETMINMAXINFO:
      AllowDesignSize(reinterpret_cast<MINMAXINFO*>(lParam), dpi_);
      return 0;
    case WM_DPICHANGED: {
      ApplyDpi(HIWORD(wParam));
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    }
    case WM_DESTROY:
      KillTimer(window, kAnimationTimer);
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void TWinMainWindow::TImpl::ApplyDpi(UINT dpi) {
  dpi_ = dpi != 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
  // "宋体" (SimSun) as the form's font; any system finds it by this name or its English one.
  font_.Reset(CreateFontW(-Scale(kFontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                          DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, L"\u5B8B\u4F53"));
}

int TWinMainWindow::TImpl::Scale(int designPixels) const {
  return MulDiv(designPixels, static_cast<int>(dpi_), USER_DEFAULT_SCREEN_DPI);
}

RECT TWinMainWindow::TImpl::PictureRect() const {
  const int left = kBevel + Scale(kPictureAt.x);
  const int top = kBevel + Scale(kPictureAt.y);
  return RECT{left, top, left + Scale(kPictureSize), top + Scale(kPictureSize)};
}

void TWinMainWindow::TImpl::Paint() {
  HWND window = window_.Get();
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(window, &paint);
  if (dc == nullptr) return;
  RECT client{};
  GetClientRect(window, &client);
  const RECT picture = PictureRect();

  // The picture goes through a buffer of its own size and nothing else paints over it, so
  // the animation never flickers; the rest is drawn once, straight on the window. (A buffer
  // of the whole maximized window would cost megabytes and a slow first copy.)
  const int saved = SaveDC(dc);
  if (picture_ != nullptr)
    ExcludeClipRect(dc, picture.left, picture.top, picture.right, picture.bottom);

  // Panel1: button face, lowered outer and raised inner bevel.
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  RECT panel = client;
  DrawEdge(dc, &panel, BDR_SUNKENOUTER | BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
  // Pnl_Msg: the window colour over the panel's client area.
  FillRect(dc, &panel, GetSysColorBrush(COLOR_WINDOW));

  // Lb_Msg, transparent, in its own colour and font.
  const std::wstring text = WideFromUtf8(kLoadingText);
  RECT label{kBevel + Scale(kLabelAt.x), kBevel + Scale(kLabelAt.y), 0, 0};
  label.right = label.left + Scale(kLabelSize.cx);
  label.bottom = label.top + Scale(kLabelSize.cy);
  {
    const TSelectObject useFont(dc, font_.Get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kLabelColour);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &label,
              DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
  }
  RestoreDC(dc, saved);

  // Img_Gif.
  if (picture_ != nullptr) {
    const int width = picture.right - picture.left;
    const int height = picture.bottom - picture.top;
    const TUniqueDc memory(CreateCompatibleDC(dc));
    const TUniqueBitmap bitmap(CreateCompatibleBitmap(dc, width, height));
    if (memory.Valid() && bitmap.Valid()) {
      const TSelectObject useBitmap(memory.Get(), bitmap.Get());
      const RECT local{0, 0, width, height};
      FillRect(memory.Get(), &local, GetSysColorBrush(COLOR_WINDOW));
      picture_->Draw(memory.Get(), local);
      BitBlt(dc, picture.left, picture.top, width, height, memory.Get(), 0, 0, SRCCOPY);
    }
  }
  EndPaint(window, &paint);
  if (!pictureLoaded_) {
    // A timer message comes after the quit: when the program is ending anyway (its usual
    // case), the picture is never decoded at all.
    SetTimer(window, kPictureTimer, 1, nullptr);
  }
  StartAnimation();
}

void TWinMainWindow::TImpl::LoadPicture() {
  // Decoding the GIF loads GDI+ and the imaging codecs: only once the window stays on screen.
  if (pictureLoaded_) return;
  pictureLoaded_ = true;
  gdiplus_ = std::make_unique<TGdiplusSession>();
  if (!gdiplus_->Ok()) return;
  auto picture = std::make_unique<TLoadingPicture>(instance_, IDR_LOADING_GIF);
  if (picture->Valid()) picture_ = std::move(picture);
}

void TWinMainWindow::TImpl::StartAnimation() {
  // The animation starts at the first paint, like the picture it stands for.
  if (animating_ || picture_ == nullptr || !picture_->Animated()) return;
  animating_ = SetTimer(window_.Get(), kAnimationTimer, picture_->CurrentDelay(), nullptr) != 0;
}
