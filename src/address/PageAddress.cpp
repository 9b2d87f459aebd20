#include "address/PageAddress.h"

#include "address/Encoding.h"
#include "common/PublicFunction.h"
#include "common/Text.h"
#include "common/Utf.h"

std::string BuildPageAddress(std::string_view companyUrl, const TCompanyIdentity& identity,
                             const TCodePage& codePage) {
  auto base64 = [](std::string_view v) { return TStrOper::EncodeStr(TrimView(v)); };
  auto form = [&codePage](std::string_view v) {
    return QueryEncode(AnsiToUtf8Text(TrimView(v), codePage));
  };
  // A blank name is sent as "无" in UTF-8 whatever the code page: a code page without it
  // could only send "?".
  const std::string name = TrimView(identity.CompanyName).empty()
                               ? QueryEncode(Utf16ToUtf8(kBlankNamePlaceholder))
                               : form(identity.CompanyName);

  std::string address(companyUrl);
  // "?" is added even when the page already has a query: the web system reads it that way.
  address += "?Id=" + base64(identity.CompanyNum);
  address += "&Name=" + name;
  address += "&Type=" + base64(identity.CompanyType);
  address += "&DeviceId=" + base64(identity.DeviceId);
  address += "&other=" + form(identity.OtherInfo);
  address += "&Version=" + base64(kPageVersion);
  return Trim(address);
}
