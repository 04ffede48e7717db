// Words of the text index: splitting, include characters, the 60-character limit, stop
// words without regard to case, and code page 932 characters taken whole.
#include "storage/index_text.h"

#include <gtest/gtest.h>

namespace kura {
namespace {

using TWords = std::vector<std::string>;

TEST(IndexText, DefaultParametersSplitAndFilterWords) {
  TTextIndexParams params = DefaultTextIndexParams();
  EXPECT_EQ(params.StopWords.size(), 22U);
  struct TCase {
    std::string Text;
    TWords Words;
  };
  std::vector<TCase> cases = {
      {"The black stone is captured", {"black", "stone", "captured"}},
      {"ko-fight:seki/ladder", {"ko", "fight", "seki", "ladder"}},
      {"what WHY When? the_end", {"the_end"}},
      {"a1!b2", {"a1b2"}},  // "!" is neither space nor included: dropped
      {std::string(70, 'x'), {std::string(60, 'x')}},
      // ソ is 83 5C: its second byte is not the space "\".
      {"\x83\x5C\x83\x4C \x90\xCE", {"\x83\x5C\x83\x4C", "\x90\xCE"}},
      {"", {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(TextIndexWords(c.Text, params, {}), c.Words);
  }
  EXPECT_TRUE(IsStopWord("which", params, {}));
  EXPECT_FALSE(IsStopWord("whichever", params, {}));
}

}  // namespace
}  // namespace kura
