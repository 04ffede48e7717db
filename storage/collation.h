// Collation and locales of Kura tables.
//
// A table's locale is a language identifier and a sort identifier kept in its data file
// header. Language 0 ("ANSI Standard") means no locale: strings compare byte by byte and hold
// code page 932 (Japanese) text. Every other language names one of the 99 listed locales;
// its strings hold the bytes of that locale's ANSI code page, and comparison and case mapping
// are done by ICU after decoding them. Nothing else in the engine talks to ICU for collation:
// everything goes through the functions below.
//
// All functions are safe to call from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kura {

// "ANSI Standard": no locale, byte order, code page 932 text.
inline constexpr std::uint16_t kAnsiStandardLanguageId = 0;
// Sort identifiers: every locale offers the default order; the German ones the phone book.
inline constexpr std::uint16_t kDefaultSortId = 0;
inline constexpr std::uint16_t kGermanPhoneBookSortId = 1;
inline constexpr std::string_view kDefaultOrderName = "Default Order";
inline constexpr std::string_view kGermanPhoneBookOrderName = "German Phone Book Order";
// Number of entries in the locale name list.
inline constexpr std::size_t kLocaleNameCount = 99;

// One entry of the locale name list.
struct TLocaleName {
  std::string_view Name;
  std::uint16_t LanguageId;
};

// The 99 locale names with their language identifiers, in list order ("ANSI Standard" first).
std::span<const TLocaleName> LocaleNames();

// True when the name is in the list; names compare without regard to case.
bool LocaleNameExists(std::string_view name);

// The language identifier of a listed name (without regard to case); 0 when not listed.
std::uint16_t LanguageIdOfName(std::string_view name);

// The display name of a listed language identifier; empty when not listed.
std::string_view LocaleNameOfId(std::uint16_t languageId);

// The sort order names the language offers, in sort identifier order; empty when the
// language is not listed.
std::vector<std::string_view> SortNames(std::uint16_t languageId);

// True when the language offers the sort order (name compared without regard to case).
bool SortNameExists(std::uint16_t languageId, std::string_view sortName);

// The sort identifier of a sort order the language offers; -1 when it offers no such order.
int SortIdOfName(std::uint16_t languageId, std::string_view sortName);

// The 32-bit locale identifier: sort id in the high 16 bits, language id in the low 16.
constexpr std::uint32_t LocaleIdOf(std::uint16_t languageId, std::uint16_t sortId) {
  return (static_cast<std::uint32_t>(sortId) << 16) | languageId;
}

// The ANSI code page whose bytes the language's strings hold: 932 for language 0, 0 when
// the language is not listed.
int AnsiCodePageOf(std::uint16_t languageId);

// True when the language is listed, offers the sort order and ICU has its collation
// (language 0 with the default order is always installed).
bool LocaleInstalled(std::uint16_t languageId, std::uint16_t sortId);

// Compares two strings in the locale: -1, 0 or 1. With length 0 both are zero-terminated;
// otherwise at most `length` bytes of each are compared and a zero byte ends a string early.
// Language 0 compares unsigned bytes (after upper-casing copies when ignoreCase is set);
// other languages compare with punctuation significant, non-spacing marks ignored and case
// ignored on request. A pair that LocaleInstalled rejects compares with the neutral order of
// Western text. A null pointer reads as the empty string.
int CompareLocaleStrings(std::uint16_t languageId, std::uint16_t sortId, const char* first,
                         bool ignoreCase, std::size_t length, const char* second);

// Maps the zero-terminated text to upper (lower) case in place; the length never changes.
// Language 0 maps only the ASCII letters and leaves double-byte code page 932 characters
// whole; other languages map each character of their code page and keep any character whose
// counterpart the code page cannot hold.
void UpperCaseLocale(std::uint16_t languageId, std::uint16_t sortId, char* text);
void LowerCaseLocale(std::uint16_t languageId, std::uint16_t sortId, char* text);

// The character order map of the locale: entry i is the byte value at place i when the 256
// byte values are ordered by single-character comparison (ties keep byte order). Language 0
// gives the identity. Built on first use and kept for the life of the process.
const std::array<std::uint8_t, 256>& CharOrderMap(std::uint16_t languageId, std::uint16_t sortId);

// The longest prefix of text[0, length) that ends on a character boundary: for language 0
// a code page 932 lead byte whose second byte would be cut off is left out as well; every
// other code page has single-byte characters only. Stops at a zero byte.
std::size_t CharacterPrefixLength(std::uint16_t languageId, const char* text, std::size_t length);

// Raised by TLanguageStringList when a duplicate is added to a list that refuses them.
class EStringListError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a sorted TLanguageStringList does with a string equal to one it holds.
enum class TDuplicates { dupIgnore, dupAccept, dupError };

// A string list that sorts and searches with a table's locale, without regard to case.
class TLanguageStringList {
 public:
  TLanguageStringList(std::uint16_t languageId = kAnsiStandardLanguageId,
                      std::uint16_t sortId = kDefaultSortId);

  std::uint16_t LanguageId() const { return FLanguageId; }
  std::uint16_t SortId() const { return FSortId; }

  // How Add treats an equal string while the list is sorted (default: ignore it).
  TDuplicates Duplicates = TDuplicates::dupIgnore;

  // While sorted, Add inserts in order and Find may be used. Setting it sorts the list.
  bool Sorted() const { return FSorted; }
  void SetSorted(bool sorted);

  // Adds the string and answers its index. In a sorted list an equal string is ignored
  // (answering the index of the one held), accepted, or refused with EStringListError.
  int Add(std::string text);

  // Sorts the strings with the locale comparison (stable for equal strings).
  void Sort();

  // Binary search of a sorted list: true and the index of the first equal string, or false
  // and the index where the string would be inserted.
  bool Find(std::string_view text, int& index) const;

  // Like Find, comparing only the first `length` bytes of each string and of text.
  bool FindPrefix(std::string_view text, std::size_t length, int& index) const;

  int Count() const { return static_cast<int>(FItems.size()); }
  const std::string& operator[](int index) const { return FItems.at(index); }
  void Delete(int index);
  void Clear() { FItems.clear(); }

 private:
  int CompareItems(const std::string& a, const std::string& b, std::size_t length) const;

  std::uint16_t FLanguageId;
  std::uint16_t FSortId;
  bool FSorted = true;
  std::vector<std::string> FItems;
};

}  // namespace kura
