// The settings window on Windows: the seven values, Save, and what the launcher then opens. The
// work is TSettings's; this shows it.
#include <windows.h>

#include <string>

#include "common/CodePage_win.h"
#include "settings/SettingsResources_win.h"
#include "settings/SettingsWindow.h"

namespace {

class TSettingsWindow {
 public:
  explicit TSettingsWindow(TSettings& settings) : settings_(settings), texts_(settings.Texts()) {}

  static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, l);
    auto* self = reinterpret_cast<TSettingsWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr) return FALSE;
    switch (message) {
      case WM_INITDIALOG:
        self->dialog_ = dialog;
        return self->Init();
      case WM_COMMAND:
        if (LOWORD(w) == IDOK) {
          self->Save();
          return TRUE;
        }
        // Close, Escape and the title bar's close button alike.
        if (LOWORD(w) == IDCANCEL) {
          self->Close();
          return TRUE;
        }
        break;
      default:
        break;
    }
    return FALSE;
  }

 private:
  void SetText(int id, const std::string& utf8) {
    SetDlgItemTextW(dialog_, id, WideFromUtf8(utf8).c_str());
  }
  std::string TextOf(int id) {
    HWND control = GetDlgItem(dialog_, id);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return Utf8FromWide(text);
  }
  int Tell(const std::string& text, UINT style) {
    // Windows' line breaks, which a box's text copied with Ctrl+C keeps.
    std::wstring wide;
    for (const wchar_t c : WideFromUtf8(text))
      wide += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    return MessageBoxW(dialog_, wide.c_str(), WideFromUtf8(texts_.title).c_str(), style);
  }
  void Focus(std::size_t field) {
    PostMessageW(dialog_, WM_NEXTDLGCTL,
                 reinterpret_cast<WPARAM>(
                     GetDlgItem(dialog_, IDC_SETTINGS_FIELD0 + static_cast<int>(field))),
                 TRUE);
  }
  TSettingsValues Shown() {
    TSettingsValues shown;
    for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
      shown[i] = TextOf(IDC_SETTINGS_FIELD0 + static_cast<int>(i));
    return shown;
  }

  BOOL Init() {
    SetWindowTextW(dialog_, WideFromUtf8(texts_.title).c_str());
    SetText(IDC_SETTINGS_INTRO, texts_.intro);
    for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
      SetText(IDC_SETTINGS_LABEL0 + static_cast<int>(i), texts_.labels[i]);
    SetText(IDOK, texts_.save);
    SetText(IDCANCEL, texts_.close);
    SetText(IDC_SETTINGS_SENT_LABEL, texts_.sent);
    SetText(IDC_SETTINGS_ADDRESS_LABEL, texts_.address);
    const std::string failure = ShowStored();
    ShowLaunch();
    if (!failure.empty()) Tell(failure, MB_OK | MB_ICONERROR);
    // The first field has the focus, its text selected.
    Focus(0);
    return FALSE;
  }

  std::string ShowStored() {
    const TSettingsLoad load = settings_.Load();
    for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
      SetText(IDC_SETTINGS_FIELD0 + static_cast<int>(i), load.values[i]);
    return load.failure;
  }

  void ShowLaunch() {
    const TSettingsLaunch launch = settings_.Launch();
    std::string sent;
    for (const auto& [name, value] : launch.sent)
      sent += (sent.empty() ? "" : "\r\n") + name + "=" + value;
    SetText(IDC_SETTINGS_SENT, sent);
    SetText(IDC_SETTINGS_ADDRESS, launch.shown);
    std::string warnings;
    for (const TSettingsProblem& warning : launch.warnings)
      warnings += (warnings.empty() ? "" : "\r\n") + warning.text;
    SetText(IDC_SETTINGS_WARNINGS, warnings);
  }

  void Save() {
    const TSettingsSave saved = settings_.Save(Shown());
    const std::string& message = saved.message;
    switch (saved.kind) {
      case TSettingsSave::Kind::Refused:
        Tell(message, MB_OK | MB_ICONWARNING);
        Focus(saved.focus);
        return;
      case TSettingsSave::Kind::Failed:
        // Nothing else runs: the window keeps the values as typed and what it showed.
        Tell(message, MB_OK | MB_ICONERROR);
        return;
      case TSettingsSave::Kind::Saved:
      case TSettingsSave::Kind::Unchanged:
        break;
    }
    Tell(message, MB_OK | MB_ICONINFORMATION);
    if (saved.kind == TSettingsSave::Kind::Saved) {
      if (const std::string failure = ShowStored(); !failure.empty())
        Tell(failure, MB_OK | MB_ICONERROR);
      ShowLaunch();
    }
  }

  void Close() {
    const std::string question = settings_.CloseQuestion(Shown());
    // OK closes and discards; the safe answer, Cancel, is the default.
    if (!question.empty() &&
        Tell(question, MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2) != IDOK) {
      return;
    }
    EndDialog(dialog_, 0);
  }

  TSettings& settings_;
  TSettingsTexts texts_;
  HWND dialog_ = nullptr;
};

}  // namespace

int RunSettingsWindow(TConfigToolSystem& system, TSettingsWriter& writer) {
  TSettings settings(system, writer);
  TSettingsWindow window(settings);
  return static_cast<int>(DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETTINGS),
                                          nullptr, TSettingsWindow::Procedure,
                                          reinterpret_cast<LPARAM>(&window)));
}
