// The locale list behind the collation module: display name, language identifier, the ICU
// locale that collates and case-maps it and the ANSI code page its strings are held in.
// Private to the collation library.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kura::collation_detail {

struct TLocaleEntry {
  std::string_view Name;
  std::uint16_t LanguageId;
  std::string_view IcuLocale;
  int CodePage;
};

// All 99 entries in list order.
std::span<const TLocaleEntry> LocaleEntries();

// The entry of a language identifier, or nullptr when it is not listed.
const TLocaleEntry* FindLocaleEntry(std::uint16_t languageId);

}  // namespace kura::collation_detail
