/* The Win32 floor: registers a class, creates one window, starts the browser the way the
 * launcher does (ShellExecute "Open" "IExplore.exe") just before the window is first shown,
 * shows it maximized and ends at the posted quit message. */
#include <windows.h>
#include <shellapi.h>

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, w, l);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
  (void)previous; (void)commandLine; (void)show;
  WNDCLASSEXW wc = {0};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"BenchFloor";
  if (!RegisterClassExW(&wc)) return 1;
  HWND window = CreateWindowExW(0, L"BenchFloor", L"floor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 1024, 738, NULL, NULL, instance, NULL);
  if (window == NULL) return 1;

  ShellExecuteW(window, L"Open", L"IExplore.exe", L"http://127.0.0.1/company", NULL, SW_SHOWNORMAL);
  PostQuitMessage(0);
  ShowWindow(window, SW_SHOWMAXIMIZED);

  MSG msg;
  while (GetMessageW(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
