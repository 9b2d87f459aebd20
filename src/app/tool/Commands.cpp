#include <algorithm>
#include <exception>
#include <iterator>
#include <new>
#include <optional>
#include <utility>

#include "common/Base64.h"
#include "common/Text.h"
#include "common/Utf.h"
#include "launch/Version.h"
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

// How many characters must go from the end of the text for it to take at most `most` bytes in
// the code page: the limit counts bytes, the user counts characters.
std::size_t CharactersOver(std::string_view utf8, const TCodePage& codePage, std::size_t most) {
  const std::u16string units = Utf8ToUtf16(utf8);
  std::size_t bytes = 0;
  std::size_t characters = 0;
  std::size_t fit = 0;
  for (std::size_t i = 0; i < units.size(); ++characters) {
    const bool pair = units[i] >= 0xD800 && units[i] < 0xDC00 && i + 1 < units.size();
    const std::size_t n = pair ? 2 : 1;
    bytes += codePage.FromUtf16(std::u16string_view(units).substr(i, n)).size();
    if (bytes <= most) fit = characters + 1;
    i += n;
  }
  return characters - fit;
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
  const TField* row = FieldNamed(field);
  return row != nullptr ? _(row->title) : std::string(field);
}

std::string TTool::Remedy(const TConfigToolSystem::TFailure& failure) {
  if (!failure.remedy.empty()) return Concat({" ", failure.remedy});
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
                                                 TStoredValues& stored,
                                                 TConfigToolSystem::TChange* change) {
  TConfigToolSystem::TFailure failure;
  try {
    stored = change != nullptr
                 ? StoredOfFile(change->Read(name), section, keys, codePage_)
                 : ReadStored(system_.Files(), PathIn(config, name), section, keys, codePage_);
    if (stored.read.state != TFileRead::State::Unreadable) return std::nullopt;
    failure = system_.ReadFailure(stored.read.error);
  } catch (const std::bad_alloc&) {
    throw;  // no reason of the file's: the whole run ends (RunConfigTool)
  } catch (const std::exception& error) {
    failure.reason = error.what();
  }
  return Fill(change != nullptr ? _("Cannot read %1: %2. Nothing was changed.")
                                : _("Cannot read %1: %2."),
              {change != nullptr ? change->Shown(name) : Shown(config, name), failure.reason}) +
         Remedy(failure);
}

// ---- set-address and set-company -------------------------------------------------------------

std::string TTool::ReportWarnings(const std::vector<TProblem>& warnings) {
  std::vector<std::string> items;
  for (const TProblem& warning : warnings) {
    system_.Err(Fill(_("Warning: %1"), {warning.text}) + "\n");
    items.push_back(
        TJsonObject().Add("field", warning.field).Add("message", warning.fieldText).Text());
  }
  return JsonArray(items);
}

int TTool::Apply(const std::vector<TJob>& jobs) {
  const std::string folder = Folder();
  if (folder.empty()) {
    if (!givenProblems_.empty()) return Refuse(givenProblems_);
    return Fail(kToolWriteFailed, _("Cannot tell the installation folder: give it with --dir."));
  }
  const std::string config = ConfigFolder(folder);
  struct TFile {
    std::string shown;
    TStoredValues stored;  // as read for the outcome
    TOutcome outcome;
  };
  std::vector<TFile> files;
  for (const TJob& job : jobs) files.push_back({Shown(config, job.name), {}, {}});
  // Every file of the installation: a change that a killed run cut short may be any of them.
  const std::vector<std::string> names = {std::string(kAddressFileName),
                                          std::string(kIdentityFileName),
                                          std::string(kPendingChangeName)};
  // Everything from the first reading to the last rename goes through the folders opened here.
  TConfigToolSystem::TFailure refused;
  const std::unique_ptr<TConfigToolSystem::TChange> change =
      system_.BeginChange(config, names, refused);
  if (!change) {
    if (!givenProblems_.empty()) return Refuse(givenProblems_);
    return Fail(kToolWriteFailed, Fill(_("Cannot write %1: %2. Nothing was changed."),
                                       {files.front().shown, refused.reason}) +
                                      Remedy(refused));
  }
  for (std::size_t i = 0; i < jobs.size(); ++i) files[i].shown = change->Shown(jobs[i].name);
  const auto readAndPlan = [&]() {
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      TFile& file = files[i];
      // The last plan's bytes go before the new ones are made: moved out, as an assignment of
      // an empty string would keep their buffers.
      std::exchange(file.stored, {});
      std::exchange(file.outcome, {});
      if (auto failed = ReadStoredFile(config, jobs[i].name, jobs[i].section, jobs[i].keys,
                                       file.stored, change.get())) {
        file.outcome = {TOutcome::Kind::Failed, *failed, {}, {}, {}};
      } else {
        file.outcome = (this->*jobs[i].plan)(file.stored, file.shown);
      }
    }
  };
  // Refusals first, the given values' before the files': then failures; nullopt when every file
  // can take its change.
  const auto refusedOrFailed = [&]() -> std::optional<int> {
    std::vector<TProblem> problems = givenProblems_;
    const TFile* failed = nullptr;
    for (const TFile& file : files) {
      if (file.outcome.kind == TOutcome::Kind::Refused) {
        problems.insert(problems.end(), file.outcome.problems.begin(), file.outcome.problems.end());
      }
      if (file.outcome.kind == TOutcome::Kind::Failed && failed == nullptr) failed = &file;
    }
    if (!problems.empty()) return Refuse(problems);
    if (failed != nullptr) return Fail(kToolWriteFailed, failed->outcome.why);
    return std::nullopt;
  };
  const auto changing = [&]() {
    return std::any_of(files.begin(), files.end(), [](const TFile& file) {
      return file.outcome.kind == TOutcome::Kind::Changed;
    });
  };

  // Refusals and files that already hold the values need no lock; a change is planned again
  // with the configuration held, so that what another writer did meanwhile is kept.
  readAndPlan();
  if (const auto code = refusedOrFailed()) return *code;
  if (changing() && !line_.dryRun) {
    TConfigToolSystem::TFailure failure;
    if (!change->Lock(kWriterWaitSeconds, failure)) {
      if (failure.folder) {
        return Fail(kToolWriteFailed,
                    Fill(_("Cannot create the folder %1: %2. Nothing was changed."),
                         {system_.PathText(config), failure.reason}) +
                        Remedy(failure));
      }
      if (failure.held) {
        return Fail(kToolWriteFailed,
                    Fill(_("Another run of %1 kept %2 busy for %3 seconds. Nothing was changed: "
                           "run it again once the other has finished."),
                         {system_.ProgramName(), system_.PathText(system_.RealPath(config)),
                          std::to_string(kWriterWaitSeconds)}));
      }
      // What stands at the lock's path is named: it is what to remove.
      if (failure.lock) {
        return Fail(kToolWriteFailed,
                    Fill(_("Cannot use the writer lock %1: %2. Nothing was changed."),
                         {change->Shown(kWriterLockName), failure.reason}) +
                        Remedy(failure));
      }
      // The lock file is made beside the files: what keeps it from being made keeps them from
      // being written.
      return Fail(kToolWriteFailed, Fill(_("Cannot write %1: %2. Nothing was changed."),
                                         {files.front().shown, failure.reason}) +
                                        Remedy(failure));
    }
    if (auto why = FinishCutShortChange(*change)) return Fail(kToolWriteFailed, *why);
    readAndPlan();
    if (const auto code = refusedOrFailed()) return *code;
  }

  if (!line_.dryRun) {
    // Several files: their record first, so that a kill between two renames is finished by the
    // next writer.
    std::vector<TPendingFile> pending;
    for (std::size_t i = 0; i < files.size(); ++i) {
      const TStoredValues& stored = files[i].stored;
      if (files[i].outcome.kind != TOutcome::Kind::Changed) continue;
      pending.push_back({jobs[i].name,
                         stored.read.state == TFileRead::State::Read
                             ? std::optional<std::string_view>(stored.bytes)
                             : std::nullopt,
                         files[i].outcome.bytes});
    }
    TConfigToolSystem::TFailure failure;
    const bool recorded = pending.size() > 1;
    // What the record replaces: nothing, once a change cut short is finished.
    if (recorded) change->Read(kPendingChangeName);
    if (recorded && !change->Replace(kPendingChangeName, PendingChangeBytes(pending), failure)) {
      return Fail(kToolWriteFailed, Fill(_("Cannot write %1: %2. Nothing was changed."),
                                         {change->Shown(kPendingChangeName), failure.reason}) +
                                        Remedy(failure));
    }
    // In order; a file that cannot be written puts back those written before it.
    for (std::size_t i = 0; i < files.size(); ++i) {
      const TFile& file = files[i];
      if (file.outcome.kind != TOutcome::Kind::Changed) continue;
      if (change->Replace(jobs[i].name, file.outcome.bytes, failure)) continue;
      std::string why =
          Fill(_("Cannot write %1: %2. Nothing was changed."), {file.shown, failure.reason}) +
          Remedy(failure);
      for (std::size_t j = 0; j < i; ++j) {
        const TFile& written = files[j];
        if (written.outcome.kind != TOutcome::Kind::Changed) continue;
        TConfigToolSystem::TFailure undo;
        const bool undone = written.stored.read.state == TFileRead::State::Read
                                ? change->Replace(jobs[j].name, written.stored.bytes, undo)
                                : change->Remove(jobs[j].name, undo);
        if (!undone) {
          why = Fill(_("Cannot write %1: %2. %3 was changed and could not be put back as it "
                       "was: %4."),
                     {file.shown, failure.reason, written.shown, undo.reason});
        }
      }
      // Put back or not, the record would only make the next writer repeat this change.
      TConfigToolSystem::TFailure ignored;
      if (recorded) change->Remove(kPendingChangeName, ignored);
      return Fail(kToolWriteFailed, why);
    }
    // Left behind, the record is harmless: each file already holds its new bytes.
    if (recorded) change->Remove(kPendingChangeName, failure);
  }

  const std::string warnings = ReportWarnings(warnings_);
  if (line_.json) {
    std::vector<std::string> shown, fields;
    for (const TFile& file : files) {
      if (file.outcome.kind != TOutcome::Kind::Changed) continue;
      shown.push_back(file.shown);
      fields.insert(fields.end(), file.outcome.fields.begin(), file.outcome.fields.end());
    }
    TJsonObject json;
    json.Add("command", line_.command).Add("changed", changing()).Add("dryRun", line_.dryRun);
    // One file: which, whether it changed or not; several: those that change.
    if (files.size() == 1) {
      json.Add("file", files.front().shown);
    } else {
      json.Add("files", shown);
    }
    json.Add("fields", fields).AddJson("warnings", warnings);
    system_.OutUtf8(json.Text() + "\n");
    return kToolOk;
  }
  for (const TFile& file : files) {
    const TOutcome& outcome = file.outcome;
    if (outcome.kind != TOutcome::Kind::Changed) {
      system_.Out(Fill(line_.dryRun ? _("%1 already holds these values: nothing would change.")
                                    : _("%1 already holds these values: nothing changed."),
                       {file.shown}) +
                  "\n");
    } else if (line_.dryRun) {
      system_.Out(Fill(_("Would write %1: %2 would change (dry run, nothing written)."),
                       {file.shown, Joined(outcome.fields, ", ")}) +
                  "\n");
    } else {
      system_.Out(Fill(_("Wrote %1: %2 changed."), {file.shown, Joined(outcome.fields, ", ")}) +
                  "\n");
    }
  }
  return kToolOk;
}

std::optional<std::string> TTool::FinishCutShortChange(TConfigToolSystem::TChange& change) {
  TConfigToolSystem::TFailure failure;
  const TFileBytes record = change.Read(kPendingChangeName);
  if (record.state == TFileRead::State::Missing) return std::nullopt;
  const auto cannot = [&](std::string_view name) {
    return Fill(_("Cannot finish the change a killed run of %1 left half done in %2: %3. "
                  "Nothing was changed."),
                {system_.ProgramName(), change.Shown(name), failure.reason}) +
           Remedy(failure);
  };
  if (record.state == TFileRead::State::Unreadable) {
    failure = system_.ReadFailure(record.error);
    return cannot(kPendingChangeName);
  }
  std::vector<std::string> finished;
  // A record cut short itself (it is renamed into place whole: not one of ours) is dropped.
  for (const TPendingFile& file :
       PendingChangeOf(record.bytes).value_or(std::vector<TPendingFile>())) {
    if (file.name != kAddressFileName && file.name != kIdentityFileName) continue;
    const TFileBytes now = change.Read(file.name);
    const bool asBefore = file.before
                              ? now.state == TFileRead::State::Read && now.bytes == *file.before
                              : now.state == TFileRead::State::Missing;
    if (!asBefore) continue;
    if (!change.Replace(file.name, file.after, failure)) return cannot(file.name);
    finished.push_back(change.Shown(file.name));
  }
  if (!change.Remove(kPendingChangeName, failure)) return cannot(kPendingChangeName);
  if (!finished.empty()) {
    system_.Err(Fill(_("Warning: %1"),
                     {Fill(_("a run of %1 was killed before it had changed every file; %2 now "
                             "holds what that run was to write."),
                           {system_.ProgramName(), Joined(finished, ", ")})}) +
                "\n");
  }
  return std::nullopt;
}

std::optional<int> TTool::TakeFromRegistry() {
  const bool address = line_.command == "set-address";
  std::vector<std::string> names;
  if (address) {
    names.emplace_back(kAddressField.property);
  } else {
    for (const TField& field : kIdentityFields) names.emplace_back(field.property);
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
  const bool both = line_.command == "set";
  const bool address = line_.command == "set-address";
  // The names the command takes: the address's, the identity's, or all seven.
  std::vector<std::string> taken;
  for (const TField& field : kFields)
    if (both || (address == (&field == &kAddressField))) taken.emplace_back(field.name);
  for (const auto& [name, value] : read.members) {
    const TField* field = FieldNamed(name);
    const bool url = field == &kAddressField;
    if (field == nullptr || std::find(taken.begin(), taken.end(), name) == taken.end()) {
      return Refuse(Fill(_("%1 takes no value %2 (it takes %3)."),
                         {line_.command, name, Joined(taken, ", ")}));
    }
    if (!value) continue;  // null: not given
    // A NUL cannot stand in a file the launcher reads as text.
    if (value->find('\0') != std::string::npos) {
      return RefuseValue(field->name, Fill(_("The value of %1 holds a NUL character."), {name}));
    }
    if (url) {
      line_.operands.push_back(*value);
    } else {
      line_.options[std::string(field->option)] = *value;
    }
  }
  if (line_.operands.empty() && line_.options.empty())
    return Refuse(Fill(_("%1 gives no value for %2."), {shown, line_.command}));
  return std::nullopt;
}

std::vector<TProblem> TTool::CheckGivenAddress(const std::string& url) {
  // Each sentence names the page address as the window and the page label it.
  const auto refused = [](const std::string& why) {
    return std::vector<TProblem>{{std::string(kAddressField.name), why, why}};
  };
  if (TrimView(url).empty()) return refused(_("The page address is empty."));
  // The launcher on Windows hands only web addresses to the default browser: anything else
  // would open a file or run a program named in the configuration.
  if (!IsWebAddress(url)) {
    return refused(
        _("The page address must start with http:// or https:// (the launcher hands only web "
          "addresses to the browser)."));
  }
  if (url.find_first_of("\r\n") != std::string::npos)
    return refused(_("The page address must not hold a line break."));
  if (!Representable(url, codePage_))
    return refused(_("The page address holds characters this computer's code page cannot hold."));
  address_ = AnsiOf(url, codePage_);
  if (AddressValue(address_).size() > kIniValueMax) {
    // The file holds it in base64: four characters for every three bytes.
    const std::size_t over = CharactersOver(url, codePage_, kIniValueMax / 4 * 3);
    return refused(
        over == 1 ? _("The page address is 1 character too long.")
                  : Fill(_("The page address is %1 characters too long."), {std::to_string(over)}));
  }
  return {};
}

std::vector<TProblem> TTool::AddressWarnings(std::string_view url) {
  // The launcher puts "?Id=" behind the address whatever it holds: the web system reads the
  // query from the first "?" and sees no Id after a second one. What it builds stays, as the
  // web system may rely on it; whoever types the address is told.
  if (url.find('?') == std::string_view::npos) return {};
  const std::string why =
      _("The page address already holds a query (after \"?\"): the launcher adds \"?Id=...\" "
        "behind it, and the web system does not read Id after a second \"?\".");
  return {{std::string(kAddressField.name), why, why}};
}

int TTool::SetAddress() {
  if (line_.operands.size() != 1) return Refuse(_("set-address needs one address."));
  givenProblems_ = CheckGivenAddress(line_.operands[0]);
  if (!givenProblems_.empty()) return Refuse(givenProblems_);
  warnings_ = AddressWarnings(line_.operands[0]);
  return Apply({AddressJob()});
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
          AddressFileChange(stored, AddressValue(address_)),
          {std::string(kAddressKey)}};
}

int TTool::SetCompany() {
  if (!line_.operands.empty())
    return Refuse(Fill(_("set-company does not take %1."), {line_.operands[0]}));
  // Values refused before the file is read are reported with those refused after it.
  givenProblems_ = CheckGivenIdentity();
  return Apply({IdentityJob()});
}

int TTool::SetBoth() {
  // Every value is checked, and both files are planned, before either is written.
  std::vector<TJob> jobs;
  if (line_.operands.size() == 1) {
    givenProblems_ = CheckGivenAddress(line_.operands[0]);
    if (givenProblems_.empty()) {
      warnings_ = AddressWarnings(line_.operands[0]);
      jobs.push_back(AddressJob());
    }
  }
  const std::vector<TProblem> identity = CheckGivenIdentity();
  givenProblems_.insert(givenProblems_.end(), identity.begin(), identity.end());
  if (!line_.options.empty()) jobs.push_back(IdentityJob());
  if (jobs.empty()) return Refuse(givenProblems_);
  return Apply(jobs);
}

std::vector<TProblem> TTool::CheckGivenIdentity() {
  std::vector<TProblem> problems;
  for (const TField& field : kIdentityFields) {
    const auto given = line_.options.find(std::string(field.option));
    if (given == line_.options.end()) continue;
    const std::string& value = given->second;
    // One rule's sentence (translated), naming the option and the field's title.
    const auto refused = [&](const std::string& rule, std::string_view more = {}) {
      problems.push_back({std::string(field.name), Fill(rule, {field.option, more}),
                          Fill(rule, {FieldTitle(field.name), more})});
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
      const std::size_t over = CharactersOver(value, codePage_, kIniValueMax);
      if (over == 1) {
        refused(_("%1 is 1 character too long."));
      } else {
        refused(_("%1 is %2 characters too long."), std::to_string(over));
      }
    }
  }
  return problems;
}

TTool::TOutcome TTool::PlanIdentity(const TStoredValues& stored, const std::string& shown) {
  std::vector<TProblem> problems;
  // A file without the section holds no identity, as the launcher sees it.
  const bool found = stored.read.SectionFound();
  if (!found) {
    std::vector<std::string> missing;
    for (const TField& field : kIdentityFields)
      if (field.required && !line_.options.contains(std::string(field.option)))
        missing.emplace_back(field.option);
    const std::string why =
        Fill(_("%1 holds no company identity yet: give %2."), {shown, Joined(missing, " ")});
    for (const TField& field : kIdentityFields) {
      if (!field.required || line_.options.contains(std::string(field.option))) continue;
      problems.push_back({std::string(field.name), why,
                          Fill(_("%1 must be given: this computer holds no company identity "
                                 "yet."),
                               {FieldTitle(field.name)})});
    }
  }
  // The values not given stay as they are, byte for byte, whatever this session's code page
  // makes of them; a required one that is blank would leave an identity the web system cannot
  // tell.
  for (std::size_t i = 0; i < kIdentityFieldCount && found; ++i) {
    const TField& field = kIdentityFields[i];
    if (line_.options.contains(std::string(field.option))) continue;
    if (field.required && TrimView(stored.read.values.values[i]).empty()) {
      problems.push_back(
          {std::string(field.name),
           Fill(_("The stored %1 is blank: give %2 (the web system cannot tell the company "
                  "without it)."),
                {field.key, field.option}),
           Fill(_("%1 must not be blank: the web system cannot tell the company without it."),
                {FieldTitle(field.name)})});
    }
  }
  // Refused already: no file is made of values that cannot stand in it.
  if (!problems.empty() || !givenProblems_.empty())
    return {TOutcome::Kind::Refused, {}, std::move(problems), {}, {}};
  // Only what is given and differs from what is stored is written; a value that reads as ""
  // (a key or section missing) and is given as "" is not written either.
  std::vector<TKeyValue> values;
  std::vector<std::string> changed;
  for (std::size_t i = 0; i < kIdentityFieldCount; ++i) {
    const TField& field = kIdentityFields[i];
    const auto given = line_.options.find(std::string(field.option));
    if (given == line_.options.end()) continue;
    const std::optional<std::string> old =
        found ? stored.text[i] : std::optional<std::string>(std::string());
    if (old && *old == given->second) continue;
    values.push_back({field.key, given->second});
    changed.emplace_back(field.key);
  }
  if (changed.empty()) return {TOutcome::Kind::Unchanged, {}, {}, {}, {}};
  TFileChange change = IdentityFileChange(stored, values, codePage_);
  for (const std::string& key : change.unencodable) {
    // Not reached where the given values are checked against the code page: a file without a
    // byte order mark holds its values in the code page.
    const TField& field =
        *std::find_if(std::begin(kIdentityFields), std::end(kIdentityFields),
                      [&](const auto& f) { return f.key == key; });
    problems.push_back({std::string(field.name),
                        Fill(_("%1 holds characters that %2 cannot hold in this computer's code "
                               "page."),
                             {field.option, shown}),
                        Fill(_("%1 holds characters that %2 cannot hold in this computer's code "
                               "page."),
                             {FieldTitle(field.name), shown})});
  }
  if (!problems.empty()) return {TOutcome::Kind::Refused, {}, std::move(problems), {}, {}};
  return {TOutcome::Kind::Changed, {}, {}, std::move(change.bytes), changed};
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
                                   address, nullptr)) {
    return Fail(kToolWriteFailed, *failed);
  }
  std::optional<std::string> url;
  if (address.read.SectionFound())
    url = Utf8Of(Base64Decode(address.read.values.values[0]), codePage_);
  shown.emplace_back(kAddressField.name, url);

  TStoredValues identity;
  if (auto failed = ReadStoredFile(config, kIdentityFileName, kIdentitySection, IdentityKeys(),
                                   identity, nullptr)) {
    return Fail(kToolWriteFailed, *failed);
  }
  const bool found = identity.read.SectionFound();
  for (std::size_t i = 0; i < kIdentityFieldCount; ++i) {
    std::optional<std::string> value;
    // The stored text; bytes that are no text in the code page as the code page shows them.
    if (found) value = identity.text[i].value_or(Utf8Of(identity.read.values.values[i], codePage_));
    shown.emplace_back(kIdentityFields[i].name, value);
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
  if (line_.command == "set") return SetBoth();
  if (line_.command == "show") return Show();
  if (line_.command == "check") return Check();
  if (line_.command.empty()) return Refuse(_("No command given.") + "\n" + Usage(system_));
  return Refuse(Fill(_("Unknown command: %1"), {line_.command}) + "\n" + Usage(system_));
}

int RunConfigTool(const std::vector<std::string>& args, TConfigToolSystem& system) {
  // Short of memory anywhere, the run fails as a write does. Nothing was written: the files'
  // new bytes are all made before the first is replaced. The unwinding freed what was held.
  std::optional<TTool> tool;
  try {
    tool.emplace(system, args);
    return tool->Run();
  } catch (const std::bad_alloc&) {
    const std::string why =
        system.Translate("Not enough memory to change the files. Nothing was changed.");
    if (tool) return tool->Fail(kToolWriteFailed, why);
    system.Err(Fill(system.Translate("Error: %1"), {why}) + "\n");
    return kToolWriteFailed;
  }
}
