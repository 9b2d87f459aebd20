#pragma once

// The settings window's work, the same for both windows (SettingsWindow_win.cpp on Windows,
// SettingsWindow_qt.cpp on Linux): the window reads, checks and writes the installation's values
// by running the configuration tool's commands (with --json), so the window and the command
// line keep one set of rules, one writer lock and one wording. Only the write needs more
// rights than reading and checking: TSettingsWriter is how it gets them.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "inputs/InstallationFiles.h"
#include "tool/ConfigTool.h"

// The seven values in the window's order (kFields'): the address, then the identity's fields.
inline constexpr std::size_t kSettingsFieldCount = kFieldCount;
using TSettingsValues = std::array<std::string, kSettingsFieldCount>;

// A value the tool refused or warns about: which, and why (a sentence that names the field as
// the window labels it).
struct TSettingsProblem {
  std::size_t field = 0;
  std::string text;
};

// The window's own words, in the user's language.
struct TSettingsTexts {
  std::string title;
  std::string intro;
  std::array<std::string, kSettingsFieldCount> labels;
  std::string save;  // with its access key (&)
  std::string close;
  std::string sent;     // over what the web system receives
  std::string address;  // over the address the launcher opens
};

struct TSettingsLoad {
  TSettingsValues values;  // "" for a value not stored
  std::string failure;     // why the values could not be read; "" when they were
};

struct TSettingsSave {
  enum class Kind {
    Saved,      // written
    Unchanged,  // nothing to write
    Refused,    // a value refused: nothing was written
    Failed,     // not written: the reason, and that nothing was changed
  } kind = Kind::Unchanged;
  // What the window says, whole: the confirmation with what changed, every refused value, or
  // what happened; the tool's warnings after it.
  std::string message;
  std::vector<TSettingsProblem> problems;  // Refused, in the window's order
  std::size_t focus = 0;                   // Refused: the first field to correct
  std::vector<std::string> changed;        // Saved: the keys written, in the files' order
};

// What the launcher does with the installation as it is now.
struct TSettingsLaunch {
  bool opens = false;
  std::string message;                                    // what it shows instead
  std::vector<std::pair<std::string, std::string>> sent;  // the values the web system receives
  std::string address;                                    // the whole address (UTF-8)
  // What the address box shows: the address, or the launcher's message said to be one.
  std::string shown;
  // The tool's, about the stored values, and what the launcher of the machine's other users
  // would show instead of the page.
  std::vector<TSettingsProblem> warnings;
};

// What became of the write.
struct TSettingsWrite {
  enum class Kind {
    Ran,            // the tool ran: its exit code and output
    Cancelled,      // the user dismissed the password prompt
    NotAuthorized,  // the system did not let the user write
    Unavailable,    // there is no way to more rights on this system
  } kind = Kind::Ran;
  int code = kToolWriteFailed;
  std::string out;  // the tool's JSON answer
  std::string err;
};

// The one step that may need more rights than the window has: the tool's
// "--json --values-from - set" with the values' JSON object on its standard input (never on a
// command line, where other users could read it and a shell could rewrite it).
class TSettingsWriter {
 public:
  virtual ~TSettingsWriter() = default;
  virtual TSettingsWrite Write(const std::string& json) = 0;
};

// The write in this process, for a window that has the rights itself (Windows: the settings
// window runs as an administrator).
class TInProcessSettingsWriter final : public TSettingsWriter {
 public:
  explicit TInProcessSettingsWriter(TConfigToolSystem& system) : system_(system) {}
  TSettingsWrite Write(const std::string& json) override;

 private:
  TConfigToolSystem& system_;
};

class TSettings {
 public:
  // system: the tool's own system, whose reading the window shares; its output goes to the
  // window, not to a console. writer: how the window writes.
  TSettings(TConfigToolSystem& system, TSettingsWriter& writer)
      : system_(system), writer_(writer) {}

  TSettingsTexts Texts();
  // The stored values, as show reports them; kept as what the window's values are compared
  // with.
  TSettingsLoad Load();
  // The fields whose shown value differs from the stored one, in the window's order.
  [[nodiscard]] std::vector<std::size_t> Edited(const TSettingsValues& shown) const;
  // Checks every edited value with the tool's dry run, all of them before anything is written,
  // and then writes those alone, both files or neither; the others stay exactly as stored.
  // Nothing runs after a write that failed.
  TSettingsSave Save(const TSettingsValues& shown);
  // The question to ask before the window closes with edits not saved; "" when there are none.
  std::string CloseQuestion(const TSettingsValues& shown);
  // The launcher's start-up against the installation, as check reports it.
  TSettingsLaunch Launch();

 private:
  std::string _(const char* english) { return system_.Translate(english); }
  // The field as the tool's messages name it.
  std::string Title(std::size_t field);
  std::string Titles(const std::vector<std::size_t>& fields);
  // The tool's commands for the edited values, for an administrator's terminal.
  std::string ToolCommands(const TSettingsValues& shown, const std::vector<std::size_t>& fields);

  TConfigToolSystem& system_;
  TSettingsWriter& writer_;
  TSettingsValues stored_;
};
