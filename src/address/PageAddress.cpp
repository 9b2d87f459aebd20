#include "address/PageAddress.h"

#include "address/Encoding.h"
#include "common/Base64.h"
#include "common/Text.h"
#include "common/Utf.h"

std::vector<TQueryValue> PageQuery(const TCompanyIdentity& identity, const TCodePage& codePage) {
  auto base64 = [](std::string_view key, std::string_view v) {
    const std::string_view sent = TrimView(v);
    return TQueryValue{key, std::string(sent), false, Base64Encode(sent)};
  };
  auto form = [](std::string_view key, std::string utf8) {
    std::string encoded = QueryEncode(utf8);
    // The encoder stops at a zero byte: so does the web system's value.
    utf8.resize(utf8.find('\0') == std::string::npos ? utf8.size() : utf8.find('\0'));
    return TQueryValue{key, std::move(utf8), true, std::move(encoded)};
  };
  // A blank name is sent as "无" in UTF-8 whatever the code page: a code page without it
  // could only send "?".
  const std::string name = TrimView(identity.CompanyName).empty()
                               ? Utf16ToUtf8(kBlankNamePlaceholder)
                               : AnsiToUtf8Text(TrimView(identity.CompanyName), codePage);
  return {
      base64("Id", identity.CompanyNum),
      form("Name", name),
      base64("Type", identity.CompanyType),
      base64("DeviceId", identity.DeviceId),
      form("other", AnsiToUtf8Text(TrimView(identity.OtherInfo), codePage)),
      base64("Version", kPageVersion),
  };
}

std::string BuildPageAddress(std::string_view companyUrl, const std::vector<TQueryValue>& query) {
  std::string address(companyUrl);
  // "?" is added even when the page already has a query: the web system reads it that way.
  for (std::size_t i = 0; i < query.size(); ++i)
    address += Concat({i == 0 ? "?" : "&", query[i].key, "=", query[i].encoded});
  return Trim(address);
}

std::string BuildPageAddress(std::string_view companyUrl, const TCompanyIdentity& identity,
                             const TCodePage& codePage) {
  return BuildPageAddress(companyUrl, PageQuery(identity, codePage));
}
