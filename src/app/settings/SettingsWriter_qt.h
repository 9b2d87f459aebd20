#pragma once

#include <string>
#include <utility>

#include "settings/Settings.h"

// The write on Linux: the window runs as its user, and only the tool's write runs as root,
// through polkit's /usr/bin/pkexec of the tool under the package's own action (data/, its
// org.freedesktop.policykit.exec.path names the installed tool). The window stays responsive
// while polkit asks for the password.
class TPkexecSettingsWriter final : public TSettingsWriter {
 public:
  // tool: the configuration tool beside the window, by its full path (the system's bytes).
  explicit TPkexecSettingsWriter(std::string tool) : tool_(std::move(tool)) {}
  TSettingsWrite Write(const std::string& json) override;

 private:
  std::string tool_;
};
