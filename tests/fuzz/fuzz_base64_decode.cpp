#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "common/Base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string decoded = Base64Decode(input);
  FUZZ_CHECK(decoded.size() <= size / 4 * 3 + 2);
  // Any bytes survive the trip through the encoder and back, line breaks and all.
  FUZZ_CHECK(Base64Decode(Base64Encode(input)) == input);
  return 0;
}
