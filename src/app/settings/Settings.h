#pragma once

// The settings window's work, done by the configuration tool itself: the window reads, checks
// and writes the installation's values by running the tool's commands in process (with --json),
// so the window and the command line keep one set of rules, one writer lock and one wording.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tool/ConfigTool.h"

// The seven values in the window's order: the address, then the identity's fields.
inline constexpr std::size_t kSettingsFieldCount = 7;
using TSettingsValues = std::array<std::string, kSettingsFieldCount>;
// The names the tool's JSON gives them (show's names), in the window's order.
inline constexpr std::array<std::string_view, kSettingsFieldCount> kSettingsFieldNames = {
    "url", "number", "type", "name", "device-id", "upload-user", "other"};

// One value the tool refused: which, and why (a sentence that names the field as the window
// labels it).
struct TSettingsProblem {
  std::size_t field = 0;
  std::string text;
};

struct TSettingsLoad {
  TSettingsValues values;  // "" for a value not stored
  std::string failure;     // why the values could not be read; "" when they were
};

struct TSettingsSave {
  std::vector<TSettingsProblem> problems;  // refused: nothing was written
  std::string failure;                     // a file could not be read or written
  std::vector<std::string> changed;        // the keys written, in the files' order
};

// What the launcher does with the installation as it is now.
struct TSettingsLaunch {
  bool opens = false;
  std::string message;                                    // what it shows instead
  std::vector<std::pair<std::string, std::string>> sent;  // the values the web system receives
  std::string address;                                    // the whole address (UTF-8)
};

class TSettings {
 public:
  // system: the tool's own system; its output goes to the window, not to a console.
  explicit TSettings(TConfigToolSystem& system) : system_(system) {}

  // The stored values, as show reports them.
  TSettingsLoad Load();
  // Checks every value that differs from loaded, all of them before anything is written, and
  // writes only those; the others stay exactly as stored.
  TSettingsSave Save(const TSettingsValues& loaded, const TSettingsValues& edited);
  // The launcher's start-up against the installation, as check reports it.
  TSettingsLaunch Launch();

 private:
  TConfigToolSystem& system_;
};
