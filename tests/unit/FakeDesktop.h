#pragma once

#include <map>
#include <string>
#include <vector>

#include "address/CodePage.h"
#include "app/Desktop.h"
#include "common/IniText.h"

// A double-byte code page that knows two characters, like a tiny code page 936.
class FakeCodePage final : public TCodePage {
 public:
  [[nodiscard]] std::u16string ToUtf16(std::string_view ansi) const override {
    std::u16string out;
    for (std::size_t i = 0; i < ansi.size(); ++i) {
      const auto c = static_cast<unsigned char>(ansi[i]);
      if (c < 0x80) {
        out += static_cast<char16_t>(c);
      } else if (i + 1 < ansi.size()) {
        const std::string_view pair = ansi.substr(i++, 2);
        out += pair == "\xCE\xDE" ? u'\u65E0' : pair == "\xD6\xD0" ? u'\u4E2D' : u'?';
      } else {
        out += u'?';
      }
    }
    return out;
  }
  [[nodiscard]] std::string FromUtf16(std::u16string_view units) const override {
    std::string out;
    for (char16_t u : units) {
      if (u < 0x80) {
        out += static_cast<char>(u);
      } else {
        out += u == u'\u65E0' ? "\xCE\xDE" : u == u'\u4E2D' ? "\xD6\xD0" : "?";
      }
    }
    return out;
  }
};

// A desktop whose files are strings and whose every action is written to a log.
class FakeDesktop final : public TDesktop {
 public:
  std::string appPath = "/opt/hotel/";
  std::map<std::string, std::string> files;  // path -> INI text
  std::vector<std::string> unreadable;       // paths that exist but cannot be read
  bool browserStarts = true;
  std::vector<std::string> log;
  std::vector<std::string> opened;

  std::string GetAppPath() override { return appPath; }
  [[nodiscard]] char PathSeparator() const override { return '/'; }
  bool FileExists(const std::string& path) override {
    return files.contains(path) || IsUnreadable(path);
  }
  bool FileReadable(const std::string& path) override { return files.contains(path); }
  std::string ReadIniString(const std::string& file, std::string_view section,
                            std::string_view key) override {
    const auto it = files.find(file);
    return it == files.end() ? std::string() : IniReadString(it->second, section, key);
  }
  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }
  void InitializeOle() override { log.emplace_back("ole"); }
  void ShowMessage(std::string_view text) override {
    log.emplace_back("message:" + std::string(text));
  }
  bool OpenBrowser(const std::string& address) override {
    log.emplace_back("browser");
    if (browserStarts) opened.push_back(address);
    return browserStarts;
  }
  void RequestEnd() override { log.emplace_back("end"); }

 private:
  bool IsUnreadable(const std::string& path) const {
    for (const auto& p : unreadable)
      if (p == path) return true;
    return false;
  }
  FakeCodePage codePage_;
};
