#include "common/PublicFunction.h"

#include "common/Base64.h"

std::string TStrOper::EncodeStr(std::string_view bytes) noexcept {
  try {
    return Base64Encode(bytes);
  } catch (...) {
    return {};
  }
}

std::string TStrOper::DecodeStr(std::string_view text) noexcept {
  try {
    return Base64Decode(text);
  } catch (...) {
    return {};
  }
}
