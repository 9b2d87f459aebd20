#include "inputs/CompanyIdentity.h"

#include "common/Text.h"

namespace {
constexpr std::string_view kIdentitySection = "Company";
}

std::optional<TCompanyIdentity> TIniCompanyIdentitySource::Deliver() {
  const std::string file = folder_.PathOf("Company.ini");
  if (file.empty()) return std::nullopt;
  const auto read = folder_.ReadIniValues(
      file, kIdentitySection,
      {"CompanyNum", "CompanyType", "CompanyName", "DeviceId", "UploadUser", "OtherInfo"});
  if (!read || !read->sectionFound) return std::nullopt;

  TCompanyIdentity identity;
  identity.CompanyNum = read->values[0];
  identity.CompanyType = read->values[1];
  identity.CompanyName = read->values[2];
  identity.DeviceId = read->values[3];
  identity.UploadUser = read->values[4];
  identity.OtherInfo = read->values[5];
  return identity;
}

TCompanyIdentity NormaliseIdentity(const TCompanyIdentity& delivered, const TCodePage& codePage) {
  TCompanyIdentity kept;
  kept.CompanyType = delivered.CompanyType;
  kept.CompanyNum = delivered.CompanyNum;
  kept.DeviceId = delivered.DeviceId;
  kept.CompanyName = delivered.CompanyName;
  kept.OtherInfo = delivered.OtherInfo;

  if (TrimView(delivered.CompanyType) == "R02") {
    kept.CompanyType = "R01";
    // The upload account carries the company number at bytes 4..13.
    if (delivered.UploadUser.size() >= 13) kept.CompanyNum = delivered.UploadUser.substr(3, 10);
  }
  if (TrimView(delivered.CompanyName).empty()) {
    // A code page without "无" would store "?", and "?" would reach the page.
    std::string placeholder = codePage.FromUtf16(kBlankNamePlaceholder);
    kept.CompanyName = codePage.ToUtf16(placeholder) == kBlankNamePlaceholder ? placeholder : "";
  }
  return kept;
}
