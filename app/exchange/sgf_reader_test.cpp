// The SGF reader and writer: structure, values and escapes, loose files, character sets, and
// malformed files refused with their line.
#include <gtest/gtest.h>

#include <string>

#include "app/exchange/sgf_reader.h"
#include "app/exchange/sgf_writer.h"
#include "dataset/cp932.h"

namespace goramina {
namespace {

TEST(SgfReader, ReadsTreesNodesAndVariations) {
  const TSgfCollection c =
      ParseSgf("(;FF[4]GM[1]AB[aa][bb]\n;B[cc]C[one]\n(;W[dd])\n(;W[ee];B[ff]))(;GM[1])");
  ASSERT_EQ(c.trees.size(), 2u);
  const TSgfTree& t = *c.trees[0];
  ASSERT_EQ(t.nodes.size(), 2u);
  EXPECT_EQ(t.nodes[0].Values("AB"), (std::vector<std::string>{"aa", "bb"}));
  EXPECT_EQ(*t.nodes[1].First("C"), "one");
  EXPECT_EQ(t.nodes[1].line, 2);
  ASSERT_EQ(t.variations.size(), 2u);
  EXPECT_EQ(t.variations[0]->line, 3);
  EXPECT_EQ(t.variations[1]->nodes.size(), 2u);
  EXPECT_EQ(*t.variations[1]->nodes[1].First("B"), "ff");
}

TEST(SgfReader, LooseFilesAreAccepted) {
  // Text before the tree, FF[3] lower-case names, a repeated property, blanks between values.
  const TSgfCollection c =
      ParseSgf("From: someone\n(;AddWhite[aa]AW[bb] AW [cc]\n [dd]PL[W])trailing junk");
  ASSERT_EQ(c.trees.size(), 1u);
  EXPECT_EQ(c.trees[0]->nodes[0].Values("AW"), (std::vector<std::string>{"aa", "bb", "cc", "dd"}));
  EXPECT_EQ(*c.trees[0]->nodes[0].First("PL"), "W");
}

TEST(SgfReader, EscapesAndLineBreaksInValues) {
  const TSgfCollection c = ParseSgf("(;C[a\\]b\\\\c\\\nd\r\ne\tf]GN[x\ny])");
  const TSgfNode& n = c.trees[0]->nodes[0];
  EXPECT_EQ(*n.First("C"), "a]b\\cd\r\ne\tf");
  EXPECT_EQ(SgfText(*n.First("C")), "a]b\\cd\ne f");
  EXPECT_EQ(SgfSimpleText(*n.First("GN")), "x y");
}

TEST(SgfReader, MalformedFilesNameTheirLine) {
  struct TCase {
    const char* text;
    int line;
  };
  const TCase cases[] = {
      {"", 1},                       // no tree at all
      {"no sgf here\n\n", 3},        // likewise, found at the end
      {"(;B[aa]\n;W[bb]\n", 3},      // tree never closed
      {"(;B[aa]\n;C[open\n\n", 2},   // value never closed: the line it opened on
      {"(;B[aa]\n;W[bb]x[cc])", 2},  // property name without a capital
      {"(;B[aa]\n\n;W)", 3},         // property without a value
      {"(;B[aa]\n;W[bb]#)", 2},      // stray character
      {"(;B[aa](\nB[cc]))", 2},      // variation without a node
  };
  for (const TCase& c : cases) {
    try {
      ParseSgf(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const ESgfError& e) {
      EXPECT_EQ(e.Line(), c.line) << c.text << ": " << e.what();
      EXPECT_FALSE(std::string(e.what()).empty());
    }
  }
}

TEST(SgfReader, DeepNestingIsRefusedNotOverflowed) {
  std::string deep;
  for (int i = 0; i <= kMaxSgfNesting; ++i) deep += "(;B[aa]";
  deep += std::string(static_cast<std::size_t>(kMaxSgfNesting) + 1, ')');
  EXPECT_THROW(ParseSgf(deep), ESgfError);
  std::string fine;
  for (int i = 0; i < 50; ++i) fine += "(;B[aa]";
  fine += std::string(50, ')');
  EXPECT_NO_THROW(ParseSgf(fine));
}

TEST(SgfReader, CharacterSets) {
  // Shift_JIS without CA: "ソ" ends in the byte of "\" and "ー" must not end the value early.
  const std::string sjis = "(;C[" + kura::Utf8ToCp932("ソフト正解ー") + "])";
  TSgfCollection c = ReadSgf(sjis);
  EXPECT_EQ(c.charset, "CP932");
  EXPECT_EQ(*c.trees[0]->nodes[0].First("C"), "ソフト正解ー");

  c = ReadSgf("(;CA[UTF-8]C[正解])");
  EXPECT_EQ(c.charset, "UTF-8");
  EXPECT_EQ(*c.trees[0]->nodes[0].First("C"), "正解");

  c = ReadSgf("(;CA[SJIS]C[" + kura::Utf8ToCp932("黒番") + "])");
  EXPECT_EQ(*c.trees[0]->nodes[0].First("C"), "黒番");

  c = ReadSgf("(;CA[ISO-8859-1]C[caf\xE9])");
  EXPECT_EQ(*c.trees[0]->nodes[0].First("C"), "café");

  // No CA, valid UTF-8 with a byte-order mark.
  c = ReadSgf("\xEF\xBB\xBF(;C[白])");
  EXPECT_EQ(*c.trees[0]->nodes[0].First("C"), "白");

  // A character set ICU does not know falls back to the guess.
  c = ReadSgf("(;CA[no-such-set]C[白])");
  EXPECT_EQ(*c.trees[0]->nodes[0].First("C"), "白");
}

TEST(SgfWriter, WrittenTextReadsBackTheSame) {
  const std::string text =
      "(;FF[4]C[a\\]b \\\\ c\n二行目]AB[aa][bb]\n;B[cc]\n(;W[dd]C[])\n(;W[ee]\n;B[ff]))";
  const TSgfCollection first = ParseSgf(text);
  const std::string written = WriteSgf(first);
  const TSgfCollection second = ParseSgf(written);
  EXPECT_EQ(WriteSgf(second), written);
  EXPECT_EQ(*second.trees[0]->nodes[0].First("C"), "a]b \\ c\n二行目");
  EXPECT_EQ(second.trees[0]->variations.size(), 2u);
  EXPECT_EQ(EscapeSgfValue("x]\\"), "x\\]\\\\");
}

}  // namespace
}  // namespace goramina
