#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/CodePage.h"
#include "inputs/CompanyIdentity.h"

// The version the web system expects, whatever this program's own version is.
inline constexpr std::string_view kPageVersion = "5.0.0.0";

// One value of the page address's query.
struct TQueryValue {
  std::string_view key;  // "Id", "Name", "Type", "DeviceId", "other" or "Version"
  // What the web system has once it has decoded the value: bytes in the ANSI code page for the
  // base64 values, UTF-8 for the form-encoded ones (utf8).
  std::string value;
  bool utf8 = false;
  std::string encoded;  // as it stands in the address
};

// The six query values, in the order and encoding of the address: Id, Name, Type, DeviceId,
// other, Version.
std::vector<TQueryValue> PageQuery(const TCompanyIdentity& identity, const TCodePage& codePage);

// The whole page address: the page, then the query's values, trimmed at its two ends only.
std::string BuildPageAddress(std::string_view companyUrl, const std::vector<TQueryValue>& query);
std::string BuildPageAddress(std::string_view companyUrl, const TCompanyIdentity& identity,
                             const TCodePage& codePage);
