#include "storage/collation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>

namespace kura {
namespace {

constexpr std::uint16_t kGermanStandard = 0x0407;
constexpr std::uint16_t kGermanAustrian = 0x0C07;
constexpr std::uint16_t kEnglishUK = 0x0809;
constexpr std::uint16_t kEnglishUSA = 0x0409;
constexpr std::uint16_t kTurkish = 0x041F;
constexpr std::uint16_t kGreek = 0x0408;
constexpr std::uint16_t kSpanishCastilian = 0x040A;
constexpr std::uint16_t kSpanishModern = 0x0C0A;

int Compare(std::uint16_t language, std::uint16_t sort, const std::string& a, const std::string& b,
            bool ignoreCase = false, std::size_t length = 0) {
  return CompareLocaleStrings(language, sort, a.c_str(), ignoreCase, length, b.c_str());
}

std::string Upper(std::uint16_t language, std::string text) {
  UpperCaseLocale(language, 0, text.data());
  return text;
}

std::string Lower(std::uint16_t language, std::string text) {
  LowerCaseLocale(language, 0, text.data());
  return text;
}

TEST(LocaleNamesTest, ListHoldsTheNinetyNineLocalesInOrder) {
  auto names = LocaleNames();
  ASSERT_EQ(names.size(), kLocaleNameCount);
  EXPECT_EQ(names.front().Name, "ANSI Standard");
  EXPECT_EQ(names.front().LanguageId, 0);
  EXPECT_EQ(names[48].Name, "German (Standard)");
  EXPECT_EQ(names[52].Name, "German (Liechtenstein)");
  EXPECT_EQ(names.back().Name, "Vietnamese");
  EXPECT_EQ(names.back().LanguageId, 0x042A);
  // Every listed language has its own identifier and a code page.
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (std::size_t j = i + 1; j < names.size(); ++j) {
      EXPECT_NE(names[i].LanguageId, names[j].LanguageId) << names[i].Name;
    }
    EXPECT_NE(AnsiCodePageOf(names[i].LanguageId), 0) << names[i].Name;
  }
}

TEST(LocaleNamesTest, NamesAreLookedUpWithoutRegardToCase) {
  EXPECT_EQ(LanguageIdOfName("german (standard)"), 0x0407);
  EXPECT_TRUE(LocaleNameExists("SPANISH (MODERN)"));
  EXPECT_EQ(LanguageIdOfName("Japanese"), 0);
  EXPECT_FALSE(LocaleNameExists("Japanese"));
  EXPECT_EQ(LocaleNameOfId(0x0419), "Russian");
  EXPECT_EQ(LocaleNameOfId(0x0411), "");
}

TEST(LocaleNamesTest, PhoneBookOrderIsOfferedOnlyByTheGermanLocales) {
  for (const TLocaleName& locale : LocaleNames()) {
    bool german = locale.Name.starts_with("German");
    EXPECT_EQ(SortNameExists(locale.LanguageId, "German Phone Book Order"), german) << locale.Name;
    EXPECT_EQ(SortIdOfName(locale.LanguageId, "default order"), 0) << locale.Name;
  }
  EXPECT_EQ(SortIdOfName(kGermanAustrian, "German Phone Book Order"), 1);
  EXPECT_EQ(SortIdOfName(kEnglishUK, "German Phone Book Order"), -1);
  EXPECT_FALSE(SortNameExists(0x0411, "Default Order"));  // not a listed language
  EXPECT_EQ(LocaleIdOf(kGermanStandard, 1), 0x00010407u);
}

TEST(LocaleNamesTest, CodePagesFollowTheLanguage) {
  EXPECT_EQ(AnsiCodePageOf(0), 932);
  EXPECT_EQ(AnsiCodePageOf(kGermanStandard), 1252);
  EXPECT_EQ(AnsiCodePageOf(0x0415), 1250);  // Polish
  EXPECT_EQ(AnsiCodePageOf(0x0419), 1251);  // Russian
  EXPECT_EQ(AnsiCodePageOf(0x0408), 1253);  // Greek
  EXPECT_EQ(AnsiCodePageOf(kTurkish), 1254);
  EXPECT_EQ(AnsiCodePageOf(0x041E), 874);  // Thai
  EXPECT_EQ(AnsiCodePageOf(0x0411), 0);
}

TEST(LocaleInstalledTest, EveryListedLocaleAndOnlyOfferedSortsAreInstalled) {
  for (const TLocaleName& locale : LocaleNames()) {
    EXPECT_TRUE(LocaleInstalled(locale.LanguageId, 0)) << locale.Name;
  }
  EXPECT_TRUE(LocaleInstalled(kGermanStandard, 1));
  EXPECT_FALSE(LocaleInstalled(kEnglishUSA, 1));
  EXPECT_FALSE(LocaleInstalled(0, 1));
  EXPECT_FALSE(LocaleInstalled(0x0411, 0));
}

TEST(CompareLocaleStringsTest, AnsiStandardComparesBytes) {
  struct Case {
    const char* a;
    const char* b;
    bool ignoreCase;
    std::size_t length;
    int expected;
  };
  const Case cases[] = {
      {"abc", "ABC", false, 0, 1},  // upper case bytes come first
      {"abc", "ABC", true, 0, 0},    {"Go problem", "GO PROBLEM", true, 0, 0},
      {"abc", "abcd", false, 0, -1}, {"abcd", "abc", false, 0, 1},
      {"abcX", "abcY", false, 3, 0},  // only the given length counts
      {"ab", "ab", false, 8, 0},      // stops at the common terminator
      {"\x80", "\x7F", false, 0, 1},  // unsigned bytes
      {"", "", false, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareLocaleStrings(0, 0, c.a, c.ignoreCase, c.length, c.b), c.expected)
        << c.a << " / " << c.b;
  }
}

TEST(CompareLocaleStringsTest, LocaleComparisonIgnoresAccentsAndOptionallyCase) {
  EXPECT_EQ(Compare(kEnglishUSA, 0, "abc", "abd"), -1);
  EXPECT_EQ(Compare(kEnglishUSA, 0, "abd", "abc"), 1);
  EXPECT_NE(Compare(kEnglishUSA, 0, "abc", "ABC"), 0);
  EXPECT_EQ(Compare(kEnglishUSA, 0, "abc", "ABC", true), 0);
  // Windows-1252 é (0xE9) against e: the non-spacing mark is ignored.
  EXPECT_EQ(Compare(0x040C, 0, "caf\xE9", "cafe"), 0);
  // Punctuation is significant: a hyphen is not skipped.
  EXPECT_NE(Compare(kEnglishUSA, 0, "co-op", "coop"), 0);
  // Length limits both strings.
  EXPECT_EQ(Compare(kEnglishUSA, 0, "abcX", "abcY", false, 3), 0);
  EXPECT_EQ(CompareLocaleStrings(kEnglishUSA, 0, nullptr, false, 0, ""), 0);
}

TEST(CompareLocaleStringsTest, GermanPhoneBookOrderSpellsUmlautsOut) {
  const std::string mueller = "M\xFCller";  // Müller in Windows-1252
  // Default order: ü sorts as u, so Müller follows Mueller and Muffler.
  EXPECT_EQ(Compare(kGermanStandard, 0, mueller, "Mueller"), 1);
  EXPECT_EQ(Compare(kGermanStandard, 0, mueller, "Muffler"), 1);
  // Phone book: ü sorts as ue, so Müller meets Mueller and comes before Muffler.
  EXPECT_EQ(Compare(kGermanStandard, 1, mueller, "Mueller"), 0);
  EXPECT_EQ(Compare(kGermanStandard, 1, mueller, "Muffler"), -1);
}

TEST(CompareLocaleStringsTest, EveryGermanLocaleUsesTheSamePhoneBookOrder) {
  // Windows-1252 ö is 0xF6. In the phone book ö is spelt oe, in every German locale alike.
  const std::string goethe = "G\xF6the";
  for (const TLocaleName& locale : LocaleNames()) {
    if (!SortNameExists(locale.LanguageId, "German Phone Book Order")) continue;
    SCOPED_TRACE(locale.Name);
    EXPECT_EQ(Compare(locale.LanguageId, 1, goethe, "Goethe"), 0);
    EXPECT_EQ(Compare(locale.LanguageId, 1, goethe, "Gofe"), -1);
    EXPECT_EQ(Compare(locale.LanguageId, 1, "M\xFCller", "Mueller"), 0);
    EXPECT_TRUE(LocaleInstalled(locale.LanguageId, 1));
  }
  EXPECT_EQ(Compare(kGermanAustrian, 1, goethe, "Goethe"), 0);
}

TEST(CompareLocaleStringsTest, TraditionalSpanishSortsChAsOneLetter) {
  // Modern order: "ch" is c then h, before "cz"; traditional: "ch" follows every "c…".
  EXPECT_EQ(Compare(kSpanishModern, 0, "chico", "cuna"), -1);
  EXPECT_EQ(Compare(kSpanishCastilian, 0, "chico", "cuna"), 1);
}

TEST(CaseMappingTest, AnsiStandardMapsOnlyAsciiLetters) {
  EXPECT_EQ(Upper(0, "Go move 19x19"), "GO MOVE 19X19");
  EXPECT_EQ(Lower(0, "Go MOVE"), "go move");
  // Bytes above 0x7F that are not code page 932 lead bytes are left alone.
  EXPECT_EQ(Upper(0, "\xA0\xE9"), "\xA0\xE9");
}

TEST(CaseMappingTest, AnsiStandardLeavesJapaneseTextWhole) {
  // ソ is 0x83 0x5C and ボ 0x83 0x7B; ム is 0x83 0x80, ゴ 0x83 0x53, ラ 0x83 0x89;
  // 漢 0x8A 0xBF; 表 0x95 0x5C; 碁 0x8C 0xE9; 、 0x81 0x41; 0x88 0x61 is 院 (second byte 'a').
  const std::string japanese =
      "\x83\x5C\x83\x7B\x83\x80\x83\x53\x83\x89\x8A\xBF\x95\x5C\x8C\xE9\x81\x41\x88\x61";
  EXPECT_EQ(Upper(0, japanese), japanese);
  EXPECT_EQ(Lower(0, japanese), japanese);
  // Mixed with ASCII letters, only the letters change.
  EXPECT_EQ(Upper(0,
                  "ab\x88\x61"
                  "cd\x83\x7B"),
            "AB\x88\x61"
            "CD\x83\x7B");
  EXPECT_EQ(Lower(0,
                  "AB\x88\x41"
                  "CD"),
            "ab\x88\x41"
            "cd");
  // A lead byte at the very end does not step past the terminator.
  EXPECT_EQ(Upper(0, "a\x83"), "A\x83");
  // Case-insensitive comparison agrees: the second byte 0x61 ('a') is not raised.
  EXPECT_EQ(Compare(0, 0, "\x88\x61", "\x88\x41", true), 1);
  EXPECT_EQ(Compare(0, 0, "GO\x88\x61", "go\x88\x61", true), 0);
}

TEST(CaseMappingTest, LocalesMapTheirCodePage) {
  EXPECT_EQ(Upper(kGermanStandard, "m\xFCller"), "M\xDCLLER");  // ü → Ü
  EXPECT_EQ(Lower(kGermanStandard, "M\xDCLLER"), "m\xFCller");
  EXPECT_EQ(Upper(kGermanStandard,
                  "stra\xDF"
                  "e"),
            "STRA\xDF"
            "E");  // ß keeps its length
  EXPECT_EQ(Upper(0x0419, "\xEC\xEE\xF1\xEA\xE2\xE0"), "\xCC\xCE\xD1\xCA\xC2\xC0");  // москва
  EXPECT_EQ(Upper(kEnglishUSA, "i\xB5"), "I\xB5");  // µ has no capital in the code page
  std::string empty;
  UpperCaseLocale(kEnglishUSA, 0, empty.data());
  UpperCaseLocale(kEnglishUSA, 0, nullptr);
  EXPECT_EQ(empty, "");
}

TEST(CaseMappingTest, CaseIsMappedWithoutLanguageSpecialRules) {
  struct Case {
    std::uint16_t language;
    const char* text;
    const char* upper;
    const char* lower;
  };
  // Greek in Windows-1253: ά 0xDC, Ά 0xA2, έ 0xDD, Έ 0xB8, σ 0xF3, ς 0xF2, Σ 0xD3.
  // Turkish in Windows-1254: İ 0xDD, ı 0xFD.
  const Case kCases[] = {
      {kGreek, "\xDC", "\xA2", "\xDC"},  // accents survive upper-casing
      {kGreek, "\xDC\xDD\xF3\xF2", "\xA2\xB8\xD3\xD3", "\xDC\xDD\xF3\xF2"},
      {kGreek, "\xA2\xB8", "\xA2\xB8", "\xDC\xDD"},
      {kTurkish, "i", "I", "i"},           // no dotted capital
      {kTurkish, "I", "I", "i"},           // no dotless small letter
      {kTurkish, "\xDD", "\xDD", "\xDD"},  // İ has no single lower letter here
      {kTurkish, "\xFD", "I", "\xFD"},
      {kTurkish, "Izmir istanbul", "IZMIR ISTANBUL", "izmir istanbul"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.language << " " << testing::PrintToString(c.text));
    EXPECT_EQ(Upper(c.language, c.text), c.upper);
    EXPECT_EQ(Lower(c.language, c.text), c.lower);
  }
}

TEST(CharOrderMapTest, AnsiStandardIsTheIdentity) {
  const auto& map = CharOrderMap(0, 0);
  std::array<std::uint8_t, 256> identity;
  std::iota(identity.begin(), identity.end(), 0);
  EXPECT_EQ(map, identity);
}

TEST(CharOrderMapTest, LocaleMapIsAPermutationInCollationOrder) {
  const auto& map = CharOrderMap(kEnglishUSA, 0);
  std::array<bool, 256> seen{};
  for (std::uint8_t byte : map) seen[byte] = true;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
  auto place = [&](std::uint8_t byte) {
    return std::find(map.begin(), map.end(), byte) - map.begin();
  };
  EXPECT_LT(place('a'), place('B'));
  EXPECT_LT(place('B'), place('c'));
  EXPECT_LT(place('9'), place('a'));
  // Built once: a second request gives the same map.
  EXPECT_EQ(&CharOrderMap(kEnglishUSA, 0), &map);
}

TEST(CharacterPrefixTest, CutNeverSplitsADoubleByteCharacter) {
  // "aソb": cutting to 2 would keep only the lead byte of ソ.
  const char* text =
      "a\x83\x5C"
      "b";
  EXPECT_EQ(CharacterPrefixLength(0, text, 2), 1u);
  EXPECT_EQ(CharacterPrefixLength(0, text, 3), 3u);
  EXPECT_EQ(CharacterPrefixLength(0, text, 10), 4u);
  EXPECT_EQ(CharacterPrefixLength(kEnglishUSA, text, 2), 2u);  // single-byte code page
}

TEST(LanguageStringListTest, SortsAndFindsWithoutRegardToCase) {
  TLanguageStringList list(kEnglishUSA, 0);
  for (const char* text : {"pear", "Apple", "banana", "apple"}) list.Add(text);
  ASSERT_EQ(list.Count(), 3);  // "apple" equals "Apple" and is ignored
  EXPECT_EQ(list[0], "Apple");
  EXPECT_EQ(list[1], "banana");
  EXPECT_EQ(list[2], "pear");
  int index = -1;
  EXPECT_TRUE(list.Find("BANANA", index));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(list.Find("cherry", index));
  EXPECT_EQ(index, 2);
  EXPECT_TRUE(list.FindPrefix("PEach", 2, index));
  EXPECT_EQ(index, 2);
}

TEST(LanguageStringListTest, DuplicatesFollowTheSetting) {
  TLanguageStringList accept(0, 0);
  accept.Duplicates = TDuplicates::dupAccept;
  accept.Add("go");
  accept.Add("GO");
  EXPECT_EQ(accept.Count(), 2);

  TLanguageStringList refuse(0, 0);
  refuse.Duplicates = TDuplicates::dupError;
  refuse.Add("go");
  EXPECT_THROW(refuse.Add("Go"), EStringListError);
  EXPECT_EQ(refuse.Count(), 1);

  TLanguageStringList unsorted(0, 0);
  unsorted.SetSorted(false);
  unsorted.Add("b");
  unsorted.Add("A");
  EXPECT_EQ(unsorted[0], "b");
  unsorted.SetSorted(true);
  EXPECT_EQ(unsorted[0], "A");
}

}  // namespace
}  // namespace kura
