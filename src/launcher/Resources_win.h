#pragma once

// Resource identifiers shared by CompanyMain.rc and the code.
#define IDI_COMPANYMAIN 1
#define IDR_LOADING_GIF 101
