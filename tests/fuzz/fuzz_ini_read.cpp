#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "common/IniText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& [section, key] :
       {std::pair{"SysInfo", "CompanyURL"}, {"Company", "CompanyNum"}}) {
    const std::string value = IniReadString(text, section, key);
    FUZZ_CHECK(value.size() <= kIniValueMax);
    FUZZ_CHECK(value.find('\0') == std::string::npos);
    FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos);
  }
  // A value written plainly under its section is read back, whatever comes after it.
  const std::string written =
      "[SysInfo]\nCompanyURL=aGVsbG8=\n" + std::string(text.substr(0, 4096));
  FUZZ_CHECK(IniReadString(written, "SysInfo", "CompanyURL") == "aGVsbG8=");
  return 0;
}
