#include "common/Text.h"

std::string_view TrimView(std::string_view text) {
  auto isTrimmed = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!text.empty() && isTrimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && isTrimmed(text.back())) text.remove_suffix(1);
  return text;
}
