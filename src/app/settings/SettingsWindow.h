#pragma once

#include "settings/Settings.h"
#include "tool/ConfigTool.h"

// Shows the settings window ("企业信息管理 设置", "CompanyMain Settings") for the installation
// beside the program, writing through the writer, and returns once it is closed (0). Each
// platform has its view: SettingsWindow_win.cpp, SettingsWindow_qt.cpp.
int RunSettingsWindow(TConfigToolSystem& system, TSettingsWriter& writer);
