#include "storage/collation.h"

#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/uenum.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>

#include "storage/dbcs.h"
#include "storage/locale_table.h"

namespace kura {

using collation_detail::FindLocaleEntry;
using collation_detail::LocaleEntries;
using collation_detail::TLocaleEntry;

namespace {

// Where an unlisted language falls back to: the neutral root order over Western text.
constexpr TLocaleEntry kFallbackEntry{"", 0xFFFF, "und", 1252};

// --- Names --------------------------------------------------------------------------------

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool IsGerman(std::uint16_t languageId) {
  constexpr std::uint16_t kPrimaryLanguageMask = 0x03FF;  // low 10 bits
  constexpr std::uint16_t kGermanPrimary = 0x07;
  return languageId != 0 && (languageId & kPrimaryLanguageMask) == kGermanPrimary &&
         FindLocaleEntry(languageId) != nullptr;
}

// --- Code pages ---------------------------------------------------------------------------

// The UTF-16 unit of each byte of a single-byte code page, and the reverse.
struct TCodePageTable {
  std::array<char16_t, 256> ToUnicode{};
  std::map<char16_t, std::uint8_t> FromUnicode;
};

TCodePageTable BuildCodePageTable(int codePage) {
  TCodePageTable table;
  std::string name = "windows-" + std::to_string(codePage);
  UErrorCode status = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(name.c_str(), &status);
  for (int byte = 0; byte < 256; ++byte) {
    char16_t unit = 0xFFFD;  // bytes the code page leaves undefined
    if (converter != nullptr && U_SUCCESS(status)) {
      char in = static_cast<char>(byte);
      UChar out[4];
      UErrorCode convertStatus = U_ZERO_ERROR;
      ucnv_reset(converter);
      int32_t length = ucnv_toUChars(converter, out, 4, &in, 1, &convertStatus);
      if (U_SUCCESS(convertStatus) && length == 1) unit = out[0];
    }
    table.ToUnicode[byte] = unit;
    if (unit != 0xFFFD && unit != 0x001A) table.FromUnicode.emplace(unit, byte);
  }
  if (converter != nullptr) ucnv_close(converter);
  return table;
}

const TCodePageTable& CodePageTable(int codePage) {
  static std::mutex mutex;
  static std::map<int, std::unique_ptr<TCodePageTable>> tables;
  std::lock_guard lock(mutex);
  auto& slot = tables[codePage];
  if (!slot) slot = std::make_unique<TCodePageTable>(BuildCodePageTable(codePage));
  return *slot;
}

const TLocaleEntry& EntryOf(std::uint16_t languageId) {
  const TLocaleEntry* entry = FindLocaleEntry(languageId);
  return entry != nullptr ? *entry : kFallbackEntry;
}

// The German phone-book order is one order for all five German locales: ICU's Austrian
// variant would make ö a letter of its own after o instead of spelling it oe.
constexpr const char* kGermanPhoneBookLocale = "de-u-co-phonebk";

std::string IcuLocaleOf(std::uint16_t languageId, std::uint16_t sortId) {
  if (sortId == kGermanPhoneBookSortId && IsGerman(languageId)) return kGermanPhoneBookLocale;
  return std::string(EntryOf(languageId).IcuLocale);
}

// Decodes at most `length` bytes of text (stopping at a zero byte) into UTF-16.
std::u16string Decode(const TCodePageTable& table, const char* text, std::size_t length) {
  std::u16string result;
  if (text == nullptr) return result;
  std::size_t size = length == 0 ? std::strlen(text) : strnlen(text, length);
  result.resize(size);
  for (std::size_t i = 0; i < size; ++i) {
    result[i] = table.ToUnicode[static_cast<unsigned char>(text[i])];
  }
  return result;
}

// --- Collators ----------------------------------------------------------------------------

struct TCollatorCloser {
  void operator()(UCollator* collator) const { ucol_close(collator); }
};
using TCollatorPtr = std::unique_ptr<UCollator, TCollatorCloser>;

// Opens a collator with the comparison flags of the engine: punctuation is significant
// (non-ignorable), accents and other non-spacing marks are ignored (primary strength), and
// case counts through the case level unless it is to be ignored.
TCollatorPtr OpenCollator(const std::string& locale, bool ignoreCase) {
  UErrorCode status = U_ZERO_ERROR;
  TCollatorPtr collator(ucol_open(locale.c_str(), &status));
  if (U_FAILURE(status) || !collator) {
    status = U_ZERO_ERROR;
    collator.reset(ucol_open("", &status));
  }
  if (!collator) return collator;
  status = U_ZERO_ERROR;
  ucol_setAttribute(collator.get(), UCOL_STRENGTH, UCOL_PRIMARY, &status);
  ucol_setAttribute(collator.get(), UCOL_CASE_LEVEL, ignoreCase ? UCOL_OFF : UCOL_ON, &status);
  ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  ucol_setAttribute(collator.get(), UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
  return collator;
}

// Collators are kept per thread so that no two threads ever share one.
UCollator* CollatorFor(std::uint16_t languageId, std::uint16_t sortId, bool ignoreCase) {
  thread_local std::map<std::uint64_t, TCollatorPtr> collators;
  std::uint64_t key = (static_cast<std::uint64_t>(ignoreCase) << 32) |
                      (static_cast<std::uint64_t>(sortId) << 16) | languageId;
  auto& slot = collators[key];
  if (!slot) slot = OpenCollator(IcuLocaleOf(languageId, sortId), ignoreCase);
  return slot.get();
}

// --- Language 0: bytes of code page 932 -----------------------------------------------------

// Maps the ASCII letters of at most `length` bytes (0 = up to the terminator) and steps over
// the second byte of every double-byte character, which may look like an ASCII letter.
void MapAnsiCase(char* text, std::size_t length, bool upper) {
  if (text == nullptr) return;
  std::size_t limit = length == 0 ? std::strlen(text) : strnlen(text, length);
  for (std::size_t i = 0; i < limit; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (IsCp932LeadByte(c)) {
      ++i;  // the trail byte, if the text has one before its end
      continue;
    }
    if (upper && c >= 'a' && c <= 'z') text[i] = static_cast<char>(c - ('a' - 'A'));
    if (!upper && c >= 'A' && c <= 'Z') text[i] = static_cast<char>(c + ('a' - 'A'));
  }
}

int CompareBytes(const unsigned char* a, const unsigned char* b, std::size_t length) {
  // Bytes after a common terminator are not significant, so the loop stops there and never
  // reads past the end of either string.
  for (std::size_t i = 0; length == 0 || i < length; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    if (a[i] == 0) return 0;
  }
  return 0;
}

std::string CopyForCompare(const char* text, std::size_t length) {
  if (text == nullptr) return {};
  return std::string(text, length == 0 ? std::strlen(text) : strnlen(text, length));
}

int CompareAnsi(const char* first, bool ignoreCase, std::size_t length, const char* second) {
  if (!ignoreCase && first != nullptr && second != nullptr) {
    return CompareBytes(reinterpret_cast<const unsigned char*>(first),
                        reinterpret_cast<const unsigned char*>(second), length);
  }
  std::string a = CopyForCompare(first, length);
  std::string b = CopyForCompare(second, length);
  if (ignoreCase) {
    MapAnsiCase(a.data(), 0, true);
    MapAnsiCase(b.data(), 0, true);
  }
  return CompareBytes(reinterpret_cast<const unsigned char*>(a.c_str()),
                      reinterpret_cast<const unsigned char*>(b.c_str()), length);
}

// --- Case tables of the single-byte code pages --------------------------------------------

using TCaseTable = std::array<std::uint8_t, 256>;

// ICU's name for the root locale: case mapping without any language's special rules.
constexpr const char* kLanguageNeutralCasing = "";

// Each byte's counterpart in the locale's code page, or the byte itself when the code page
// has none. The mapping itself is language-neutral: Greek capitals keep their accents
// (ά → Ά) and Turkish i and I map to each other, so stored text and case-insensitive keys
// lose nothing that another table's rules would keep.
TCaseTable BuildCaseTable(std::uint16_t languageId, bool upper) {
  const TLocaleEntry& entry = EntryOf(languageId);
  const TCodePageTable& codePage = CodePageTable(entry.CodePage);
  const char* locale = kLanguageNeutralCasing;
  TCaseTable table;
  for (int byte = 0; byte < 256; ++byte) {
    table[byte] = static_cast<std::uint8_t>(byte);
    char16_t unit = codePage.ToUnicode[byte];
    if (byte == 0 || unit == 0xFFFD) continue;
    UChar mapped[8];
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = upper ? u_strToUpper(mapped, 8, &unit, 1, locale, &status)
                           : u_strToLower(mapped, 8, &unit, 1, locale, &status);
    if (U_FAILURE(status) || length != 1) continue;  // e.g. German sharp s to "SS"
    auto found = codePage.FromUnicode.find(mapped[0]);
    if (found != codePage.FromUnicode.end() && found->second != 0) table[byte] = found->second;
  }
  return table;
}

const TCaseTable& CaseTable(std::uint16_t languageId, bool upper) {
  static std::mutex mutex;
  static std::map<std::uint32_t, std::unique_ptr<TCaseTable>> tables;
  std::lock_guard lock(mutex);
  auto& slot = tables[(static_cast<std::uint32_t>(upper) << 16) | languageId];
  if (!slot) slot = std::make_unique<TCaseTable>(BuildCaseTable(languageId, upper));
  return *slot;
}

void MapCase(std::uint16_t languageId, char* text, bool upper) {
  if (text == nullptr) return;
  if (languageId == kAnsiStandardLanguageId) {
    MapAnsiCase(text, 0, upper);
    return;
  }
  const TCaseTable& table = CaseTable(languageId, upper);
  for (char* p = text; *p != 0; ++p) *p = static_cast<char>(table[static_cast<unsigned char>(*p)]);
}

// --- Character order maps -----------------------------------------------------------------

struct TLanguageCharMap {
  std::uint16_t LanguageId;
  std::uint16_t SortId;
  std::array<std::uint8_t, 256> Map;
};

std::array<std::uint8_t, 256> BuildOrderMap(std::uint16_t languageId, std::uint16_t sortId) {
  std::array<std::uint8_t, 256> map;
  std::iota(map.begin(), map.end(), 0);
  if (languageId == kAnsiStandardLanguageId) return map;
  std::stable_sort(map.begin(), map.end(), [&](std::uint8_t a, std::uint8_t b) {
    char first = static_cast<char>(a);
    char second = static_cast<char>(b);
    return CompareLocaleStrings(languageId, sortId, &first, false, 1, &second) < 0;
  });
  return map;
}

}  // namespace

// --- Public interface ---------------------------------------------------------------------

std::span<const TLocaleName> LocaleNames() {
  static const std::vector<TLocaleName> names = [] {
    std::vector<TLocaleName> list;
    for (const TLocaleEntry& entry : LocaleEntries()) {
      list.push_back({entry.Name, entry.LanguageId});
    }
    return list;
  }();
  return names;
}

bool LocaleNameExists(std::string_view name) {
  for (const TLocaleEntry& entry : LocaleEntries()) {
    if (SameTextIgnoringCase(entry.Name, name)) return true;
  }
  return false;
}

std::uint16_t LanguageIdOfName(std::string_view name) {
  for (const TLocaleEntry& entry : LocaleEntries()) {
    if (SameTextIgnoringCase(entry.Name, name)) return entry.LanguageId;
  }
  return 0;
}

std::string_view LocaleNameOfId(std::uint16_t languageId) {
  const TLocaleEntry* entry = FindLocaleEntry(languageId);
  return entry != nullptr ? entry->Name : std::string_view{};
}

std::vector<std::string_view> SortNames(std::uint16_t languageId) {
  if (FindLocaleEntry(languageId) == nullptr) return {};
  if (IsGerman(languageId)) return {kDefaultOrderName, kGermanPhoneBookOrderName};
  return {kDefaultOrderName};
}

bool SortNameExists(std::uint16_t languageId, std::string_view sortName) {
  return SortIdOfName(languageId, sortName) >= 0;
}

int SortIdOfName(std::uint16_t languageId, std::string_view sortName) {
  std::vector<std::string_view> names = SortNames(languageId);
  for (std::size_t id = 0; id < names.size(); ++id) {
    if (SameTextIgnoringCase(names[id], sortName)) return static_cast<int>(id);
  }
  return -1;
}

int AnsiCodePageOf(std::uint16_t languageId) {
  const TLocaleEntry* entry = FindLocaleEntry(languageId);
  return entry != nullptr ? entry->CodePage : 0;
}

bool LocaleInstalled(std::uint16_t languageId, std::uint16_t sortId) {
  if (languageId == kAnsiStandardLanguageId) return sortId == kDefaultSortId;
  const TLocaleEntry* entry = FindLocaleEntry(languageId);
  if (entry == nullptr || sortId >= SortNames(languageId).size()) return false;
  UErrorCode status = U_ZERO_ERROR;
  TCollatorPtr collator(ucol_open(IcuLocaleOf(languageId, sortId).c_str(), &status));
  if (U_FAILURE(status) || !collator) return false;
  // ICU falls back to the standard order silently when a requested collation type is
  // missing, so a special order must be among the types ICU lists for the locale.
  std::string_view locale = entry->IcuLocale;
  const char* wanted = nullptr;
  if (sortId == kGermanPhoneBookSortId) wanted = "phonebook";
  if (locale.ends_with("-u-co-trad")) wanted = "traditional";
  if (wanted == nullptr) return true;
  std::string language(locale.substr(0, locale.find('-')));
  UEnumeration* types =
      ucol_getKeywordValuesForLocale("collation", language.c_str(), false, &status);
  bool found = false;
  const char* type = nullptr;
  while (types != nullptr && U_SUCCESS(status) && (type = uenum_next(types, nullptr, &status))) {
    if (std::strcmp(type, wanted) == 0) found = true;
  }
  uenum_close(types);
  return found;
}

int CompareLocaleStrings(std::uint16_t languageId, std::uint16_t sortId, const char* first,
                         bool ignoreCase, std::size_t length, const char* second) {
  if (languageId == kAnsiStandardLanguageId) {
    return CompareAnsi(first, ignoreCase, length, second);
  }
  const TCodePageTable& codePage = CodePageTable(EntryOf(languageId).CodePage);
  std::u16string a = Decode(codePage, first, length);
  std::u16string b = Decode(codePage, second, length);
  UCollator* collator = CollatorFor(languageId, sortId, ignoreCase);
  if (collator == nullptr) return a < b ? -1 : (a == b ? 0 : 1);
  UCollationResult result = ucol_strcoll(collator, a.data(), static_cast<int32_t>(a.size()),
                                         b.data(), static_cast<int32_t>(b.size()));
  return result == UCOL_LESS ? -1 : (result == UCOL_EQUAL ? 0 : 1);
}

void UpperCaseLocale(std::uint16_t languageId, std::uint16_t /*sortId*/, char* text) {
  MapCase(languageId, text, true);
}

void LowerCaseLocale(std::uint16_t languageId, std::uint16_t /*sortId*/, char* text) {
  MapCase(languageId, text, false);
}

const std::array<std::uint8_t, 256>& CharOrderMap(std::uint16_t languageId, std::uint16_t sortId) {
  // TLanguageCharMapsList: one entry per locale asked for, built under the lock.
  static std::mutex mutex;
  static std::vector<std::unique_ptr<TLanguageCharMap>> maps = [] {
    std::vector<std::unique_ptr<TLanguageCharMap>> list;
    list.reserve(256);
    return list;
  }();
  std::lock_guard lock(mutex);
  for (const auto& entry : maps) {
    if (entry->LanguageId == languageId && entry->SortId == sortId) return entry->Map;
  }
  maps.push_back(std::make_unique<TLanguageCharMap>(
      TLanguageCharMap{languageId, sortId, BuildOrderMap(languageId, sortId)}));
  return maps.back()->Map;
}

std::size_t CharacterPrefixLength(std::uint16_t languageId, const char* text, std::size_t length) {
  if (text == nullptr) return 0;
  std::size_t size = strnlen(text, length);
  if (languageId != kAnsiStandardLanguageId) return size;
  std::size_t i = 0;
  while (i < size) {
    std::size_t width = IsCp932LeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
    if (i + width > size) break;
    i += width;
  }
  return i;
}

}  // namespace kura
