#include "inputs/CompanyIdentity.h"

#include "app/Desktop.h"
#include "common/Text.h"

namespace {
constexpr std::string_view kIdentitySection = "Company";
}

std::optional<TCompanyIdentity> TIniCompanyIdentitySource::Deliver() {
  const std::string appPath = desktop_.GetAppPath();
  if (appPath.empty()) return std::nullopt;
  const std::string file = appPath + "Config" + desktop_.PathSeparator() + "Company.ini";
  if (!desktop_.FileReadable(file)) return std::nullopt;

  auto read = [&](std::string_view key) {
    return desktop_.ReadIniString(file, kIdentitySection, key);
  };
  TCompanyIdentity identity;
  identity.CompanyNum = read("CompanyNum");
  identity.CompanyType = read("CompanyType");
  identity.CompanyName = read("CompanyName");
  identity.DeviceId = read("DeviceId");
  identity.UploadUser = read("UploadUser");
  identity.OtherInfo = read("OtherInfo");
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
  if (TrimView(delivered.CompanyName).empty()) kept.CompanyName = codePage.FromUtf16(u"无");
  return kept;
}
