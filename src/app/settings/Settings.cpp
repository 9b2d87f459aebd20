#include "settings/Settings.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>

#include "tool/Json.h"

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
  std::unique_ptr<TWriterLock> LockForWriting(const std::string& folder, int waitSeconds,
                                              TFailure& failure) override {
    return system_.LockForWriting(folder, waitSeconds, failure);
  }
  bool MakeFolder(const std::string& path, TFailure& failure) override {
    return system_.MakeFolder(path, failure);
  }
  bool ReplaceFile(const std::string& path, std::string_view bytes, TFailure& failure) override {
    return system_.ReplaceFile(path, bytes, failure);
  }
  bool RemoveFile(const std::string& path, TFailure& failure) override {
    return system_.RemoveFile(path, failure);
  }
  bool RegistryTexts(const std::string& key, const std::vector<std::string>& names,
                     std::map<std::string, std::string>& texts, TFailure& failure) override {
    return system_.RegistryTexts(key, names, texts, failure);
  }
  [[nodiscard]] bool HasRegistry() const override { return system_.HasRegistry(); }
  bool ReadInput(const std::string& path, std::size_t limit, std::string& bytes,
                 TFailure& failure) override {
    return system_.ReadInput(path, limit, bytes, failure);
  }

  void Out(std::string_view utf8) override { out += utf8; }
  void Err(std::string_view utf8) override { err += utf8; }
  void OutAddress(std::string_view ansi) override { out += ansi; }
  void OutUtf8(std::string_view utf8) override { out += utf8; }

  std::string out;
  std::string err;

 private:
  TConfigToolSystem& system_;
};

// One command of the tool, run in process: its exit code and the JSON object it printed.
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

TRun Run(TConfigToolSystem& system, std::vector<std::string> args) {
  TCapturingSystem capturing(system);
  TRun run;
  run.code = RunConfigTool(args, capturing);
  run.json = ParseJson(capturing.out);
  if (run.json && run.json->kind != TJsonValue::Kind::Object) run.json.reset();
  run.err = capturing.err;
  return run;
}

std::optional<std::size_t> FieldIndex(std::string_view name) {
  for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
    if (kSettingsFieldNames[i] == name) return i;
  return std::nullopt;
}

// set-company's option for each identity field, in the window's order after the address.
constexpr std::string_view kIdentityOptions[] = {"--number",    "--type",        "--name",
                                                 "--device-id", "--upload-user", "--other"};

}  // namespace

TSettingsLoad TSettings::Load() {
  TSettingsLoad load;
  const TRun run = Run(system_, {"--json", "show"});
  if (run.code != kToolOk || !run.json) {
    load.failure = run.Why();
    return load;
  }
  for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
    load.values[i] = run.json->TextOf(kSettingsFieldNames[i]);
  return load;
}

TSettingsSave TSettings::Save(const TSettingsValues& loaded, const TSettingsValues& edited) {
  // The commands for what changed: set-address, set-company with the changed fields.
  std::vector<std::vector<std::string>> commands;
  if (edited[0] != loaded[0]) commands.push_back({"set-address", edited[0]});
  std::vector<std::string> company = {"set-company"};
  for (std::size_t i = 1; i < kSettingsFieldCount; ++i) {
    if (edited[i] == loaded[i]) continue;
    company.emplace_back(kIdentityOptions[i - 1]);
    company.push_back(edited[i]);
  }
  if (company.size() > 1) commands.push_back(company);

  TSettingsSave save;
  // Every value is checked before anything is written.
  for (const auto& command : commands) {
    std::vector<std::string> args = {"--dry-run", "--json"};
    args.insert(args.end(), command.begin(), command.end());
    const TRun run = Run(system_, args);
    if (run.code == kToolOk) continue;
    const TJsonValue* problems = run.json ? run.json->Find("problems") : nullptr;
    if (run.code == kToolRefused && problems != nullptr && !problems->items.empty()) {
      for (const TJsonValue& problem : problems->items) {
        const auto field = FieldIndex(problem.TextOf("field"));
        save.problems.push_back({field.value_or(0), problem.TextOf("message")});
      }
    } else if (save.failure.empty()) {
      save.failure = run.Why();
    }
  }
  std::stable_sort(save.problems.begin(), save.problems.end(),
                   [](const auto& a, const auto& b) { return a.field < b.field; });
  if (!save.problems.empty() || !save.failure.empty()) return save;

  for (const auto& command : commands) {
    std::vector<std::string> args = {"--json"};
    args.insert(args.end(), command.begin(), command.end());
    const TRun run = Run(system_, args);
    if (run.code != kToolOk) {
      save.failure = run.Why();
      return save;
    }
    if (const TJsonValue* fields = run.json ? run.json->Find("fields") : nullptr)
      for (const TJsonValue& field : fields->items) save.changed.push_back(field.text);
  }
  return save;
}

TSettingsLaunch TSettings::Launch() {
  TSettingsLaunch launch;
  const TRun run = Run(system_, {"--json", "check"});
  if (!run.json) {
    launch.message = run.Why();
    return launch;
  }
  const TJsonValue* ok = run.json->Find("ok");
  launch.opens = ok != nullptr && ok->boolean;
  launch.message = run.json->TextOf("message");
  if (launch.message.empty() && !launch.opens) launch.message = run.Why();
  launch.address = run.json->TextOf("address");
  if (const TJsonValue* sent = run.json->Find("sent"))
    for (const auto& [name, value] : sent->members) launch.sent.emplace_back(name, value.text);
  return launch;
}
