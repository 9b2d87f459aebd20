#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "Latin1CodePage.h"
#include "address/Encoding.h"
#include "address/PageAddress.h"
#include "common/Base64.h"
#include "common/Text.h"
#include "inputs/CompanyIdentity.h"

// Input: the page address and the six identity fields, separated by 0x01 bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0x01 && parts.size() < 7) {
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(data[i]);
    }
  }
  parts.resize(7);
  // Latin-1 maps every byte, so the fuzzer reaches every path of the address building.
  const Latin1CodePage codePage;
  const TCompanyIdentity delivered{parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]};
  const TCompanyIdentity kept = NormaliseIdentity(delivered);
  const std::string address = BuildPageAddress(parts[0], kept, codePage);

  FUZZ_CHECK(address == Trim(address));
  // A blank name stays blank in the identity; the address sends "无" in UTF-8 (Latin-1 has none).
  const bool blankName = TrimView(delivered.CompanyName).empty();
  FUZZ_CHECK(!blankName || TrimView(kept.CompanyName).empty());

  // Encoded values hold neither "?" nor "&", so the query after the last "?Id=" splits cleanly
  // and every value reads back as the trimmed field it came from.
  const std::size_t query = address.rfind("?Id=");
  FUZZ_CHECK(query != std::string::npos);
  std::vector<std::string_view> values;
  std::string_view rest = std::string_view(address).substr(query + 1);
  for (std::string_view key : {"Id=", "Name=", "Type=", "DeviceId=", "other=", "Version="}) {
    FUZZ_CHECK(rest.starts_with(key));
    rest.remove_prefix(key.size());
    const std::size_t amp = rest.find('&');
    values.push_back(rest.substr(0, amp));
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
  }
  FUZZ_CHECK(rest.empty());
  auto cutAtNul = [](std::string_view v) { return v.substr(0, v.find('\0')); };
  auto formDecode = [](std::string_view v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (v[i] == '+') {
        out += ' ';
      } else if (v[i] == '%') {
        FUZZ_CHECK(i + 2 < v.size());
        out += static_cast<char>(std::stoi(std::string(v.substr(i + 1, 2)), nullptr, 16));
        i += 2;
      } else {
        out += v[i];
      }
    }
    return out;
  };
  FUZZ_CHECK(Base64Decode(values[0]) == Trim(kept.CompanyNum));
  FUZZ_CHECK(Base64Decode(values[2]) == Trim(kept.CompanyType));
  FUZZ_CHECK(Base64Decode(values[3]) == Trim(kept.DeviceId));
  FUZZ_CHECK(formDecode(values[1]) ==
             (blankName ? "\xE6\x97\xA0"
                        : AnsiToUtf8Text(cutAtNul(TrimView(kept.CompanyName)), codePage)));
  FUZZ_CHECK(formDecode(values[4]) == AnsiToUtf8Text(cutAtNul(TrimView(kept.OtherInfo)), codePage));
  FUZZ_CHECK(values[5] == "NS4wLjAuMA==");
  return 0;
}
