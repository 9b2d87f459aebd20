#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The translations of a gettext message catalog (a compiled .mo file), for a program that has
// no gettext of its own to find them (the Windows tool carries the catalog inside itself).
class TMessageCatalog {
 public:
  // An empty catalog where the bytes are no catalog, or a damaged one: every text stays as it is.
  explicit TMessageCatalog(std::string_view moFile);

  // The translation of the source text; the source text itself where the catalog has none.
  [[nodiscard]] std::string_view Translate(std::string_view source) const;
  [[nodiscard]] std::size_t Size() const { return entries_.size(); }

 private:
  struct TEntry {
    std::string_view source;
    std::string_view translation;
  };
  std::vector<TEntry> entries_;  // sorted by source
};
