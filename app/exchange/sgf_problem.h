// One problem of the collection as plain values (its mondai row and its tejun rows, texts in
// UTF-8), and its conversion to and from an SGF game tree.
//
// From SGF (ProblemFromSgf), one game tree is one problem:
//   - the set-up is AB / AW / AE of the root and of the set-up nodes that follow it before the
//     first move, one row per stone left on the board, in the order the stones were placed;
//   - every variation becomes a sequence of the problem's tree, split where lines branch, each
//     sequence continuing the one it branches from (BTO) and ending with its own label (BFR);
//   - move comments become the rows' comments (comments of nodes without a move join the
//     comment of the move before them); GN and the root's C make the problem comment, and a
//     problem with neither is named by the title the caller gives (the file's name);
//   - a problem whose first move is White's (PL[W], or the first move) is stored with the
//     colours swapped, since the trainer always has Black play first, and its comment says so;
//   - which lines are correct: TE on a line's moves, or RIGHT / CORRECT / 正解 in the comment
//     of its last node, make it correct; with such marks (or BM, WRONG, INCORRECT, 失敗,
//     不正解) anywhere in the tree, every other line is wrong; without any mark the main line
//     is correct and every other line wrong. The English marks are read at the end of the
//     comment even when glued to the word before ("sekiRIGHT"), or as words of their own, and
//     are taken out of the stored comment;
//   - a sequence where a line leaves every correct line (or whose first move carries BM) is a
//     wrong sequence: its first row's colour is negative, as 悪手順登録 stores it;
//   - a pass ends its line: the moves before it are kept and the last one's comment says so.
//   - set-up properties after a move or inside a variation illustrate a line and set nothing
//     up: they are left out with a warning, the line's moves are kept.
// It refuses (ESgfError with the line) a board other than 19 x 19, a point off the board,
// more than kMaxContinuations continuations at one point, a line longer than kMaxHistory
// moves, a problem without set-up stones.
//
// To SGF (SgfFromProblem): FF[4] GM[1] SZ[19] CA[UTF-8] AP[Goramina:3.6] PL[B], the problem
// comment as the root's C, the whole set-up as AB / AW in the root, every sequence as a
// variation, the first move of a wrong sequence marked BM[1], the first move of a correct one
// TE[1] (where no wrong sequence hangs below it), the last node of every correct line carrying
// RIGHT in its comment (once: not when the comment already ends in it). What SGF has no place for
// is kept in private properties: GOMAJOR and GOMINOR (categories), GOMARK (mark), GOHINT (hint),
// GOSEQ[first row:label] on the first move of every sequence, GORIGHT[1] on the nodes whose comment
// got the RIGHT line, GOSETUPC[row:comment] for comments of set-up rows and GOSETUPORDER (the
// set-up's points in row order) when the rows alternate colours. Our own files keep their comments
// as stored. Reading that tree back gives the same rows.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/exchange/sgf_tree.h"

namespace goramina {

// One tejun row without TNB (its position) and HNB (the problem's number).
struct TStoredRow {
  int TES = 0;
  int COL = 0;
  int PST = 0;
  int BFR = 0;
  int BTO = 0;
  std::string CMT;
  bool operator==(const TStoredRow&) const = default;
};

// One problem: the texts of its mondai row and its tejun rows in table order.
struct TStoredProblem {
  int HNB = 0;
  std::string KB1, KB2, MRK, CMT, HNT;
  std::vector<TStoredRow> rows;
  bool operator==(const TStoredProblem&) const = default;
};

// What decided which lines are correct.
enum class TCorrectnessRule {
  MoveMarks,            // TE / BM on moves
  CommentMarks,         // RIGHT / WRONG / 正解 ... in the comments of the lines' last nodes
  MoveAndCommentMarks,  // both
  MainLine,             // no marks: the main line is correct
};

// Japanese for the summary, and a fixed name for scripts ("comment-marks", ...).
std::string CorrectnessRuleText(TCorrectnessRule rule);
std::string CorrectnessRuleName(TCorrectnessRule rule);

struct TImportedProblem {
  TStoredProblem problem;  // HNB left 0: the collection gives the number
  TCorrectnessRule rule = TCorrectnessRule::MainLine;
  bool swapped = false;               // White played first: colours swapped
  std::vector<std::string> notes;     // what the import changed (passes cut, ...), Japanese
  std::vector<std::string> warnings;  // what of the file was left out (set-up in a line), Japanese
};

// Converts one game tree; `title` names a problem whose file gives it no comment. Raises
// ESgfError naming the line of the node at fault.
TImportedProblem ProblemFromSgf(const TSgfTree& tree, std::string_view title = {});

// The problem as a game tree. Rows that break the tree's rules (a sequence continuing a label
// no earlier sequence carries, a sequence without an end row) are left out and named in
// `notes` when given.
std::unique_ptr<TSgfTree> SgfFromProblem(const TStoredProblem& problem,
                                         std::vector<std::string>* notes = nullptr);

// The comment note of a problem stored with its colours swapped.
inline constexpr const char* kSwappedNote = "白番の問題を白黒反転しました";
// The application written into AP by SgfFromProblem.
inline constexpr const char* kApplicationId = "Goramina";

// "ab" <-> point number 1..361 (column a, row b from the top-left); 0 for anything else.
int PointFromSgf(std::string_view value);
std::string SgfFromPoint(int point);

}  // namespace goramina
