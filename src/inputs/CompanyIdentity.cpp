#include "inputs/CompanyIdentity.h"

#include "common/Text.h"
#include "inputs/InstallationFiles.h"

std::optional<TCompanyIdentity> TIniCompanyIdentitySource::Deliver() {
  return ReadIdentity(folder_, codePage_);
}

TCompanyIdentity NormaliseIdentity(const TCompanyIdentity& delivered) {
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
  return kept;
}
