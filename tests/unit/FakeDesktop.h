#pragma once

#include <map>
#include <string>
#include <vector>

#include "Latin1CodePage.h"
#include "common/CodePage.h"
#include "common/IniText.h"
#include "inputs/ConfigFolder.h"
#include "launch/Desktop.h"

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
    for (std::size_t i = 0; i < units.size(); ++i) {
      const char16_t u = units[i];
      if (u < 0x80) {
        out += static_cast<char>(u);
      } else {
        out += u == u'\u65E0' ? "\xCE\xDE" : u == u'\u4E2D' ? "\xD6\xD0" : "?";
        // A surrogate pair is one character, and one "?".
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF)
          ++i;
      }
    }
    return out;
  }
  [[nodiscard]] std::size_t CompleteCharacters(std::string_view text) const override {
    std::size_t end = 0;
    while (end < text.size()) {
      const std::size_t next = end + (static_cast<unsigned char>(text[end]) < 0x80 ? 1 : 2);
      if (next > text.size()) break;
      end = next;
    }
    return end;
  }
};

// A desktop and a Config folder whose files are strings; every action is written to a log.
class FakeDesktop final : public TDesktop, public TConfigFolder {
 public:
  std::string appPath = "/opt/hotel/";
  std::map<std::string, std::string> files;  // path -> INI text
  std::vector<std::string> unreadable;       // paths that exist but cannot be read
  bool browserStarts = true;
  std::vector<std::string> log;
  std::vector<std::string> opened;

  std::string PathOf(std::string_view name) override {
    return appPath.empty() ? std::string() : appPath + "Config/" + std::string(name);
  }
  bool FileExists(const std::string& path) override {
    return files.contains(path) || IsUnreadable(path);
  }
  TFileRead ReadSection(const std::string& file, std::string_view section,
                        const std::vector<std::string>& keys, const TCodePage& ansi,
                        const TCodePage& unicodeText) override {
    const auto it = files.find(file);
    TFileRead read;
    if (it == files.end()) {
      if (IsUnreadable(file)) read.state = TFileRead::State::Unreadable;
      return read;
    }
    const TIniEncoding encoding = IniEncodingOf(it->second);
    return {TFileRead::State::Read, encoding,
            IniReadValues(it->second, section, keys,
                          encoding == TIniEncoding::Ansi ? ansi : unicodeText),
            0};
  }
  TFileBytes ReadWhole(const std::string& file, std::size_t) override {
    const auto it = files.find(file);
    if (it != files.end()) return {TFileRead::State::Read, it->second, 0};
    return {IsUnreadable(file) ? TFileRead::State::Unreadable : TFileRead::State::Missing, {}, 13};
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
