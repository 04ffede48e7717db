#include "dataset/cp932.h"

#include <gtest/gtest.h>

#include <random>

namespace kura {
namespace {

struct Mapping {
  const char* utf8;
  const char* cp932;
};

// The characters where Windows and plain Shift_JIS part ways, plus the ordinary kinds.
const Mapping kMappings[] = {
    {"～", "\x81\x60"},
    {"－", "\x81\x7C"},
    {"∥", "\x81\x61"},
    {"￢", "\x81\xCA"},
    {"￠", "\x81\x91"},
    {"①", "\x87\x40"},
    {"ⅰ", "\xFA\x40"},
    {"ｱ", "\xB1"},
    {"\\", "\x5C"},
    {"~", "\x7E"},
    {"○", "\x81\x9B"},
    {"？", "\x81\x48"},
    {"全て", "\x91\x53\x82\xC4"},
};

TEST(Cp932Test, MapsTheWindowsWayBothWays) {
  for (const Mapping& m : kMappings) {
    SCOPED_TRACE(m.utf8);
    EXPECT_EQ(TryUtf8ToCp932(m.utf8), std::optional<std::string>(m.cp932));
    EXPECT_EQ(TryCp932ToUtf8(m.cp932), std::optional<std::string>(m.utf8));
  }
}

TEST(Cp932Test, StrictRefusesWhatLenientReplaces) {
  // An emoji has no CP932 code; 0xFF is not UTF-8; a lone lead byte is not CP932.
  EXPECT_FALSE(TryUtf8ToCp932("a\xF0\x9F\x98\x80"));
  EXPECT_EQ(Utf8ToCp932("a\xF0\x9F\x98\x80"), "a?");
  EXPECT_FALSE(TryUtf8ToCp932("a\xFF"));
  EXPECT_EQ(Utf8ToCp932("a\xFF"), "a?");
  EXPECT_FALSE(TryCp932ToUtf8("a\x81"));
  EXPECT_EQ(Cp932ToUtf8("a\x81"), "a\xEF\xBF\xBD");
  EXPECT_FALSE(TryCp932ToUtf8("\xFF"));
  EXPECT_EQ(Cp932ToUtf8("\xFF"), "\xEF\xBF\xBD");
  EXPECT_EQ(Cp932ToUtf8(""), "");
  EXPECT_EQ(std::string(Cp932ToUtf8(std::string("a\0b", 3))), std::string("a\0b", 3));
}

TEST(Cp932Test, InvisibleCharactersWithoutACodeAreRefusedNotDropped) {
  // Default-ignorable characters: variation selectors, zero-width space, soft hyphen, word
  // joiner, a tag character. None has a code page 932 form, so none may vanish.
  const char* const kInvisible[] = {"\uFE0D", "\u200B", "\uFE0F", "\u00AD", "\u2060", "\U000E0001"};
  for (const char* invisible : kInvisible) {
    SCOPED_TRACE(testing::PrintToString(std::string(invisible)));
    EXPECT_FALSE(TryUtf8ToCp932(invisible));
    EXPECT_FALSE(TryUtf8ToCp932(std::string("a") + invisible + "b"));
    EXPECT_EQ(Utf8ToCp932(std::string("a") + invisible + "b"), "a?b");
    EXPECT_EQ(Utf8ToCp932(invisible), "?");
  }
}

TEST(Cp932Test, RandomBytesNeverCrash) {
  std::mt19937 random(932);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 40, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    // Whatever comes back must be valid in its own encoding.
    const std::string utf8 = Cp932ToUtf8(bytes);
    EXPECT_TRUE(TryUtf8ToCp932(utf8) || utf8.find("\xEF\xBF\xBD") != std::string::npos);
    const std::string cp932 = Utf8ToCp932(bytes);
    EXPECT_TRUE(TryCp932ToUtf8(cp932).has_value());
  }
}

}  // namespace
}  // namespace kura
