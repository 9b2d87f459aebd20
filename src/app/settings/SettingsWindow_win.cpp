// The settings window: the seven values, Save, and what the launcher then opens.
#include "settings/SettingsWindow_win.h"

#include <windows.h>

#include <string>
#include <vector>

#include "common/CodePage_win.h"
#include "settings/Settings.h"
#include "settings/SettingsResources_win.h"

namespace {

class TSettingsWindow {
 public:
  TSettingsWindow(TConfigToolSystem& system, TSettings& settings)
      : system_(system), settings_(settings) {}

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
        if (LOWORD(w) == IDCANCEL) {
          EndDialog(dialog, 0);
          return TRUE;
        }
        break;
      default:
        break;
    }
    return FALSE;
  }

 private:
  std::string _(const char* english) { return system_.Translate(english); }
  // The field's label; the tool's messages name the fields by the same words.
  std::string Label(std::size_t field) {
    switch (field) {
      case 0:
        return _("Page address (http/https)");
      case 1:
        return _("Company number");
      case 2:
        return _("Type code (e.g. R01)");
      case 3:
        return _("Company name");
      case 4:
        return _("Device ID");
      case 5:
        return _("Upload user (optional)");
      default:
        return _("Other information (optional)");
    }
  }
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
  void Tell(const std::string& text, UINT icon) {
    MessageBoxW(dialog_, WideFromUtf8(text).c_str(),
                WideFromUtf8(_("CompanyMain Settings")).c_str(), MB_OK | icon);
  }

  BOOL Init() {
    SetWindowTextW(dialog_, WideFromUtf8(_("CompanyMain Settings")).c_str());
    SetText(IDC_SETTINGS_INTRO,
            _("The company page's address and the company's identity, as this PC has them. "
              "Save writes the values you changed."));
    for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
      SetText(IDC_SETTINGS_LABEL0 + static_cast<int>(i), Label(i));
    SetText(IDOK, _("&Save"));
    SetText(IDCANCEL, _("Close"));
    SetText(IDC_SETTINGS_SENT_LABEL, _("What the web system receives:"));
    SetText(IDC_SETTINGS_ADDRESS_LABEL, _("The address the launcher opens:"));
    const TSettingsLoad load = settings_.Load();
    loaded_ = load.values;
    for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
      SetText(IDC_SETTINGS_FIELD0 + static_cast<int>(i), loaded_[i]);
    ShowLaunch();
    if (!load.failure.empty()) Tell(load.failure, MB_ICONERROR);
    // The first field has the focus, its text selected.
    PostMessageW(dialog_, WM_NEXTDLGCTL,
                 reinterpret_cast<WPARAM>(GetDlgItem(dialog_, IDC_SETTINGS_FIELD0)), TRUE);
    return FALSE;
  }

  void ShowLaunch() {
    const TSettingsLaunch launch = settings_.Launch();
    std::string sent;
    for (const auto& [name, value] : launch.sent)
      sent += (sent.empty() ? "" : "\r\n") + name + "=" + value;
    SetText(IDC_SETTINGS_SENT, sent);
    SetText(IDC_SETTINGS_ADDRESS, launch.opens ? launch.address : launch.message);
  }

  void Save() {
    TSettingsValues edited;
    for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
      edited[i] = TextOf(IDC_SETTINGS_FIELD0 + static_cast<int>(i));
    const TSettingsSave saved = settings_.Save(loaded_, edited);
    if (!saved.problems.empty()) {
      std::string text = _("Please correct these values, then save again:") + "\r\n";
      std::size_t first = kSettingsFieldCount;
      for (const TSettingsProblem& problem : saved.problems) {
        text += "\r\n" + problem.text;
        first = std::min(first, problem.field);
      }
      Tell(text, MB_ICONWARNING);
      PostMessageW(dialog_, WM_NEXTDLGCTL,
                   reinterpret_cast<WPARAM>(
                       GetDlgItem(dialog_, IDC_SETTINGS_FIELD0 + static_cast<int>(first))),
                   TRUE);
      return;
    }
    if (!saved.failure.empty()) {
      Tell(saved.failure, MB_ICONERROR);
      return;
    }
    loaded_ = edited;
    ShowLaunch();
  }

  TConfigToolSystem& system_;
  TSettings& settings_;
  HWND dialog_ = nullptr;
  TSettingsValues loaded_;
};

}  // namespace

int RunSettingsWindow(TConfigToolSystem& system) {
  TSettings settings(system);
  TSettingsWindow window(system, settings);
  return static_cast<int>(DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETTINGS),
                                          nullptr, TSettingsWindow::Procedure,
                                          reinterpret_cast<LPARAM>(&window)));
}
