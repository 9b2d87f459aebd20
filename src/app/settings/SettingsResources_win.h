#pragma once

// Resource identifiers of CompanyMainSettings.exe (its .rc file and its code).
#define IDI_SETTINGS 1
#define IDD_SETTINGS 100
#define IDC_SETTINGS_INTRO 101
#define IDC_SETTINGS_SENT_LABEL 102
#define IDC_SETTINGS_SENT 103
#define IDC_SETTINGS_ADDRESS_LABEL 104
#define IDC_SETTINGS_ADDRESS 105
#define IDC_SETTINGS_WARNINGS 106
// Seven of each, one per value, in the window's order.
#define IDC_SETTINGS_LABEL0 110
#define IDC_SETTINGS_FIELD0 120
