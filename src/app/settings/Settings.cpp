#include "settings/Settings.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>

#include "common/Text.h"
#include "inputs/InstallationFiles.h"
#include "tool/Json.h"
#include "tool/Tool.h"

namespace {

// The tool's system with its output kept for the window: everything else is the system's own.
class TCapturingSystem final : public TConfigToolSystem {
 public:
  explicit TCapturingSystem(TConfigToolSystem& system) : system_(system) {}

  std::string Translate(const char* english) override { return system_.Translate(english); }
  [[nodiscard]] std::string ProgramName() const override { return system_.ProgramName(); }
  std::string ElevationRemedy() override { return system_.ElevationRemedy(); }
  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return system_.AnsiCodePage(); }
  std::optional<std::string> ArgumentText(const std::string& argument) override {
    return system_.ArgumentText(argument);
  }
  std::string PathText(const std::string& path) override { return system_.PathText(path); }
  [[nodiscard]] char PathSeparator() const override { return system_.PathSeparator(); }
  std::string ProgramFolder() override { return system_.ProgramFolder(); }
  std::string FullFolder(const std::string& folder) override { return system_.FullFolder(folder); }
  std::string RealPath(const std::string& path) override { return system_.RealPath(path); }
  TConfigFolder& Files() override { return system_.Files(); }
  TFailure ReadFailure(std::uint32_t error) override { return system_.ReadFailure(error); }
  std::optional<TClosed> ClosedToOthers(const std::string& path) override {
    return system_.ClosedToOthers(path);
  }
  std::string LauncherVersion(const std::string& folder) override {
    return system_.LauncherVersion(folder);
  }
  std::unique_ptr<TChange> BeginChange(const std::string& config,
                                       const std::vector<std::string>& names,
                                       TFailure& failure) override {
    return system_.BeginChange(config, names, failure);
  }
  bool RegistryTexts(const std::string& key, const std::vector<std::string>& names,
                     std::map<std::string, std::string>& texts, TFailure& failure) override {
    return system_.RegistryTexts(key, names, texts, failure);
  }
  [[nodiscard]] bool HasRegistry() const override { return system_.HasRegistry(); }
  // Standard input is the values' JSON the window hands over, when it hands one over.
  bool ReadInput(const std::string& path, std::size_t limit, std::string& bytes,
                 TFailure& failure) override {
    if (path != "-" || !input) return system_.ReadInput(path, limit, bytes, failure);
    bytes = input->substr(0, limit + 1);
    return true;
  }

  void Out(std::string_view utf8) override { out += utf8; }
  void Err(std::string_view utf8) override { err += utf8; }
  void OutAddress(std::string_view ansi) override { out += ansi; }
  void OutUtf8(std::string_view utf8) override { out += utf8; }

  std::optional<std::string> input;
  std::string out;
  std::string err;

 private:
  TConfigToolSystem& system_;
};

// One command of the tool: its exit code and the JSON object it printed.
struct TRun {
  int code = kToolWriteFailed;
  std::optional<TJsonValue> json;
  std::string err;

  // Why the command failed, as the tool said it.
  [[nodiscard]] std::string Why() const {
    const std::string error = json ? json->TextOf("error") : std::string();
    return error.empty() ? err : error;
  }
};

TRun Answer(int code, std::string_view out, std::string err) {
  TRun run{code, ParseJson(out), std::move(err)};
  if (run.json && run.json->kind != TJsonValue::Kind::Object) run.json.reset();
  return run;
}

// In process; input, when given, is the command's standard input.
TRun Run(TConfigToolSystem& system, const std::vector<std::string>& args,
         std::optional<std::string> input = std::nullopt) {
  TCapturingSystem capturing(system);
  capturing.input = std::move(input);
  const int code = RunConfigTool(args, capturing);
  return Answer(code, capturing.out, std::move(capturing.err));
}

// The set command with the values' JSON on standard input.
std::vector<std::string> SetCommand(bool dryRun) {
  std::vector<std::string> args = {"--json", "--values-from", "-", "set"};
  if (dryRun) args.insert(args.begin(), "--dry-run");
  return args;
}

std::optional<std::size_t> FieldIndex(std::string_view name) {
  for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
    if (kFields[i].name == name) return i;
  return std::nullopt;
}

// The field of a key the tool wrote.
std::optional<std::size_t> FieldOfKey(std::string_view key) {
  for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
    if (kFields[i].key == key) return i;
  return std::nullopt;
}

// A list of the tool's {"field", "message"} objects, in the window's order.
std::vector<TSettingsProblem> Problems(const TJsonValue* list) {
  std::vector<TSettingsProblem> problems;
  if (list == nullptr) return problems;
  for (const TJsonValue& item : list->items)
    problems.push_back({FieldIndex(item.TextOf("field")).value_or(0), item.TextOf("message")});
  std::stable_sort(problems.begin(), problems.end(),
                   [](const auto& a, const auto& b) { return a.field < b.field; });
  return problems;
}

// A value as a POSIX shell takes it, whatever it holds.
std::string ShellQuoted(std::string_view value) {
  std::string quoted = "'";
  for (const char c : value) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Takes the tool's answer in: true when the command went through; else save says why it did
// not (refused or failed). Either way the warnings go after the message.
bool Took(const TRun& run, TSettingsSave& save, std::vector<TSettingsProblem>& warnings,
          TConfigToolSystem& system) {
  if (run.json) warnings = Problems(run.json->Find("warnings"));
  if (run.code == kToolOk && run.json) return true;
  save.problems = Problems(run.json ? run.json->Find("problems") : nullptr);
  if (run.code == kToolRefused && !save.problems.empty()) {
    save.kind = TSettingsSave::Kind::Refused;
    save.focus = save.problems.front().field;
    save.message = system.Translate("Please correct these values, then save again:") + "\n";
    for (const TSettingsProblem& problem : save.problems) save.message += "\n" + problem.text;
  } else {
    save.kind = TSettingsSave::Kind::Failed;
    save.message = run.Why();
    if (save.message.empty())
      save.message = system.Translate("The configuration tool ended without saying why.");
  }
  return false;
}

}  // namespace

TSettingsWrite TInProcessSettingsWriter::Write(const std::string& json) {
  TCapturingSystem capturing(system_);
  capturing.input = json;
  TSettingsWrite write;
  write.code = RunConfigTool(SetCommand(false), capturing);
  write.out = std::move(capturing.out);
  write.err = std::move(capturing.err);
  return write;
}

TSettingsTexts TSettings::Texts() {
  TSettingsTexts texts{_("CompanyMain Settings"),
                       _("The company page's address and the company's identity, as this PC has "
                         "them. Save writes the values you changed."),
                       {},
                       _("&Save"),
                       _("Close"),
                       _("What the web system receives:"),
                       _("The address the launcher opens:")};
  for (std::size_t i = 0; i < kSettingsFieldCount; ++i) texts.labels[i] = _(kFields[i].label);
  return texts;
}

std::string TSettings::Title(std::size_t field) {
  return _(kFields[field].title);
}

std::string TSettings::Titles(const std::vector<std::size_t>& fields) {
  std::vector<std::string> titles;
  for (const std::size_t field : fields) titles.push_back(Title(field));
  return Joined(titles, ", ");
}

TSettingsLoad TSettings::Load() {
  TSettingsLoad load;
  const TRun run = Run(system_, {"--json", "show"});
  if (run.code != kToolOk || !run.json) {
    load.failure = run.Why();
  } else {
    for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
      load.values[i] = run.json->TextOf(kFields[i].name);
  }
  stored_ = load.values;
  return load;
}

std::vector<std::size_t> TSettings::Edited(const TSettingsValues& shown) const {
  std::vector<std::size_t> edited;
  for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
    if (shown[i] != stored_[i]) edited.push_back(i);
  return edited;
}

std::string TSettings::ToolCommands(const TSettingsValues& shown,
                                    const std::vector<std::size_t>& fields) {
  const std::string tool = "sudo " + system_.ProgramFolder() + system_.ProgramName();
  std::string address, company;
  for (const std::size_t field : fields) {
    if (field == 0) {
      address = "\n  " + tool + " set-address " + ShellQuoted(shown[0]);
    } else {
      if (company.empty()) company = "\n  " + tool + " set-company";
      company += Concat({" ", kFields[field].option, " ", ShellQuoted(shown[field])});
    }
  }
  return _("An administrator can make the change in a terminal:") + address + company;
}

TSettingsSave TSettings::Save(const TSettingsValues& shown) {
  TSettingsSave save;
  const std::vector<std::size_t> edited = Edited(shown);
  if (edited.empty()) {
    save.message = _("No value was changed: there is nothing to save.");
    return save;
  }
  // Only what was edited is sent: a kept value is the tool's to keep exactly as it is stored,
  // also one that this session's code page cannot hold.
  TJsonObject values;
  for (const std::size_t field : edited) values.Add(kFields[field].name, shown[field]);
  const std::string json = values.Text();

  std::vector<TSettingsProblem> warnings;
  const auto said = [&](std::string message) {
    save.message = std::move(message);
    for (const TSettingsProblem& warning : warnings)
      save.message += "\n\n" + Fill(_("Warning: %1"), {warning.text});
    return save;
  };
  // Every value is checked and both files are planned with the window's own rights, before
  // anything is written or a password asked for.
  const TRun dry = Run(system_, SetCommand(true), json);
  if (!Took(dry, save, warnings, system_)) return said(save.message);
  const TJsonValue* wouldChange = dry.json->Find("changed");
  if (wouldChange == nullptr || !wouldChange->boolean) {
    stored_ = shown;
    return said(_("The files already hold these values: nothing needed writing."));
  }

  const TSettingsWrite write = writer_.Write(json);
  save.kind = TSettingsSave::Kind::Failed;
  switch (write.kind) {
    case TSettingsWrite::Kind::Cancelled:
      return said(_("Nothing was changed: the password prompt was closed without the password."));
    case TSettingsWrite::Kind::NotAuthorized:
      return said(_("Nothing was changed: the system did not allow this account to change the "
                    "settings.") +
                  "\n" + ToolCommands(shown, edited));
    case TSettingsWrite::Kind::Unavailable:
      return said(_("Nothing was changed: this computer has no pkexec (polkit), through which "
                    "the window asks for an administrator's password.") +
                  "\n" + ToolCommands(shown, edited));
    case TSettingsWrite::Kind::Ran:
      break;
  }
  const TRun run = Answer(write.code, write.out, write.err);
  if (!Took(run, save, warnings, system_)) return said(save.message);
  // The confirmation names the fields written in the window's order.
  std::vector<std::size_t> fields;
  if (const TJsonValue* keys = run.json->Find("fields")) {
    for (const TJsonValue& key : keys->items) {
      save.changed.push_back(key.text);
      if (const auto field = FieldOfKey(key.text)) fields.push_back(*field);
    }
  }
  std::sort(fields.begin(), fields.end());
  stored_ = shown;
  save.kind = fields.empty() ? TSettingsSave::Kind::Unchanged : TSettingsSave::Kind::Saved;
  return said(fields.empty() ? _("The files already hold these values: nothing needed writing.")
                             : Fill(_("Saved: %1."), {Titles(fields)}));
}

std::string TSettings::CloseQuestion(const TSettingsValues& shown) {
  const std::vector<std::size_t> edited = Edited(shown);
  if (edited.empty()) return {};
  return Fill(_("%1: changed, not saved. Close the window and discard the changes?"),
              {Titles(edited)});
}

TSettingsLaunch TSettings::Launch() {
  TSettingsLaunch launch;
  const TRun run = Run(system_, {"--json", "check"});
  if (run.json) {
    const TJsonValue* ok = run.json->Find("ok");
    launch.message = run.json->TextOf("message");
    launch.address = run.json->TextOf("address");
    // The user's own launcher opens the page when check has its address, even where the other
    // users' launcher would not (ok false): that is said beside the address.
    launch.opens = !launch.address.empty();
    if (const TJsonValue* sent = run.json->Find("sent"))
      for (const auto& [name, value] : sent->members) launch.sent.emplace_back(name, value.text);
    launch.warnings = Problems(run.json->Find("warnings"));
    if (launch.opens && (ok == nullptr || !ok->boolean)) {
      launch.warnings.push_back(
          {0, Fill(_("The launcher of other users would show: %1"), {launch.message})});
    }
  }
  if (launch.message.empty() && !launch.opens) launch.message = run.Why();
  // The launcher's message stays as it is; the box says whose it is.
  launch.shown = launch.opens
                     ? launch.address
                     : Fill(_("The launcher would show this message: %1"), {launch.message});
  return launch;
}
