// check: one start of the launcher against the installation, with nothing opened or shown,
// and what the tool saw of the files on the way.
#include <algorithm>
#include <map>

#include "common/Base64.h"
#include "common/Text.h"
#include "launch/CompanyMain.h"
#include "launch/Version.h"
#include "tool/Json.h"
#include "tool/Tool.h"

namespace {

// One file the launcher looked at, and what it found.
struct TSeenFile {
  std::string_view name;  // the file's name in the Config folder
  std::string path;
  std::string section;
  std::vector<std::string> keys;
  std::optional<TFileRead> read;  // when the launcher read it
};

// The Config folder as the launcher reads it, with a note of every file it looked at. For the
// other users of the machine, files closed to them cannot be read, and behind a folder closed to
// them there is nothing at all.
class TToolConfigFolder final : public TConfigFolder {
 public:
  TToolConfigFolder(TConfigToolSystem& system, std::string folder, bool asOthers)
      : system_(system), folder_(std::move(folder)), asOthers_(asOthers) {}

  std::string PathOf(std::string_view fileName) override {
    if (folder_.empty()) return {};
    const std::string path =
        folder_ + std::string(kConfigFolderName) + system_.PathSeparator() + std::string(fileName);
    Note(path).name = fileName;
    return path;
  }
  bool FileExists(const std::string& path) override {
    Note(path);
    if (asOthers_) {
      const auto closed = system_.ClosedToOthers(path);
      if (closed && closed->folder) return false;
    }
    return system_.Files().FileExists(path);
  }
  TFileRead ReadSection(const std::string& path, std::string_view section,
                        const std::vector<std::string>& keys, const TCodePage& ansi,
                        const TCodePage& unicodeText) override {
    TSeenFile& file = Note(path);
    file.section = std::string(section);
    file.keys = keys;
    file.read.reset();
    if (asOthers_ && system_.ClosedToOthers(path)) {
      file.read = TFileRead{TFileRead::State::Unreadable, {}, {}, 0};
    } else {
      file.read = system_.Files().ReadSection(path, section, keys, ansi, unicodeText);
    }
    return *file.read;
  }
  TFileBytes ReadWhole(const std::string& path, std::size_t limit) override {
    return system_.Files().ReadWhole(path, limit);
  }

  std::vector<TSeenFile> files;

 private:
  TSeenFile& Note(const std::string& path) {
    for (TSeenFile& file : files)
      if (file.path == path) return file;
    files.push_back({{}, path, {}, {}, std::nullopt});
    return files.back();
  }

  TConfigToolSystem& system_;
  std::string folder_;
  bool asOthers_;
};

// What the launcher asks of the desktop, noted instead of done.
class TReportingDesktop final : public TDesktop {
 public:
  explicit TReportingDesktop(const TCodePage& codePage) : codePage_(codePage) {}
  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }
  void ShowMessage(std::string_view utf8Text) override {
    if (!message) message = std::string(utf8Text);
  }
  bool OpenBrowser(const std::string& text) override {
    address = text;
    return true;
  }
  void RequestEnd() override {}

  std::optional<std::string> message;
  std::optional<std::string> address;

 private:
  const TCodePage& codePage_;
};

// One start of the launcher, against the folder.
struct TLaunch {
  std::optional<std::string> message;
  std::optional<std::string> address;
  std::vector<TQueryValue> sent;
  std::vector<TSeenFile> files;
};

TLaunch Launch(TConfigToolSystem& system, const std::string& folder, bool asOthers) {
  const TCodePage& codePage = system.AnsiCodePage();
  TReportingDesktop desktop(codePage);
  TToolConfigFolder config(system, folder, asOthers);
  TIniCompanyIdentitySource identitySource(config, codePage);
  TFrm_CompanyMain form(desktop, config, identitySource);
  form.FormCreate();
  form.FormShow();
  TLaunch launch{desktop.message, desktop.address, {}, config.files};
  if (!launch.message && launch.address) launch.sent = form.SentQuery();
  return launch;
}

enum class TFileState { Missing, Unreadable, Read };

// How a file is reported: by check --json as data, by check in words.
struct TFileReport {
  std::string_view name;
  std::string path;  // as messages show it
  TFileState state = TFileState::Missing;
  std::optional<TIniEncoding> encoding;  // when it was read
  std::string section;
  bool sectionFound = false;
  std::vector<std::pair<std::string, std::string>> values;  // UTF-8, when read
};

std::string_view StateName(TFileState state) {
  switch (state) {
    case TFileState::Missing:
      return "missing";
    case TFileState::Unreadable:
      return "unreadable";
    case TFileState::Read:
      break;
  }
  return "read";
}

std::string_view EncodingName(TIniEncoding encoding) {
  switch (encoding) {
    case TIniEncoding::Utf8:
      return "UTF-8 BOM";
    case TIniEncoding::Utf16Le:
      return "UTF-16 LE";
    case TIniEncoding::Utf16Be:
      return "UTF-16 BE";
    case TIniEncoding::Ansi:
      break;
  }
  return "ANSI";
}

std::string Hex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
  }
  return out;
}

}  // namespace

int TTool::Check() {
  if (!line_.operands.empty())
    return Refuse(Fill(_("check does not take %1."), {line_.operands[0]}));
  const std::string folder = Folder();
  const TLaunch mine = Launch(system_, folder, false);

  // What keeps the other users of the machine from the files their launcher reads.
  std::vector<TConfigToolSystem::TClosed> closed;
  std::optional<TLaunch> others;
  if (!folder.empty()) {
    for (const auto& file : mine.files) {
      if (auto found = system_.ClosedToOthers(file.path)) {
        const bool known = std::any_of(closed.begin(), closed.end(),
                                       [&](const auto& c) { return c.path == found->path; });
        if (!known) closed.push_back(*found);
      }
    }
    if (!closed.empty()) others = Launch(system_, folder, true);
  }
  const std::optional<std::string> othersMessage =
      others && !others->address ? others->message : std::nullopt;
  const bool opens = !mine.message && mine.address;
  const bool ok = opens && !othersMessage;
  const std::optional<std::string> message = mine.message ? mine.message : othersMessage;

  // The address as stored, for what its reader should know of it: read here when the launcher
  // stopped before it (no identity yet).
  std::optional<TFileRead> stored;
  for (const TSeenFile& file : mine.files)
    if (file.name == kAddressFileName && file.read) stored = file.read;
  if (!stored && !folder.empty()) {
    stored = system_.Files().ReadSection(PathIn(ConfigFolder(folder), kAddressFileName),
                                         kAddressSection, AddressKeys(), codePage_, codePage_);
  }
  std::vector<TProblem> warnings;
  if (stored && stored->SectionFound())
    warnings = AddressWarnings(Base64Decode(stored->values.values[0]));
  if (!folder.empty() &&
      system_.Files().FileExists(PathIn(ConfigFolder(folder), kPendingChangeName))) {
    const std::string cut = Fill(_("a change of the files was cut short: a run of %1 was killed "
                                   "before it had changed every file. The next change made with "
                                   "%1 finishes it."),
                                 {system_.ProgramName()});
    warnings.push_back({"files", cut, cut});
  }
  const std::string warningsJson = ReportWarnings(warnings);

  std::vector<TFileReport> reports;
  for (const TSeenFile& file : mine.files) {
    TFileReport report;
    report.name = file.name;
    report.path = Shown(ConfigFolder(folder), file.name);
    report.section = file.section;
    if (file.read && file.read->state == TFileRead::State::Read) {
      report.state = TFileState::Read;
      report.encoding = file.read->encoding;
      report.sectionFound = file.read->values.sectionFound;
      for (std::size_t i = 0; i < file.keys.size(); ++i)
        report.values.emplace_back(file.keys[i], Utf8Of(file.read->values.values[i], codePage_));
    } else if (system_.Files().FileExists(file.path)) {
      report.state = TFileState::Unreadable;
    }
    reports.push_back(report);
  }
  // The values as the web system receives them, from the code that put them in the address.
  std::vector<std::pair<std::string, std::string>> sent;
  for (const TQueryValue& value : mine.sent)
    sent.emplace_back(value.key, value.utf8 ? value.value : Utf8Of(value.value, codePage_));

  if (line_.json) {
    TJsonObject json;
    json.Add("command", "check").Add("ok", ok).Add("folder", system_.PathText(folder));
    if (opens) {
      TJsonObject sentJson;
      for (const auto& [key, value] : sent) sentJson.Add(key, value);
      json.Add("address", Utf8Of(*mine.address, codePage_))
          .Add("addressBytes", Hex(*mine.address))
          .AddJson("sent", sentJson.Text());
    }
    if (message) json.Add("message", *message);
    if (!closed.empty()) {
      std::vector<std::string> items;
      for (const auto& c : closed) {
        items.push_back(
            TJsonObject().Add("path", system_.PathText(c.path)).Add("mode", c.mode).Text());
      }
      json.AddJson("closedToOthers", JsonArray(items));
    }
    std::vector<std::string> files;
    for (const TFileReport& r : reports) {
      TJsonObject file;
      file.Add("name", r.name).Add("path", r.path).Add("state", StateName(r.state));
      if (r.encoding) file.Add("encoding", EncodingName(*r.encoding));
      if (r.state == TFileState::Read) {
        TJsonObject values;
        for (const auto& [key, value] : r.values) values.Add(key, value);
        file.Add("section", r.section)
            .Add("sectionFound", r.sectionFound)
            .AddJson("values", values.Text());
      }
      files.push_back(file.Text());
    }
    json.AddJson("files", JsonArray(files))
        .AddJson("warnings", warningsJson)
        .Add("version", kProgramVersion);
    system_.OutUtf8(json.Text() + "\n");
    return ok ? kToolOk : kToolLauncherWouldRefuse;
  }

  const std::map<TFileState, std::string> states = {{TFileState::Missing, _("missing")},
                                                    {TFileState::Unreadable, _("unreadable")},
                                                    {TFileState::Read, _("read")}};
  const std::map<TIniEncoding, std::string> encodings = {
      {TIniEncoding::Ansi, _("this computer's code page")},
      {TIniEncoding::Utf8, _("UTF-8 with byte order mark")},
      {TIniEncoding::Utf16Le, _("UTF-16 LE with byte order mark")},
      {TIniEncoding::Utf16Be, _("UTF-16 BE with byte order mark")}};
  system_.Out(Fill(_("Installation folder: %1"),
                   {folder.empty() ? _("(cannot be told)") : system_.PathText(folder)}) +
              "\n");
  for (const TFileReport& r : reports) {
    std::string line = Concat({r.name, ": ", states.at(r.state)});
    if (r.encoding) line += ", " + Fill(_("encoding: %1"), {encodings.at(*r.encoding)});
    if (r.state == TFileState::Read) {
      line += ", " + Fill(r.sectionFound ? _("section [%1] present") : _("section [%1] missing"),
                          {r.section});
    }
    system_.Out(line + "  (" + r.path + ")\n");
  }
  for (const auto& c : closed) {
    system_.Out(Fill(c.folder ? _("Other users of this computer cannot open the folder %1 (%2): "
                                  "chmod o+x opens it to them.")
                              : _("Other users of this computer cannot read %1 (%2): chmod o+r "
                                  "opens it to them."),
                     {system_.PathText(c.path), c.mode}) +
                "\n");
  }
  if (mine.message) {
    system_.Out(Fill(_("The launcher would show: %1"), {*mine.message}) + "\n");
    return kToolLauncherWouldRefuse;
  }
  if (othersMessage) {
    system_.Out(Fill(_("The launcher of other users would show: %1"), {*othersMessage}) + "\n");
  }
  system_.Out(_("Identity sent:") + "\n");
  for (const auto& [key, value] : sent) system_.Out("  " + key + " = " + value + "\n");
  system_.Out((othersMessage ? _("Your launcher would open:") : _("The launcher will open:")) +
              "\n");
  system_.OutAddress(*mine.address);
  system_.Out("\n");
  return ok ? kToolOk : kToolLauncherWouldRefuse;
}
