// The reader of compiled gettext catalogs the Windows tool carries inside itself.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tool/MessageCatalog.h"

namespace {

// A .mo file of the entries, in the given byte order, as msgfmt lays it out.
std::string MoFile(std::vector<std::pair<std::string, std::string>> entries, bool bigEndian) {
  std::string out;
  const auto word = [&](std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
      const int shift = bigEndian ? 8 * (3 - i) : 8 * i;
      out += static_cast<char>((value >> shift) & 0xFF);
    }
  };
  const auto count = static_cast<std::uint32_t>(entries.size());
  const std::uint32_t sources = 28;
  const std::uint32_t translations = sources + 8 * count;
  std::uint32_t at = translations + 8 * count;
  word(0x950412DE);
  word(0);
  word(count);
  word(sources);
  word(translations);
  word(0);
  word(0);
  std::string strings;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> table[2];
  for (int side = 0; side < 2; ++side) {
    for (const auto& entry : entries) {
      const std::string& text = side == 0 ? entry.first : entry.second;
      table[side].emplace_back(static_cast<std::uint32_t>(text.size()), at);
      strings += text + '\0';
      at += static_cast<std::uint32_t>(text.size()) + 1;
    }
  }
  for (const auto& side : table) {
    for (const auto& [length, offset] : side) {
      word(length);
      word(offset);
    }
  }
  return out + strings;
}

TEST(MessageCatalog, TranslatesWhatItHoldsAndNothingElse) {
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"", "Content-Type: text/plain; charset=UTF-8\n"},
      {"Error: %1", "错误: %1"},
      {"Usage:\n", "用法:\n"},
      {"untranslated", ""},
      {std::string("one\0many", 8), std::string("\xE4\xB8\x80\0\xE5\xA4\x9A", 7)},  // plural
  };
  for (const bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
    const std::string file = MoFile(entries, bigEndian);
    const TMessageCatalog catalog(file);
    EXPECT_EQ(catalog.Translate("Error: %1"), "错误: %1");
    EXPECT_EQ(catalog.Translate("Usage:\n"), "用法:\n");
    EXPECT_EQ(catalog.Translate("Usage:"), "Usage:");
    EXPECT_EQ(catalog.Translate("untranslated"), "untranslated");
    EXPECT_EQ(catalog.Translate(""), "");
    EXPECT_EQ(catalog.Size(), 2u);

    // A damaged catalog translates nothing, and is never read outside its bytes.
    const struct {
      const char* name;
      std::string bytes;
    } damaged[] = {
        {"empty", ""},
        {"cut in its header", file.substr(0, 10)},
        {"cut in its strings", file.substr(0, file.size() - 3)},
        {"another magic number", "\x12\x34\x56\x78" + file.substr(4)},
        {"a count beyond the file", file.substr(0, 8) + std::string(4, '\x7F') + file.substr(12)},
        {"a string's closing NUL missing", file.substr(0, file.size() - 1) + "x"},
    };
    for (const auto& d : damaged) {
      SCOPED_TRACE(d.name);
      const TMessageCatalog broken(d.bytes);
      EXPECT_EQ(broken.Translate("Error: %1"), "Error: %1");
      EXPECT_EQ(broken.Size(), 0u);
    }
  }
}

TEST(MessageCatalog, ReadsTheCatalogTheBuildMakes) {
  std::ifstream in(COMPANYMAIN_CHINESE_CATALOG, std::ios::binary);
  ASSERT_TRUE(in) << COMPANYMAIN_CHINESE_CATALOG;
  std::stringstream bytes;
  bytes << in.rdbuf();
  const std::string file = bytes.str();
  const TMessageCatalog catalog(file);
  EXPECT_GT(catalog.Size(), 50u);
  EXPECT_EQ(catalog.Translate("Error: %1"), "错误: %1");
  EXPECT_EQ(catalog.Translate("The page address is empty."), "页面地址为空。");
}

}  // namespace
