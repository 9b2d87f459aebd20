#pragma once

// The tool's parts, as RunConfigTool puts them together: the command line (CommandLine.cpp),
// the commands that write and show (Commands.cpp) and the check of a launch (Check.cpp). All
// output for programs goes through one JSON writer (Json.h).

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inputs/InstallationFiles.h"
#include "tool/ConfigTool.h"

// The message with %1, %2, ... replaced by the values (in one pass: a value's own "%" stays).
std::string Fill(std::string_view text, std::initializer_list<std::string_view> values);
std::string Joined(const std::vector<std::string>& items, std::string_view separator);

struct TCommandLine {
  bool folderGiven = false;
  std::string folder;  // --dir, as the system gave it
  bool registryGiven = false;
  std::string registryKey;  // --from-registry
  bool valuesGiven = false;
  std::string valuesFrom;  // --values-from: a path as the system gave it, or "-"
  std::string command;
  std::vector<std::string> operands;           // text
  std::map<std::string, std::string> options;  // set-company's, as text
  bool json = false;
  bool dryRun = false;
  bool help = false;
  bool version = false;
  std::string error;  // why the command line is refused, in the user's language
};

TCommandLine ParseCommandLine(const std::vector<std::string>& args, TConfigToolSystem& system);
std::string Usage(TConfigToolSystem& system);

// A value the tool refuses. The field is show's name for it (url, number, ...); text names
// the option or the file, for the command line; fieldText names the field as the settings
// window and the setup's page label it, for them.
struct TProblem {
  std::string field;
  std::string text;
  std::string fieldText;
};

class TTool {
 public:
  TTool(TConfigToolSystem& system, const std::vector<std::string>& args)
      : system_(system), codePage_(system.AnsiCodePage()), line_(ParseCommandLine(args, system)) {}

  int Run();
  friend int RunConfigTool(const std::vector<std::string>& args, TConfigToolSystem& system);

 private:
  // What a set command makes of a file it found.
  struct TOutcome {
    enum class Kind { Refused, Failed, Unchanged, Changed } kind = Kind::Unchanged;
    std::string why;                  // Failed
    std::vector<TProblem> problems;   // Refused: every value refused
    std::string bytes;                // Changed: the file's new bytes
    std::vector<std::string> fields;  // Changed: the keys whose values change
  };
  // One file a set command changes, and how it plans the change.
  struct TJob {
    std::string_view name;  // in the Config folder
    std::string_view section;
    std::vector<std::string> keys;
    TOutcome (TTool::*plan)(const TStoredValues&, const std::string& shown);
  };

  // The text in the user's language; the English text is the catalog's key.
  std::string _(const char* english) { return system_.Translate(english); }

  // A refusal (exit code 2) or a failure (3), as text or as the JSON object.
  int Fail(int code, const std::string& why);
  int Refuse(const std::string& why) { return Fail(kToolRefused, why); }
  // A refusal of values: each problem on a line of its own; with --json, all of them with
  // their fields ("problems"), the first one as the error and its field.
  int Refuse(const std::vector<TProblem>& problems);
  // The field as a window or the setup's page labels it, in the user's language.
  std::string FieldTitle(std::string_view field);
  // The problems of set-company's given values, before any file is read.
  std::vector<TProblem> CheckGivenIdentity();
  // The same for an address; it is kept in the ANSI code page (address_) once it passes.
  std::vector<TProblem> CheckGivenAddress(const std::string& url);
  // What the user should know of the address, though it is not refused.
  std::vector<TProblem> AddressWarnings(std::string_view url);
  // The warnings on standard error, and as the JSON array of the answer.
  std::string ReportWarnings(const std::vector<TProblem>& warnings);
  // A value refused, the field it belongs to (show's name) named in the JSON answer.
  int RefuseValue(std::string_view field, const std::string& why) {
    return Refuse(std::vector<TProblem>{{std::string(field), why, why}});
  }
  // What to do about the failure, when more rights would help (with a blank before it).
  std::string Remedy(const TConfigToolSystem::TFailure& failure);
  // The installation folder, ending with the separator; "" when it cannot be told.
  std::string Folder();
  std::string ConfigFolder(const std::string& folder) {
    return folder + std::string(kConfigFolderName);
  }
  std::string PathIn(const std::string& config, std::string_view name) {
    return config + system_.PathSeparator() + std::string(name);
  }
  // A file of the Config folder as messages name it: the folder behind the link.
  std::string Shown(const std::string& config, std::string_view name);
  // The stored values of a file the command needs, read through the change when there is one
  // (the whole file, to be changed); the message when it is there but cannot be read.
  std::optional<std::string> ReadStoredFile(const std::string& config, std::string_view name,
                                            std::string_view section,
                                            const std::vector<std::string>& keys,
                                            TStoredValues& stored,
                                            TConfigToolSystem::TChange* change);

  // Reads the files, plans their changes, and makes them with the configuration held from the
  // reading to the last rename: every file changes, or none does. Says what changed.
  int Apply(const std::vector<TJob>& jobs);
  // Finishes the change of several files that a killed run left half done (its record,
  // kPendingChangeName, still there): a file still as it was before gets its new bytes, one
  // changed since keeps what it has. The message when that cannot be done.
  std::optional<std::string> FinishCutShortChange(TConfigToolSystem::TChange& change);
  TJob AddressJob() {
    return {kAddressFileName, kAddressSection, AddressKeys(), &TTool::PlanAddress};
  }
  TJob IdentityJob() {
    return {kIdentityFileName, kIdentitySection, IdentityKeys(), &TTool::PlanIdentity};
  }
  TOutcome PlanAddress(const TStoredValues& stored, const std::string& shown);
  TOutcome PlanIdentity(const TStoredValues& stored, const std::string& shown);

  // Takes the values of set-address or set-company from the registry key of --from-registry;
  // an exit code when that fails.
  std::optional<int> TakeFromRegistry();
  // The same from the JSON object of --values-from.
  std::optional<int> TakeFromJson();
  int SetAddress();
  int SetCompany();
  int SetBoth();  // set: the address and the identity together
  int Show();
  int Check();
  int Version();

  TConfigToolSystem& system_;
  const TCodePage& codePage_;
  TCommandLine line_;
  std::string address_;  // set-address: the address in the ANSI code page, once checked
  std::vector<TProblem> givenProblems_;  // the given values refused, before any file is read
  std::vector<TProblem> warnings_;       // what to say of the given values, though they pass
};

// Text helpers of the code page.
std::string AnsiOf(std::string_view utf8, const TCodePage& codePage);
std::string Utf8Of(std::string_view ansi, const TCodePage& codePage);
