#include <algorithm>
#include <exception>
#include <iterator>

#include "common/Base64.h"
#include "common/Text.h"
#include "common/Utf.h"
#include "launcher/Version.h"
#include "tool/Json.h"
#include "tool/Tool.h"

std::string AnsiOf(std::string_view utf8, const TCodePage& codePage) {
  return codePage.FromUtf16(Utf8ToUtf16(utf8));
}

std::string Utf8Of(std::string_view ansi, const TCodePage& codePage) {
  return Utf16ToUtf8(codePage.ToUtf16(ansi));
}

namespace {

// The text reads back as itself from the code page: nothing became "?".
bool Representable(std::string_view utf8, const TCodePage& codePage) {
  return codePage.ToUtf16(AnsiOf(utf8, codePage)) == Utf8ToUtf16(utf8);
}

}  // namespace

// ---- What every command shares ---------------------------------------------------------------

int TTool::Fail(int code, const std::string& why) {
  if (line_.json) {
    TJsonObject json;
    json.Add("command", line_.command);
    if (line_.command == "check") {
      json.Add("ok", false);
    } else {
      json.Add("changed", false);
    }
    json.Add("dryRun", line_.dryRun).Add("error", why);
    system_.OutUtf8(json.Text() + "\n");
  }
  system_.Err(Fill(_("Error: %1"), {why}) + "\n");
  return code;
}

int TTool::Refuse(const std::vector<TProblem>& problems) {
  if (line_.json) {
    std::vector<std::string> items;
    for (const TProblem& problem : problems) {
      items.push_back(
          TJsonObject().Add("field", problem.field).Add("message", problem.fieldText).Text());
    }
    system_.OutUtf8(TJsonObject()
                        .Add("command", line_.command)
                        .Add("changed", false)
                        .Add("dryRun", line_.dryRun)
                        .AddJson("problems", JsonArray(items))
                        .Add("error", problems.front().text)
                        .Add("field", problems.front().field)
                        .Text() +
                    "\n");
  }
  // One line per sentence: fields missing from a new identity share one.
  std::vector<std::string> said;
  for (const TProblem& problem : problems) {
    if (std::find(said.begin(), said.end(), problem.text) != said.end()) continue;
    said.push_back(problem.text);
    system_.Err(Fill(_("Error: %1"), {problem.text}) + "\n");
  }
  return kToolRefused;
}

std::string TTool::FieldTitle(std::string_view field) {
  if (field == "url") return _("Page address");
  if (field == "number") return _("Company number");
  if (field == "type") return _("Type code");
  if (field == "name") return _("Company name");
  if (field == "device-id") return _("Device ID");
  if (field == "upload-user") return _("Upload user");
  return _("Other information");
}

std::string TTool::Remedy(const TConfigToolSystem::TFailure& failure) {
  if (!failure.denied) return "";
  return Concat({" ", system_.ElevationRemedy()});
}

std::string TTool::Folder() {
  // By default the folder of the tool itself, which is the launcher's.
  return line_.folderGiven ? system_.FullFolder(line_.folder) : system_.ProgramFolder();
}

std::string TTool::Shown(const std::string& config, std::string_view name) {
  return system_.PathText(system_.RealPath(config)) + system_.PathSeparator() + std::string(name);
}

std::optional<std::string> TTool::ReadStoredFile(const std::string& config, std::string_view name,
                                                 std::string_view section,
                                                 const std::vector<std::string>& keys,
                                                 TStoredValues& stored, bool forChange) {
  TConfigToolSystem::TFailure failure;
  try {
    stored = ReadStored(system_.Files(), PathIn(config, name), section, keys, codePage_);
    if (stored.read.state != TFileRead::State::Unreadable) return std::nullopt;
    failure = system_.ReadFailure(stored.read.error);
  } catch (const std::exception& error) {
    failure.reason = error.what();
  }
  return Fill(forChange ? _("Cannot read %1: %2. Nothing was changed.") : _("Cannot read %1: %2."),
              {Shown(config, name), failure.reason}) +
         Remedy(failure);
}

// ---- set-address and set-company -------------------------------------------------------------

int TTool::Set(std::string_view name, std::string_view section,
               const std::vector<std::string>& keys,
               TOutcome (TTool::*plan)(const TStoredValues&, const std::string& shown)) {
  const std::string folder = Folder();
  if (folder.empty())
    return Fail(kToolWriteFailed, _("Cannot tell the installation folder: give it with --dir."));
  const std::string config = ConfigFolder(folder);
  const std::string path = PathIn(config, name);
  const std::string shown = Shown(config, name);
  const auto readAndPlan = [&]() {
    TStoredValues stored;
    if (auto failed = ReadStoredFile(config, name, section, keys, stored, true)) {
      return TOutcome{TOutcome::Kind::Failed, *failed, {}, {}, {}};
    }
    return (this->*plan)(stored, shown);
  };

  // Refusals and files that already hold the values need no lock; a change is planned again
  // with the configuration held, so that what another writer did meanwhile is kept.
  TOutcome outcome = readAndPlan();
  std::unique_ptr<TConfigToolSystem::TWriterLock> lock;
  if (outcome.kind == TOutcome::Kind::Changed && !line_.dryRun) {
    TConfigToolSystem::TFailure failure;
    if (!system_.MakeFolder(config, failure)) {
      return Fail(kToolWriteFailed, Fill(_("Cannot create the folder %1: %2. Nothing was changed."),
                                         {system_.PathText(config), failure.reason}) +
                                        Remedy(failure));
    }
    lock = system_.LockForWriting(config, kWriterWaitSeconds, failure);
    if (!lock && failure.held) {
      return Fail(kToolWriteFailed,
                  Fill(_("Another run of %1 kept %2 busy for %3 seconds. Nothing was changed: "
                         "run it again once the other has finished."),
                       {system_.ProgramName(), system_.PathText(system_.RealPath(config)),
                        std::to_string(kWriterWaitSeconds)}));
    }
    // What stands at the lock's path is named: it is what to remove.
    if (!lock && failure.lock) {
      return Fail(kToolWriteFailed,
                  Fill(_("Cannot use the writer lock %1: %2. Nothing was changed."),
                       {Shown(config, kWriterLockName), failure.reason}) +
                      Remedy(failure));
    }
    // The lock file is made beside the file: what keeps it from being made keeps the file
    // from being written.
    if (!lock) {
      return Fail(kToolWriteFailed,
                  Fill(_("Cannot write %1: %2. Nothing was changed."), {shown, failure.reason}) +
                      Remedy(failure));
    }
    outcome = readAndPlan();
  }

  switch (outcome.kind) {
    case TOutcome::Kind::Refused:
      return Refuse(outcome.problems);
    case TOutcome::Kind::Failed:
      // A value refused before the file was read is refused whatever the file.
      if (!givenProblems_.empty()) return Refuse(givenProblems_);
      return Fail(kToolWriteFailed, outcome.why);
    case TOutcome::Kind::Unchanged:
      if (line_.json) {
        system_.OutUtf8(TJsonObject()
                            .Add("command", line_.command)
                            .Add("changed", false)
                            .Add("dryRun", line_.dryRun)
                            .Add("file", shown)
                            .Add("fields", std::vector<std::string>())
                            .Text() +
                        "\n");
      } else {
        system_.Out(Fill(line_.dryRun ? _("%1 already holds these values: nothing would change.")
                                      : _("%1 already holds these values: nothing changed."),
                         {shown}) +
                    "\n");
      }
      return kToolOk;
    case TOutcome::Kind::Changed:
      break;
  }
  if (!line_.dryRun) {
    TConfigToolSystem::TFailure failure;
    if (!system_.ReplaceFile(path, outcome.bytes, failure)) {
      return Fail(kToolWriteFailed,
                  Fill(_("Cannot write %1: %2. Nothing was changed."), {shown, failure.reason}) +
                      Remedy(failure));
    }
  }
  if (line_.json) {
    system_.OutUtf8(TJsonObject()
                        .Add("command", line_.command)
                        .Add("changed", true)
                        .Add("dryRun", line_.dryRun)
                        .Add("file", shown)
                        .Add("fields", outcome.fields)
                        .Text() +
                    "\n");
  } else if (line_.dryRun) {
    system_.Out(Fill(_("Would write %1: %2 would change (dry run, nothing written)."),
                     {shown, Joined(outcome.fields, ", ")}) +
                "\n");
  } else {
    system_.Out(Fill(_("Wrote %1: %2 changed."), {shown, Joined(outcome.fields, ", ")}) + "\n");
  }
  return kToolOk;
}

std::optional<int> TTool::TakeFromRegistry() {
  const bool address = line_.command == "set-address";
  std::vector<std::string> names;
  if (address) {
    names.emplace_back(kAddressProperty);
  } else {
    for (const TIdentityField& field : kIdentityFields) names.emplace_back(field.property);
  }
  std::map<std::string, std::string> texts;
  TConfigToolSystem::TFailure failure;
  if (!system_.RegistryTexts(line_.registryKey, names, texts, failure)) {
    return Fail(kToolWriteFailed, Fill(_("Cannot read the registry key %1: %2."),
                                       {line_.registryKey, failure.reason}) +
                                      Remedy(failure));
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const auto found = texts.find(names[i]);
    if (found == texts.end()) continue;
    // Each value stands in double quotes: Windows Installer writes a text that starts with "#"
    // as a number or binary data, but not one that starts with a quote. "" is no value.
    const std::string& text = found->second;
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
      return Refuse(Fill(_("The value %1 of the registry key %2 does not stand in double quotes "
                           "as the installer writes it."),
                         {names[i], line_.registryKey}));
    }
    const std::string value = text.substr(1, text.size() - 2);
    if (value.empty()) continue;
    if (address) {
      line_.operands.push_back(value);
    } else {
      line_.options[std::string(kIdentityFields[i].option)] = value;
    }
  }
  if (line_.operands.empty() && line_.options.empty()) {
    return Refuse(Fill(_("The registry key %1 holds no value for %2 (%3)."),
                       {line_.registryKey, line_.command, Joined(names, ", ")}));
  }
  return std::nullopt;
}

std::optional<int> TTool::TakeFromJson() {
  // Far more than seven values of 2047 bytes, each escaped, can take.
  constexpr std::size_t kLimit = 1 << 20;
  const std::string shown =
      line_.valuesFrom == "-" ? _("standard input") : system_.PathText(line_.valuesFrom);
  std::string bytes;
  TConfigToolSystem::TFailure failure;
  if (!system_.ReadInput(line_.valuesFrom, kLimit, bytes, failure)) {
    return Fail(kToolWriteFailed,
                Fill(_("Cannot read %1: %2."), {shown, failure.reason}) + Remedy(failure));
  }
  if (bytes.size() > kLimit) {
    return Refuse(Fill(_("%1 holds more than %2 bytes: it is no object of values."),
                       {shown, std::to_string(kLimit)}));
  }
  const TJsonObjectRead read = ReadJsonObject(bytes);
  if (!read.error.empty())
    return Refuse(Fill(_("%1 is no JSON object of texts: %2."), {shown, read.error}));
  const bool address = line_.command == "set-address";
  for (const auto& [name, value] : read.members) {
    const TIdentityField* field = nullptr;
    for (const TIdentityField& f : kIdentityFields)
      if (name == f.label) field = &f;
    if (address ? name != "url" : field == nullptr) {
      return Refuse(Fill(_("%1 takes no value %2 (it takes %3)."),
                         {line_.command, name,
                          address ? "url" : "number, type, name, device-id, upload-user, other"}));
    }
    if (!value) continue;  // null: not given
    // A NUL cannot stand in a file the launcher reads as text.
    if (value->find('\0') != std::string::npos) {
      return RefuseValue(address ? std::string_view("url") : field->label,
                         Fill(_("The value of %1 holds a NUL character."), {name}));
    }
    if (address) {
      line_.operands.push_back(*value);
    } else {
      line_.options[std::string(field->option)] = *value;
    }
  }
  if (line_.operands.empty() && line_.options.empty())
    return Refuse(Fill(_("%1 gives no value for %2."), {shown, line_.command}));
  return std::nullopt;
}

int TTool::SetAddress() {
  if (line_.operands.size() != 1) return Refuse(_("set-address needs one address."));
  const std::string& url = line_.operands[0];
  // Each sentence names the page address as the window and the page label it.
  const auto refuse = [this](const std::string& why) {
    return Refuse(std::vector<TProblem>{{"url", why, why}});
  };
  if (TrimView(url).empty()) return refuse(_("The page address is empty."));
  // The launcher on Windows hands only web addresses to the default browser: anything else
  // would open a file or run a program named in the configuration.
  if (!IsWebAddress(url)) {
    return refuse(
        _("The page address must start with http:// or https:// (the launcher hands only web "
          "addresses to the browser)."));
  }
  if (url.find_first_of("\r\n") != std::string::npos)
    return refuse(_("The page address must not hold a line break."));
  if (!Representable(url, codePage_))
    return refuse(_("The page address holds characters this computer's code page cannot hold."));
  address_ = AnsiOf(url, codePage_);
  if (const std::string value = AddressValue(address_); value.size() > kIniValueMax) {
    return refuse(Fill(_("The page address is too long: %1 characters encoded, at most %2."),
                       {std::to_string(value.size()), std::to_string(kIniValueMax)}));
  }
  return Set(kAddressFileName, kAddressSection, AddressKeys(), &TTool::PlanAddress);
}

TTool::TOutcome TTool::PlanAddress(const TStoredValues& stored, const std::string&) {
  // The same address as the launcher decodes it is the same address, however it is written.
  if (stored.read.state == TFileRead::State::Read &&
      Base64Decode(stored.read.values.values[0]) == address_) {
    return {TOutcome::Kind::Unchanged, {}, {}, {}, {}};
  }
  return {TOutcome::Kind::Changed,
          {},
          {},
          AddressFileBytes(AddressValue(address_)),
          {std::string(kAddressKey)}};
}

int TTool::SetCompany() {
  if (!line_.operands.empty())
    return Refuse(Fill(_("set-company does not take %1."), {line_.operands[0]}));
  // Values refused before the file is read are reported with those refused after it.
  givenProblems_ = CheckGivenIdentity();
  return Set(kIdentityFileName, kIdentitySection, IdentityKeys(), &TTool::PlanIdentity);
}

std::vector<TProblem> TTool::CheckGivenIdentity() {
  std::vector<TProblem> problems;
  for (const TIdentityField& field : kIdentityFields) {
    const auto given = line_.options.find(std::string(field.option));
    if (given == line_.options.end()) continue;
    const std::string& value = given->second;
    // One rule's sentence (translated), naming the option and the field's title.
    const auto refused = [&](const std::string& rule, std::string_view more = {}) {
      problems.push_back({std::string(field.label), Fill(rule, {field.option, more}),
                          Fill(rule, {FieldTitle(field.label), more})});
    };
    if (field.required && TrimView(value).empty()) {
      refused(_("%1 must not be blank: the web system cannot tell the company without it."));
    } else if (value.find_first_of("\r\n") != std::string::npos) {
      refused(_("%1 must not hold a line break."));
    } else if (!Representable(value, codePage_)) {
      // The launcher reads the file in its code page: what that cannot hold would reach the
      // web system as "?", and what it cuts would be lost.
      refused(_("%1 holds characters this computer's code page cannot hold: %2"), value);
    } else if (AnsiOf(value, codePage_).size() > kIniValueMax) {
      refused(_("%1 is too long (at most %2 bytes in this computer's code page)."),
              std::to_string(kIniValueMax));
    }
  }
  return problems;
}

TTool::TOutcome TTool::PlanIdentity(const TStoredValues& stored, const std::string& shown) {
  std::vector<TProblem> problems = givenProblems_;
  // A file without the section holds no identity, as the launcher sees it.
  const bool found = stored.read.SectionFound();
  if (!found) {
    std::vector<std::string> missing;
    for (const TIdentityField& field : kIdentityFields)
      if (field.required && !line_.options.contains(std::string(field.option)))
        missing.emplace_back(field.option);
    const std::string why =
        Fill(_("%1 holds no company identity yet: give %2."), {shown, Joined(missing, " ")});
    for (const TIdentityField& field : kIdentityFields) {
      if (!field.required || line_.options.contains(std::string(field.option))) continue;
      problems.push_back({std::string(field.label), why,
                          Fill(_("%1 must be given: this computer holds no company identity "
                                 "yet."),
                               {FieldTitle(field.label)})});
    }
  }
  std::vector<std::string> values;
  std::vector<std::string> changed;
  for (std::size_t i = 0; i < kIdentityFieldCount && found; ++i) {
    const TIdentityField& field = kIdentityFields[i];
    const std::optional<std::string> old = stored.text[i];
    if (line_.options.contains(std::string(field.option))) continue;
    // Kept as it is stored, whatever this session's code page: bytes that are no text in the
    // code page could not be written back.
    if (!old) {
      problems.push_back(
          {std::string(field.label),
           Fill(_("The stored %1 is not text in this computer's code page and cannot be kept "
                  "as it is: give %2."),
                {field.key, field.option}),
           Fill(_("The stored %1 is not text in this computer's code page: type it again."),
                {FieldTitle(field.label)})});
    } else if (field.required && TrimView(*old).empty()) {
      problems.push_back(
          {std::string(field.label),
           Fill(_("The stored %1 is blank: give %2 (the web system cannot tell the company "
                  "without it)."),
                {field.key, field.option}),
           Fill(_("%1 must not be blank: the web system cannot tell the company without it."),
                {FieldTitle(field.label)})});
    }
  }
  if (!problems.empty()) return {TOutcome::Kind::Refused, {}, std::move(problems), {}, {}};
  for (std::size_t i = 0; i < kIdentityFieldCount; ++i) {
    const TIdentityField& field = kIdentityFields[i];
    const std::optional<std::string> old = found ? stored.text[i] : std::optional<std::string>();
    const auto given = line_.options.find(std::string(field.option));
    values.push_back(given != line_.options.end() ? given->second : old.value_or(""));
    if (!found || values.back() != old) changed.emplace_back(field.key);
  }
  if (changed.empty()) return {TOutcome::Kind::Unchanged, {}, {}, {}, {}};
  return {TOutcome::Kind::Changed, {}, {}, IdentityFileBytes(values), changed};
}

// ---- show and version ------------------------------------------------------------------------

int TTool::Show() {
  if (!line_.operands.empty())
    return Refuse(Fill(_("show does not take %1."), {line_.operands[0]}));
  const std::string folder = Folder();
  if (folder.empty())
    return Fail(kToolWriteFailed, _("Cannot tell the installation folder: give it with --dir."));
  const std::string config = ConfigFolder(folder);

  std::vector<std::pair<std::string_view, std::optional<std::string>>> shown;
  TStoredValues address;
  if (auto failed = ReadStoredFile(config, kAddressFileName, kAddressSection, AddressKeys(),
                                   address, false)) {
    return Fail(kToolWriteFailed, *failed);
  }
  std::optional<std::string> url;
  if (address.read.SectionFound())
    url = Utf8Of(Base64Decode(address.read.values.values[0]), codePage_);
  shown.emplace_back("url", url);

  TStoredValues identity;
  if (auto failed = ReadStoredFile(config, kIdentityFileName, kIdentitySection, IdentityKeys(),
                                   identity, false)) {
    return Fail(kToolWriteFailed, *failed);
  }
  const bool found = identity.read.SectionFound();
  for (std::size_t i = 0; i < kIdentityFieldCount; ++i) {
    std::optional<std::string> value;
    // The stored text; bytes that are no text in the code page as the code page shows them.
    if (found) value = identity.text[i].value_or(Utf8Of(identity.read.values.values[i], codePage_));
    shown.emplace_back(kIdentityFields[i].label, value);
  }

  std::string out;
  if (line_.json) {
    TJsonObject json;
    json.Add("command", "show");
    for (const auto& [name, value] : shown) json.AddOrNull(name, value);
    out = json.Text() + "\n";
  } else {
    for (const auto& [name, value] : shown) {
      // One line per field, whatever a hand-written value holds.
      std::string line = value.value_or("");
      std::replace_if(
          line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
      out += Concat({name, "=", line, "\n"});
    }
  }
  system_.OutUtf8(out);
  return kToolOk;
}

int TTool::Version() {
  // The same first line on every platform: scripts look for it.
  system_.Out(std::string("companymain-config ") + kProgramVersion + "\n");
  const std::string folder = Folder();
  const std::string launcher = folder.empty() ? "" : system_.LauncherVersion(folder);
  if (!launcher.empty()) system_.Out("CompanyMain " + launcher + "\n");
  return kToolOk;
}

int TTool::Run() {
  if (!line_.error.empty())
    return Refuse(line_.error + "\n" + Fill(_("See %1 --help."), {system_.ProgramName()}));
  if (line_.help) {
    system_.Out(Usage(system_));
    return kToolOk;
  }
  if (line_.version) return Version();
  if (line_.registryGiven) {
    if (const auto failed = TakeFromRegistry()) return *failed;
  }
  if (line_.valuesGiven) {
    if (const auto failed = TakeFromJson()) return *failed;
  }
  if (line_.command == "set-address") return SetAddress();
  if (line_.command == "set-company") return SetCompany();
  if (line_.command == "show") return Show();
  if (line_.command == "check") return Check();
  if (line_.command.empty()) return Refuse(_("No command given.") + "\n" + Usage(system_));
  return Refuse(Fill(_("Unknown command: %1"), {line_.command}) + "\n" + Usage(system_));
}

int RunConfigTool(const std::vector<std::string>& args, TConfigToolSystem& system) {
  return TTool(system, args).Run();
}
