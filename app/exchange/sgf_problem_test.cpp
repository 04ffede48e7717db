// One game tree to one problem and back: files shaped like those of problem sites and editors
// (marks in comments or TE / BM, unmarked files, set-up nodes, PL[W], AE, escapes, passes),
// the refusals with their line, and export then import giving back the same rows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/exchange/sgf_problem.h"
#include "app/exchange/sgf_reader.h"
#include "app/exchange/sgf_writer.h"

namespace goramina {
namespace {

using ::testing::HasSubstr;

// A row without its comment: TES, COL, PST, BFR, BTO.
struct TRow {
  int TES, COL, PST, BFR, BTO;
  bool operator==(const TRow&) const = default;
};
std::ostream& operator<<(std::ostream& out, const TRow& r) {
  return out << "{" << r.TES << "," << r.COL << "," << r.PST << "," << r.BFR << "," << r.BTO << "}";
}

std::vector<TRow> Rows(const TStoredProblem& p) {
  std::vector<TRow> rows;
  for (const TStoredRow& r : p.rows) rows.push_back({r.TES, r.COL, r.PST, r.BFR, r.BTO});
  return rows;
}

TImportedProblem Import(const std::string& text, std::size_t tree = 0) {
  const TSgfCollection c = ParseSgf(text);
  return ProblemFromSgf(*c.trees.at(tree));
}

// Points: "ab" is column a, row b; PST = 19 * column + row + 1.
constexpr int aa = 1, ab = 2, ac = 3, ad = 4, ae = 5, af = 6, ba = 20, bb = 21, ca = 39, cc = 41,
              dd = 61, ee = 81;

struct TFixture {
  const char* name;
  const char* sgf;
  TCorrectnessRule rule;
  std::vector<TRow> rows;
};

TEST(SgfImport, FilesOfSitesAndEditors) {
  const TFixture fixtures[] = {
      {"marks in comments",
       "(;GM[1]FF[4]SZ[19]AB[ba][bb]AW[aa]C[Black to play]\n(;B[ab]C[RIGHT])\n"
       "(;B[ca];W[ab]C[WRONG]))",
       TCorrectnessRule::CommentMarks,
       {{0, 1, ba, 0, 9999},
        {0, 1, bb, 0, 0},
        {0, 2, aa, 1, 0},  // set-up
        {1, 1, ab, 2, 1},  // correct
        {1, -1, ca, 0, 1},
        {2, 2, ab, 3, 0}}},  // wrong
      {"TE and BM",
       "(;AB[ba]AW[aa](;B[ab]TE[1];W[ac])(;B[ca]BM[1]))",
       TCorrectnessRule::MoveMarks,
       {{0, 1, ba, 0, 9999},
        {0, 2, aa, 1, 0},
        {1, 1, ab, 0, 1},
        {2, 2, ac, 2, 0},
        {1, -1, ca, 3, 1}}},
      {"unmarked: the main line is correct",
       "(;AB[ba]AW[aa];B[ab];W[ac](;B[ad])(;B[ae]))",
       TCorrectnessRule::MainLine,
       {{0, 1, ba, 0, 9999},
        {0, 2, aa, 1, 0},
        {1, 1, ab, 0, 1},
        {2, 2, ac, 2, 0},
        {3, 1, ad, 3, 2},
        {3, -1, ae, 4, 2}}},
      {"a wrong line leaving a correct one below a correct move",
       "(;AB[ba]AW[aa];B[ab];W[ac](;B[ad]C[正解])(;B[ae];W[ad]C[失敗])(;B[af]C[不正解]))",
       TCorrectnessRule::CommentMarks,
       {{0, 1, ba, 0, 9999},
        {0, 2, aa, 1, 0},
        {1, 1, ab, 0, 1},
        {2, 2, ac, 2, 0},
        {3, 1, ad, 3, 2},
        {3, -1, ae, 0, 2},
        {4, 2, ad, 4, 0},
        {3, -1, af, 5, 2}}},
      {"INCORRECT is no CORRECT",
       "(;AB[ba](;B[ab]C[INCORRECT])(;B[ac]C[CORRECT]))",
       TCorrectnessRule::CommentMarks,
       {{0, 1, ba, 1, 9999}, {1, -1, ab, 2, 1}, {1, 1, ac, 3, 1}}},
      {"set-up nodes after the root, AE",
       "(;GM[1]AB[aa][bb]\n;AW[cc]AE[bb]\n;AB[dd]\n;B[ee])",
       TCorrectnessRule::MainLine,
       {{0, 1, aa, 0, 9999}, {0, 2, cc, 0, 0}, {0, 1, dd, 1, 0}, {1, 1, ee, 2, 1}}},
      {"compressed point lists",
       "(;AB[aa:ab]AW[ba];B[ca])",
       TCorrectnessRule::MainLine,
       {{0, 1, aa, 0, 9999}, {0, 1, ab, 0, 0}, {0, 2, ba, 1, 0}, {1, 1, ca, 2, 1}}},
      {"PL[W]: colours swapped",
       "(;PL[W]AB[aa]AW[bb];W[cc];B[dd])",
       TCorrectnessRule::MainLine,
       {{0, 2, aa, 0, 9999}, {0, 1, bb, 1, 0}, {1, 1, cc, 0, 1}, {2, 2, dd, 2, 0}}},
      {"White's first move without PL: colours swapped",
       "(;AB[aa]AW[bb](;W[cc])(;W[dd]))",
       TCorrectnessRule::MainLine,
       {{0, 2, aa, 0, 9999}, {0, 1, bb, 1, 0}, {1, 1, cc, 2, 1}, {1, -1, dd, 3, 1}}},
      {"a pass ends its line",
       "(;AB[aa]AW[ba];B[bb];W[];B[cc]C[RIGHT])",
       TCorrectnessRule::CommentMarks,
       {{0, 1, aa, 0, 9999}, {0, 2, ba, 1, 0}, {1, 1, bb, 2, 1}}},
      {"a pass written tt",
       "(;AB[aa]AW[ba];B[bb];W[tt];B[cc])",
       TCorrectnessRule::MainLine,
       {{0, 1, aa, 0, 9999}, {0, 2, ba, 1, 0}, {1, 1, bb, 2, 1}}},
      {"marks glued to the comment's last word",
       "(;AB[ba]AW[aa](;B[ab]C[sekiRIGHT])(;B[ac];W[ad]C[Yes, that lives.RIGHT!])"
       "(;B[ae]C[White lives.WRONG]))",
       TCorrectnessRule::CommentMarks,
       {{0, 1, ba, 0, 9999},
        {0, 2, aa, 1, 0},
        {1, 1, ab, 2, 1},
        {1, 1, ac, 0, 1},
        {2, 2, ad, 3, 0},
        {1, -1, ae, 4, 1}}},
      {"RIGHT inside a word is no mark: the main line decides",
       "(;AB[ba]AW[aa](;B[ab]C[BRIGHT stones])(;B[ac]C[upRIGHTly placed]))",
       TCorrectnessRule::MainLine,
       {{0, 1, ba, 0, 9999}, {0, 2, aa, 1, 0}, {1, 1, ab, 2, 1}, {1, -1, ac, 3, 1}}},
      {"set-up inside a wrong line is left out, its moves kept",
       "(;AB[ba]AW[aa](;B[ab]C[RIGHT])(;B[ac];W[ad]\n;AB[cc]C[like this];B[ae]C[WRONG]))",
       TCorrectnessRule::CommentMarks,
       {{0, 1, ba, 0, 9999},
        {0, 2, aa, 1, 0},
        {1, 1, ab, 2, 1},
        {1, -1, ac, 0, 1},
        {2, 2, ad, 0, 0},
        {3, 1, ae, 3, 0}}},
      {"set-up in a variation before its first move is left out too",
       "(;AB[ba]AW[aa](;B[ab])(;AW[cc];B[ac]))",
       TCorrectnessRule::MainLine,
       {{0, 1, ba, 0, 9999}, {0, 2, aa, 1, 0}, {1, 1, ab, 2, 1}, {1, -1, ac, 3, 1}}},
      {"no moves at all",
       "(;AB[aa]AW[ba]C[set-up only])",
       TCorrectnessRule::MainLine,
       {{0, 1, aa, 0, 9999}, {0, 2, ba, 1, 0}}},
  };
  for (const TFixture& f : fixtures) {
    SCOPED_TRACE(f.name);
    const TImportedProblem p = Import(f.sgf);
    EXPECT_EQ(p.rule, f.rule);
    EXPECT_EQ(Rows(p.problem), f.rows);
  }
}

TEST(SgfImport, CommentsAndNotes) {
  TImportedProblem p = Import(
      "(;GN[Problem 7]C[Black to kill]AB[aa]\n;B[bb]C[see \\[1\\] and a\\]b]\n;C[CHOICE]"
      ";W[cc]C[two\nlines])");
  EXPECT_EQ(p.problem.CMT, "Problem 7 Black to kill");
  ASSERT_EQ(p.problem.rows.size(), 3u);
  EXPECT_EQ(p.problem.rows[1].CMT, "see [1] and a]b CHOICE");  // a moveless node's comment
  EXPECT_EQ(p.problem.rows[2].CMT, "two lines");               // kept on one line

  p = Import("(;PL[W]C[White to live]AB[aa];W[bb])");
  EXPECT_TRUE(p.swapped);
  EXPECT_THAT(p.problem.CMT, HasSubstr("White to live"));
  EXPECT_THAT(p.problem.CMT, HasSubstr(kSwappedNote));

  p = Import("(;AB[aa]AW[ba];B[bb];W[];B[cc])");
  EXPECT_THAT(p.problem.rows.back().CMT, HasSubstr("白はパス"));
  EXPECT_FALSE(p.notes.empty());
}

// Moves the rules refuse are named by line and kept: the trainer plays stored moves as stored.
TEST(SgfImport, StoredMovesTheRulesRefuseAreNamedAndKept) {
  // Black closes the corner point aa; a ko stands at columns f..i, rows f..h.
  const TImportedProblem p = Import(
      "(;PL[B]AB[ba][ab][gf][fg][gh]AW[hf][gg][ig][hh]\n"
      "(;W[aa])\n"
      "(;B[ba])\n"
      "(;B[hg]\n;W[gg]\n;B[hg]))");
  // The ko is retaken at once by each side in turn: both retakes are named.
  ASSERT_EQ(p.warnings.size(), 4u);
  EXPECT_THAT(p.warnings[0],
              HasSubstr("2 行目の手 aa は打てない手です（自殺手になるので打てません）"));
  EXPECT_THAT(p.warnings[1],
              HasSubstr("3 行目の手 ba は打てない手です（石のある点には打てません）"));
  EXPECT_THAT(p.warnings[2],
              HasSubstr("5 行目の手 gg は打てない手です（コウはすぐには取り返せません）"));
  EXPECT_THAT(p.warnings[3],
              HasSubstr("6 行目の手 hg は打てない手です（コウはすぐには取り返せません）"));
  int moves = 0;
  for (const TStoredRow& r : p.problem.rows) moves += r.TES > 0 ? 1 : 0;
  EXPECT_EQ(moves, 5) << "every stored move is imported";
}

TEST(SgfImport, MarksLeaveTheStoredCommentsAndWarningsAreNamed) {
  const TImportedProblem p = Import(
      "(;AB[ba]AW[aa](;B[ab]C[sekiRIGHT])(;B[ac]C[Yeye.RIGHT])(;B[ad]C[RIGHT])"
      "(;B[ae]C[WRONG: White lives])(;B[af]C[正解です]))");
  std::vector<std::string> comments;
  for (const TStoredRow& r : p.problem.rows)
    if (r.TES > 0) comments.push_back(r.CMT);
  EXPECT_EQ(comments, (std::vector<std::string>{"seki", "Yeye.", "", "White lives", "正解です"}));
  EXPECT_THAT(p.notes, ::testing::Contains(HasSubstr("RIGHT")));  // the glued mark is named
  EXPECT_TRUE(p.warnings.empty());

  const TImportedProblem stray = Import("(;AB[ba]AW[aa];B[ab]\n;W[ac]AB[cc]C[RIGHT])");
  ASSERT_EQ(stray.warnings.size(), 1u);
  EXPECT_THAT(stray.warnings[0], HasSubstr("2 行目"));
  EXPECT_EQ(stray.problem.rows.size(), 4u);  // the set-up stone at cc is not added
}

TEST(SgfImport, AProblemWithoutATitleIsNamedByItsFile) {
  const TSgfCollection c = ParseSgf("(;AB[aa];B[bb])(;GN[Named]AB[aa];B[bb])(;PL[W]AB[aa];W[bb])");
  EXPECT_EQ(ProblemFromSgf(*c.trees[0], "prob0042").problem.CMT, "prob0042");
  EXPECT_EQ(ProblemFromSgf(*c.trees[1], "prob0042").problem.CMT, "Named");
  EXPECT_THAT(ProblemFromSgf(*c.trees[2], "p3").problem.CMT, ::testing::StartsWith("p3 （"));
}

TEST(SgfImport, SeveralGameTreesAreSeveralProblems) {
  const TSgfCollection c = ParseSgf("(;AB[aa];B[bb])\n(;AB[cc];B[dd])\n(;AB[ee]PL[W];W[aa])");
  ASSERT_EQ(c.trees.size(), 3u);
  EXPECT_EQ(ProblemFromSgf(*c.trees[1]).problem.rows[0].PST, cc);
  EXPECT_TRUE(ProblemFromSgf(*c.trees[2]).swapped);
}

TEST(SgfImport, RefusalsNameTheLine) {
  std::string eleven = "(;AB[aa]\n";
  for (int i = 0; i < 11; ++i)
    eleven += "(;B[b" + std::string(1, static_cast<char>('a' + i)) + "])\n";
  eleven += ")";
  std::string tooLong = "(;AB[aa]";
  for (int i = 0; i < 362; ++i) tooLong += (i % 2 == 0 ? ";B[cc]\n" : ";W[dd]\n");
  tooLong += ")";

  struct TCase {
    const char* name;
    std::string sgf;
    int line;
    const char* says;
  };
  const TCase cases[] = {
      {"9x9", "\n(;GM[1]SZ[9]AB[aa];B[bb])", 2, "19路盤のみ"},
      {"13x13 rectangle", "(;SZ[19:13]AB[aa])", 1, "SZ[19:13]"},
      {"off the board", "(;AB[aa]\n;B[zz])", 2, "zz"},
      {"no set-up", "(;GM[1]\n;B[aa])", 1, "配置"},
      {"eleven continuations", eleven, 12, "10"},
      {"a line beyond the move history", tooLong, 362, "361"},
      {"black and white in one node", "(;AB[aa]\n;B[bb]W[cc])", 2, "黒と白"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      Import(c.sgf);
      ADD_FAILURE() << "accepted";
    } catch (const ESgfError& e) {
      EXPECT_EQ(e.Line(), c.line);
      EXPECT_THAT(e.what(), HasSubstr(c.says));
    }
  }
}

TStoredProblem CraftedProblem() {
  TStoredProblem p;
  p.KB1 = "活きる";
  p.KB2 = "ハネ";
  p.MRK = "○";
  p.CMT = "コメント";
  p.HNT = "ヒント";
  p.rows = {
      {0, 1, 1, 0, 9999, ""},
      {0, 2, 2, 0, 0, "白石"},
      {0, 1, 3, 1, 0, ""},
      {1, 1, 40, 0, 1, "a]b\\c"},
      {2, 2, 41, 2, 0, "RIGHT"},         // correct, continued once; a comment like a mark
      {3, 1, 42, 3, 2, "RIGHT のあと"},  // chained to the one before
      {1, -1, 60, 5, 1, "悪手"},         // wrong, label 5 (a refilled gap)
      {2, -2, 61, 4, 5, "RIGHT"},        // wrong again below it
      {1, 2, 80, 0, 1, ""},
      {3, 1, 81, 6, 0, "手数が飛ぶ"},  // White first, move numbers skip
  };
  return p;
}

TEST(SgfExport, ExportThenImportGivesTheSameRows) {
  const TStoredProblem problem = CraftedProblem();
  std::vector<std::string> notes;
  const std::string text = WriteSgfTree(*SgfFromProblem(problem, &notes));
  EXPECT_TRUE(notes.empty());
  EXPECT_THAT(text, HasSubstr("FF[4]"));
  EXPECT_THAT(text, HasSubstr("CA[UTF-8]"));
  EXPECT_THAT(text, HasSubstr("SZ[19]"));
  EXPECT_THAT(text, HasSubstr("BM[1]"));
  EXPECT_THAT(text, HasSubstr("\nRIGHT]"));
  const TImportedProblem back = Import(text);
  EXPECT_FALSE(back.swapped);
  EXPECT_EQ(back.problem, problem);
}

TEST(SgfExport, ForeignReadersSeeMarksAndVariations) {
  TStoredProblem crafted = CraftedProblem();
  crafted.rows[7].CMT.clear();  // RIGHT at the end of a line is a mark to other readers
  const std::string text = WriteSgfTree(*SgfFromProblem(crafted));
  // Read without our private properties, the marks alone give the same correct lines.
  const TSgfCollection c = ParseSgf(text);
  TSgfTree& tree = *c.trees[0];
  tree.nodes[0].properties.erase(
      std::remove_if(tree.nodes[0].properties.begin(), tree.nodes[0].properties.end(),
                     [](const TSgfProperty& p) { return p.id == "AP"; }),
      tree.nodes[0].properties.end());
  const TImportedProblem p = ProblemFromSgf(tree);
  EXPECT_EQ(p.rule, TCorrectnessRule::MoveAndCommentMarks);
  ASSERT_EQ(tree.variations.size(), 3u);  // three answers from the set-up
  int wrongStarts = 0;
  for (const TStoredRow& r : p.problem.rows) wrongStarts += r.COL < 0 ? 1 : 0;
  EXPECT_EQ(wrongStarts, 2);
}

TEST(SgfExport, TheSetUpStandsInTheRootAndRightIsNeverDoubled) {
  TStoredProblem p;
  p.rows = {{0, 2, 5, 0, 9999, ""}, {0, 1, 1, 0, 0, ""},       {0, 2, 2, 0, 0, ""},
            {0, 1, 3, 1, 0, ""},    {1, 1, 40, 2, 1, "RIGHT"}, {1, 1, 41, 3, 1, "ok"},
            {1, -1, 60, 4, 1, ""}};
  const std::unique_ptr<TSgfTree> tree = SgfFromProblem(p);
  ASSERT_FALSE(tree->nodes.empty());
  const TSgfNode& root = tree->nodes.front();
  EXPECT_EQ(root.Values("AB"), (std::vector<std::string>{"aa", "ac"}));
  EXPECT_EQ(root.Values("AW"), (std::vector<std::string>{"ae", "ab"}));
  const std::string text = WriteSgfTree(*tree);
  EXPECT_EQ(text.find("RIGHT\nRIGHT"), std::string::npos) << text;
  EXPECT_THAT(text, HasSubstr("C[ok\nRIGHT]"));
  EXPECT_THAT(text, HasSubstr("TE[1]"));
  EXPECT_EQ(Import(text).problem, p);  // row order of the alternating set-up kept
}

TEST(SgfExport, BrokenRowsAreLeftOutAndNamed) {
  TStoredProblem p;
  p.rows = {{0, 1, 1, 1, 9999, ""},
            {1, 1, 2, 2, 7, ""} /* continues no label */,
            {1, 1, 3, 0, 1, ""} /* never ends */};
  std::vector<std::string> notes;
  const std::string text = WriteSgfTree(*SgfFromProblem(p, &notes));
  EXPECT_EQ(notes.size(), 2u);
  EXPECT_EQ(Rows(Import(text).problem), (std::vector<TRow>{{0, 1, 1, 1, 9999}}));
}

}  // namespace
}  // namespace goramina
