#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/CodePage.h"
#include "inputs/ConfigFolder.h"

// The company's identity, as bytes in the ANSI code page.
struct TCompanyIdentity {
  std::string CompanyNum;
  std::string CompanyType;
  std::string CompanyName;
  std::string DeviceId;
  std::string UploadUser;
  std::string OtherInfo;

  bool operator==(const TCompanyIdentity&) const = default;
};

// Delivers the installation's identity record; nullopt when it has none to give.
class CompanyIdentitySource {
 public:
  virtual ~CompanyIdentitySource() = default;
  virtual std::optional<TCompanyIdentity> Deliver() = 0;
};

// The record kept in the installation's identity file (see ReadIdentity in
// InstallationFiles.h), in the ANSI code page.
class TIniCompanyIdentitySource final : public CompanyIdentitySource {
 public:
  TIniCompanyIdentitySource(TConfigFolder& folder, const TCodePage& codePage)
      : folder_(folder), codePage_(codePage) {}
  std::optional<TCompanyIdentity> Deliver() override;

 private:
  TConfigFolder& folder_;
  const TCodePage& codePage_;
};

// What a blank company name is sent as (see PageQuery), in UTF-8 whatever the code page.
inline constexpr std::u16string_view kBlankNamePlaceholder = u"\u65E0";  // 无

// What the main window keeps of a delivered record: type "R02" (trimmed) becomes "R01" and
// then takes its company number from bytes 4..13 of the upload account when that is at least
// 13 bytes long. A blank name stays blank: the page address sends it as "无".
// UploadUser is not kept.
TCompanyIdentity NormaliseIdentity(const TCompanyIdentity& delivered);
