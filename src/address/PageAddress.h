#pragma once

#include <string>
#include <string_view>

#include "common/CodePage.h"
#include "inputs/CompanyIdentity.h"

// The version the web system expects, whatever this program's own version is.
inline constexpr std::string_view kPageVersion = "5.0.0.0";

// The whole page address: the page, then Id, Name, Type, DeviceId, other and Version in
// that order and encoding, trimmed at its two ends only.
std::string BuildPageAddress(std::string_view companyUrl, const TCompanyIdentity& identity,
                             const TCodePage& codePage);
