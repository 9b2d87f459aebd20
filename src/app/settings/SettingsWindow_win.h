#pragma once

#include "tool/ConfigTool.h"

// Shows the settings window ("企业信息管理 设置", "CompanyMain Settings") for the installation
// beside the program, and returns once it is closed (0).
int RunSettingsWindow(TConfigToolSystem& system);
