#include "address/PageAddress.h"

#include "address/Encoding.h"
#include "common/PublicFunction.h"
#include "common/Text.h"

std::string BuildPageAddress(std::string_view companyUrl, const TCompanyIdentity& identity,
                             const TCodePage& codePage) {
  auto base64 = [](std::string_view v) { return TStrOper::EncodeStr(TrimView(v)); };
  auto form = [&codePage](std::string_view v) {
    return QueryEncode(AnsiToUtf8Text(TrimView(v), codePage));
  };

  std::string address(companyUrl);
  // "?" is added even when the page already has a query: the web system reads it that way.
  address += "?Id=" + base64(identity.CompanyNum);
  address += "&Name=" + form(identity.CompanyName);
  address += "&Type=" + base64(identity.CompanyType);
  address += "&DeviceId=" + base64(identity.DeviceId);
  address += "&other=" + form(identity.OtherInfo);
  address += "&Version=" + base64(kPageVersion);
  return Trim(address);
}
