#include "app/exchange/sgf_problem.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <set>

#include "app/common/problem_limits.h"
#include "app/exchange/sgf_reader.h"
#include "app/go/go_position.h"

namespace goramina {
namespace {

constexpr int kSgfBoardSize = 19;
constexpr int kSetUpStart = 9999;  // BTO of the set-up's first row; never a label
constexpr int kSetUpLabel = 1;     // BFR of the set-up's last row
// Labels run 2, 3, ... and must stay below the set-up's start mark.
constexpr int kMaxSequences = kSetUpStart - 2;
constexpr int kBlack = 1, kWhite = 2;

constexpr const char* kRightWord = "RIGHT";
// Marks a node whose comment got the RIGHT line from the export, so that import takes it off
// again and only there.
constexpr const char* kAddedRightMark = "GORIGHT";
// The set-up's stones in row order, where AB and AW alone would lose it.
constexpr const char* kSetUpOrderMark = "GOSETUPORDER";

std::optional<int> ParseInt(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

const char* ColourName(int colour) {
  return colour == kBlack ? "黒" : "白";
}

// --- Marks in comments -----------------------------------------------------------------------
//
// Problem sites write the verdict of a line into the comment of its last node: RIGHT (or
// CORRECT) for a correct line, WRONG (or INCORRECT) for a refutation, usually at the very end,
// often glued to the text before it ("Yes, that lives.RIGHT", "sekiRIGHT"). A mark is read
//   - at the end of the comment (after trailing blanks and "!", "."), when the letter before it
//     is not an upper-case one ("sekiRIGHT" is a mark, "BRIGHT" and "INCORRECT" are not
//     RIGHT / CORRECT), or
//   - anywhere as a word of its own (no letter touching it on either side).
// The Japanese words 正解 (not the end of 不正解), 不正解 and 失敗 count anywhere; they are
// ordinary words of a Japanese comment and stay in it, while the English marks are taken out of the
// stored comment (the tree holds the verdict).

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsUpper(char c) {
  return c >= 'A' && c <= 'Z';
}

struct TMarkWord {
  std::string_view word;
  bool correct;
};
// INCORRECT before CORRECT: the longer word wins where both would fit.
constexpr TMarkWord kMarkWords[] = {
    {"INCORRECT", false}, {"CORRECT", true}, {"WRONG", false}, {kRightWord, true}};

struct TMarkFound {
  std::size_t at = 0, size = 0;
  bool correct = false;
  bool glued = false;  // a letter right before it
};

// Where the text ends once blanks and closing punctuation are set aside.
std::size_t MarkEnd(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\n' || text[end - 1] == '\t' ||
                     text[end - 1] == '\r' || text[end - 1] == '!' || text[end - 1] == '.'))
    --end;
  return end;
}

// The first English mark of the comment, as read above.
std::optional<TMarkFound> FindMark(std::string_view text) {
  const std::size_t end = MarkEnd(text);
  for (const TMarkWord& m : kMarkWords) {
    if (end < m.word.size() || text.substr(end - m.word.size(), m.word.size()) != m.word) continue;
    const std::size_t at = end - m.word.size();
    if (at > 0 && IsUpper(text[at - 1])) continue;
    return TMarkFound{at, m.word.size(), m.correct, at > 0 && IsAsciiLetter(text[at - 1])};
  }
  for (const TMarkWord& m : kMarkWords) {
    for (std::size_t at = text.find(m.word); at != std::string_view::npos;
         at = text.find(m.word, at + 1)) {
      const bool before = at > 0 && IsAsciiLetter(text[at - 1]);
      const std::size_t after = at + m.word.size();
      const bool behind = after < text.size() && IsAsciiLetter(text[after]);
      if (!before && !behind) return TMarkFound{at, m.word.size(), m.correct, false};
    }
  }
  return std::nullopt;
}

// 正解 that is not the end of 不正解.
bool HasSeikai(std::string_view text) {
  constexpr std::string_view kSeikai = "正解", kFu = "不";
  for (std::size_t at = text.find(kSeikai); at != std::string_view::npos;
       at = text.find(kSeikai, at + 1)) {
    if (at < kFu.size() || text.substr(at - kFu.size(), kFu.size()) != kFu) return true;
  }
  return false;
}

// What the marks of one comment say.
struct TCommentMarks {
  bool correct = false, wrong = false;
  bool glued = false;
  std::string rest;  // the comment without its English marks
};

// Blanks and a leading ":" left over where a mark was taken out.
std::string Tidy(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  while (!out.empty() && (out.front() == ':' || out.front() == ' ')) out.erase(0, 1);
  return out;
}

TCommentMarks ReadMarks(std::string_view comment) {
  TCommentMarks marks;
  std::string rest(comment);
  bool found = false;
  // Every English mark goes, so that what is stored carries none that a later export or
  // import would read again.
  while (const std::optional<TMarkFound> mark = FindMark(rest)) {
    (mark->correct ? marks.correct : marks.wrong) = true;
    marks.glued = marks.glued || mark->glued;
    rest.replace(mark->at, mark->size, " ");
    found = true;
  }
  marks.rest = found ? Tidy(std::move(rest)) : std::string(comment);
  if (HasSeikai(rest)) marks.correct = true;
  if (rest.find("失敗") != std::string::npos || rest.find("不正解") != std::string::npos)
    marks.wrong = true;
  return marks;
}

// A comment as the tables keep it: one line, no tabs.
std::string OneLine(std::string_view text) {
  std::string out = SgfSimpleText(text);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  std::size_t start = 0;
  while (start < out.size() && out[start] == ' ') ++start;
  return out.substr(start);
}

void Join(std::string& to, std::string_view more) {
  if (more.empty()) return;
  if (!to.empty()) to += ' ';
  to += more;
}

// --- From SGF ----------------------------------------------------------------------------------

struct TMoveNode {
  int colour = 0;  // as stored (after a swap)
  int point = 0;
  int tes = 0;
  int depth = 0;
  std::string comment;
  std::string rawComment;  // the comments of the move's node and the moveless nodes after it
  bool te = false, bm = false;
  bool endsLine = false, endCorrect = false, endWrong = false;
  std::optional<std::pair<int, int>> recorded;  // GOSEQ: first row and label
  int line = 0;
  int parent = -1;
  std::vector<int> children;
};

struct TSequence {
  std::vector<int> nodes;
  int parent = -1;  // index of the parent sequence; -1: continues the set-up
  int label = 0;
};

class TImporter {
 public:
  TImporter(const TSgfTree& tree, std::string_view title)
      : tree_(tree), root_(tree.nodes.front()), title_(title) {}

  TImportedProblem Run() {
    ReadRoot();
    nodes_.emplace_back();  // 0: the end of the set-up
    Walk(tree_, 0, true);
    if (ours_) RestoreSetUpOrder();
    if (setUp_.empty())
      throw ESgfError(root_.line, "配置された石（AB / AW）がないため問題にできません");
    FlagIllegalMoves();
    DecideCorrectness();
    BuildSequences();
    OrderSequences();
    EmitRows();
    return std::move(result_);
  }

 private:
  // --- the root
  void ReadRoot() {
    if (const std::string* size = root_.First("SZ")) {
      const std::string text = *size;
      const std::size_t colon = text.find(':');
      const auto columns = ParseInt(text.substr(0, colon));
      const auto rows = colon == std::string::npos ? columns : ParseInt(text.substr(colon + 1));
      if (!columns || !rows)
        throw ESgfError(root_.line, "盤の大きさ SZ[" + text + "] が読めません");
      if (*columns != kSgfBoardSize || *rows != kSgfBoardSize)
        throw ESgfError(root_.line,
                        "盤の大きさ SZ[" + text + "] には対応していません（19路盤のみ）");
    }
    if (const std::string* app = root_.First("AP")) ours_ = app->rfind(kApplicationId, 0) == 0;
    TStoredProblem& p = result_.problem;
    if (!ours_)
      if (const std::string* name = root_.First("GN")) Join(p.CMT, OneLine(*name));
    if (const std::string* comment = root_.First("C")) Join(p.CMT, OneLine(*comment));
    // A list row needs something to show: a file without a title is named after its file.
    if (p.CMT.empty() && !ours_) p.CMT = OneLine(title_);
    if (const std::string* v = root_.First("GOMAJOR")) p.KB1 = OneLine(*v);
    if (const std::string* v = root_.First("GOMINOR")) p.KB2 = OneLine(*v);
    if (const std::string* v = root_.First("GOMARK")) p.MRK = OneLine(*v);
    if (const std::string* v = root_.First("GOHINT")) p.HNT = OneLine(*v);
    for (const std::string& value : root_.Values("GOSETUPC")) {
      const std::size_t colon = value.find(':');
      if (colon == std::string::npos) continue;
      if (const auto row = ParseInt(value.substr(0, colon)); row && *row > 0)
        setUpComments_[*row] = OneLine(value.substr(colon + 1));
    }
    swap_ = FirstColour() == kWhite;
    result_.swapped = swap_;
    if (swap_) Join(p.CMT, std::string("（") + kSwappedNote + "）");
  }

  // The side to move: PL, else the colour of the first move of the main line.
  int FirstColour() const {
    if (const std::string* player = root_.First("PL")) {
      if (*player == "W" || *player == "w" || *player == "2") return kWhite;
      if (*player == "B" || *player == "b" || *player == "1") return kBlack;
    }
    for (const TSgfTree* t = &tree_; t != nullptr;
         t = t->variations.empty() ? nullptr : t->variations.front().get()) {
      for (const TSgfNode& node : t->nodes) {
        if (node.Has("B")) return kBlack;
        if (node.Has("W")) return kWhite;
      }
    }
    return kBlack;
  }

  int Stored(int colour) const { return swap_ ? 3 - colour : colour; }

  // --- set-up
  void PlaceSetUp(int point, int colour) {
    std::erase_if(setUp_, [point](const auto& s) { return s.first == point; });
    if (colour != 0) setUp_.emplace_back(point, colour);
  }

  std::vector<int> SetUpPoints(const std::string& value, int line) const {
    const std::size_t colon = value.find(':');
    if (colon == std::string::npos) {
      const int point = PointFromSgf(value);
      if (point == 0) throw ESgfError(line, "配置の座標「" + value + "」は19路盤の外です");
      return {point};
    }
    const int from = PointFromSgf(value.substr(0, colon));
    const int to = PointFromSgf(value.substr(colon + 1));
    if (from == 0 || to == 0) throw ESgfError(line, "配置の範囲「" + value + "」が読めません");
    const int c0 = (from - 1) / kSgfBoardSize, r0 = (from - 1) % kSgfBoardSize;
    const int c1 = (to - 1) / kSgfBoardSize, r1 = (to - 1) % kSgfBoardSize;
    std::vector<int> points;
    for (int c = std::min(c0, c1); c <= std::max(c0, c1); ++c)
      for (int r = std::min(r0, r1); r <= std::max(r0, r1); ++r)
        points.push_back(c * kSgfBoardSize + r + 1);
    return points;
  }

  void ApplySetUp(const TSgfNode& node) {
    for (const TSgfProperty& property : node.properties) {
      int colour = -1;
      if (property.id == "AB") colour = Stored(kBlack);
      if (property.id == "AW") colour = Stored(kWhite);
      if (property.id == "AE") colour = 0;
      if (colour < 0) continue;
      for (const std::string& value : property.values) {
        if (value.empty()) continue;
        for (int point : SetUpPoints(value, node.line)) PlaceSetUp(point, colour);
      }
    }
  }

  // Our own files list the set-up in row order when AB and AW alone do not give it.
  void RestoreSetUpOrder() {
    const std::vector<std::string> order = root_.Values(kSetUpOrderMark);
    if (order.empty() || order.size() != setUp_.size()) return;
    std::vector<std::pair<int, int>> sorted;
    for (const std::string& value : order) {
      const int point = PointFromSgf(value);
      auto it = std::find_if(setUp_.begin(), setUp_.end(),
                             [point](const auto& s) { return s.first == point; });
      if (it == setUp_.end()) return;
      sorted.push_back(*it);
    }
    std::set<int> distinct;
    for (const auto& s : sorted) distinct.insert(s.first);
    if (distinct.size() == setUp_.size()) setUp_ = std::move(sorted);
  }

  // --- legality
  // Every line is replayed from the set-up by the rules; a move they would refuse (on a stone,
  // a suicide, the immediate retake of a ko) is named in a warning. The problem is imported as
  // the file has it: the trainer plays stored moves as stored.
  void FlagIllegalMoves() {
    TGoPosition position;
    for (const auto& [point, colour] : setUp_) position.AddStone(ColourOfCode(colour), point);
    FlagIllegalMovesBelow(0, position);
  }

  void FlagIllegalMovesBelow(int parent, TGoPosition& position) {
    for (int child : nodes_[static_cast<std::size_t>(parent)].children) {
      const TMoveNode& move = nodes_[static_cast<std::size_t>(child)];
      const TLegality verdict = position.PlayAsStored(ColourOfCode(move.colour), move.point);
      if (verdict != TLegality::kLegal)
        result_.warnings.push_back(std::to_string(move.line) + " 行目の手 " +
                                   SgfFromPoint(move.point) + " は打てない手です（" +
                                   LegalityReason(verdict) + "）。記録のまま取り込みました");
      FlagIllegalMovesBelow(child, position);
      position.TakeBack();
    }
  }

  // --- lines
  static bool HasSetUp(const TSgfNode& node) {
    return node.Has("AB") || node.Has("AW") || node.Has("AE");
  }

  // Walks one tree of the file from the move node `current`; `inSetUp` while no move has been
  // played on the way from the root and no line has branched.
  void Walk(const TSgfTree& tree, int current, bool inSetUp) {
    for (const TSgfNode& node : tree.nodes) {
      const bool isRoot = &node == &root_;
      if (HasSetUp(node)) {
        if (inSetUp)
          ApplySetUp(node);
        else
          // Stones placed inside a line illustrate a variation; they set nothing up. The
          // line's moves are kept.
          result_.warnings.push_back(std::to_string(node.line) +
                                     " 行目の手順の中の石の配置（AB / AW / AE）は読み飛ばしました");
      }
      const std::string* black = node.First("B");
      const std::string* white = node.First("W");
      if (black != nullptr && white != nullptr)
        throw ESgfError(node.line, "一つの節に黒と白の手があります");
      if (black == nullptr && white == nullptr) {
        if (!isRoot) AddLooseComment(current, node);
        continue;
      }
      inSetUp = false;
      const int colour = Stored(black != nullptr ? kBlack : kWhite);
      const std::string& value = black != nullptr ? *black : *white;
      if (value.empty() || value == "tt") {
        CutAtPass(current, colour, tree, &node);
        return;
      }
      current = AddMove(current, colour, value, node);
    }
    if (tree.variations.empty()) {
      EndLine(current);
      return;
    }
    for (const auto& variation : tree.variations)
      Walk(*variation, current, inSetUp && tree.variations.size() == 1);
  }

  void AddLooseComment(int current, const TSgfNode& node) {
    const std::string* comment = node.First("C");
    if (comment == nullptr) return;
    if (current == 0) {
      Join(result_.problem.CMT, OneLine(*comment));
      return;
    }
    TMoveNode& move = nodes_[static_cast<std::size_t>(current)];
    Join(move.comment, Comment(node));
    Join(move.rawComment, SgfText(*comment));
  }

  // A move comment; in our own files the RIGHT line the export added (and marked with
  // GORIGHT) goes.
  std::string Comment(const TSgfNode& node) const {
    const std::string* raw = node.First("C");
    if (raw == nullptr) return {};
    std::string text = SgfText(*raw);
    if (ours_ && node.Has(kAddedRightMark)) {
      const std::string suffix = std::string("\n") + kRightWord;
      if (text == kRightWord)
        text.clear();
      else if (text.size() > suffix.size() && text.ends_with(suffix))
        text.resize(text.size() - suffix.size());
    }
    return OneLine(text);
  }

  int AddMove(int parent, int colour, const std::string& value, const TSgfNode& node) {
    const int point = PointFromSgf(value);
    if (point == 0) throw ESgfError(node.line, "手の座標「" + value + "」は19路盤の外です");
    const TMoveNode& from = nodes_[static_cast<std::size_t>(parent)];
    if (from.depth + 1 > kMaxHistory)
      throw ESgfError(
          node.line, "手順が長すぎます（一つの手順は " + std::to_string(kMaxHistory) + " 手まで）");
    if (static_cast<int>(from.children.size()) >= kMaxContinuations)
      throw ESgfError(node.line, "一つの局面からの変化が " + std::to_string(kMaxContinuations) +
                                     " を超えています");
    TMoveNode move;
    move.colour = colour;
    move.point = point;
    move.depth = from.depth + 1;
    move.tes = from.tes + 1;
    if (const std::string* number = node.First("MN"))
      if (const auto mn = ParseInt(*number); mn && *mn > 0 && *mn <= kSetUpStart) move.tes = *mn;
    move.comment = Comment(node);
    if (const std::string* raw = node.First("C")) move.rawComment = SgfText(*raw);
    move.te = node.Has("TE");
    move.bm = node.Has("BM");
    if (const std::string* seq = node.First("GOSEQ"); seq != nullptr && ours_) {
      const std::size_t colon = seq->find(':');
      const auto tnb = ParseInt(seq->substr(0, colon));
      const auto label =
          colon == std::string::npos ? std::nullopt : ParseInt(seq->substr(colon + 1));
      if (tnb && label) move.recorded = std::make_pair(*tnb, *label);
    }
    move.line = node.line;
    move.parent = parent;
    const int index = static_cast<int>(nodes_.size());
    nodes_[static_cast<std::size_t>(parent)].children.push_back(index);
    nodes_.push_back(std::move(move));
    return index;
  }

  // The verdict marks of a line's last comment. Other programs' marks leave the stored
  // comment; our own files keep their comments as typed (the mark the export added is
  // already gone).
  void EndLine(int current) {
    if (current == 0) return;  // a line without moves
    TMoveNode& end = nodes_[static_cast<std::size_t>(current)];
    end.endsLine = true;
    const TCommentMarks marks = ReadMarks(end.rawComment);
    end.endCorrect = end.endCorrect || marks.correct;
    end.endWrong = end.endWrong || marks.wrong;
    commentMarks_ = commentMarks_ || marks.correct || marks.wrong;
    gluedMark_ = gluedMark_ || marks.glued;
    if (!ours_) end.comment = OneLine(ReadMarks(end.comment).rest);
  }

  // Marks of the lines below a pass: whether one of them is correct, whether any is marked.
  void MarksBelow(const TSgfTree& tree, const TSgfNode* from, bool& correct, bool& marked) {
    bool started = from == nullptr;
    const TSgfNode* last = nullptr;
    for (const TSgfNode& node : tree.nodes) {
      if (&node == from) started = true;
      if (!started) continue;
      last = &node;
      if (node.Has("TE")) correct = marked = moveMarks_ = true;
      if (node.Has("BM")) marked = moveMarks_ = true;
    }
    if (tree.variations.empty() && last != nullptr) {
      if (const std::string* comment = last->First("C")) {
        const TCommentMarks marks = ReadMarks(SgfText(*comment));
        if (marks.correct) correct = marked = true;
        if (marks.wrong) marked = true;
        commentMarks_ = commentMarks_ || marks.correct || marks.wrong;
      }
    }
    for (const auto& variation : tree.variations) MarksBelow(*variation, nullptr, correct, marked);
  }

  void CutAtPass(int current, int colour, const TSgfTree& tree, const TSgfNode* pass) {
    if (current == 0) {
      result_.notes.push_back("最初の手がパスの変化（" + std::to_string(pass->line) +
                              " 行目）は取り込みませんでした");
      return;
    }
    TMoveNode& end = nodes_[static_cast<std::size_t>(current)];
    Join(end.comment,
         std::string("（この後") + ColourName(colour) + "はパス。続きは取り込んでいません）");
    bool correct = false, marked = false;
    MarksBelow(tree, pass, correct, marked);
    end.endsLine = true;
    end.endCorrect = end.endCorrect || correct;
    end.endWrong = end.endWrong || (marked && !correct);
    result_.notes.push_back(std::to_string(pass->line) +
                            " 行目のパスから先の手順は取り込みませんでした");
  }

  // --- correct and wrong
  void DecideCorrectness() {
    const std::size_t n = nodes_.size();
    bool marked = commentMarks_;
    for (const TMoveNode& m : nodes_) {
      moveMarks_ = moveMarks_ || m.te || m.bm;
      marked = marked || m.te || m.bm || m.endCorrect || m.endWrong;
    }
    result_.rule = !marked         ? TCorrectnessRule::MainLine
                   : !moveMarks_   ? TCorrectnessRule::CommentMarks
                   : commentMarks_ ? TCorrectnessRule::MoveAndCommentMarks
                                   : TCorrectnessRule::MoveMarks;
    if (gluedMark_ && !ours_)
      result_.notes.push_back("語に続けて書かれた印（…RIGHT など）を正誤の印として読みました");
    correct_.assign(n, false);
    if (!marked) {
      // The main line: the first continuation at every point from the set-up on.
      for (int i = 0; i >= 0;) {
        correct_[static_cast<std::size_t>(i)] = true;
        const TMoveNode& m = nodes_[static_cast<std::size_t>(i)];
        i = m.children.empty() ? -1 : m.children.front();
      }
      return;
    }
    // Children are created after their parent: walking backwards visits children first.
    std::vector<bool> below(n, false);
    for (std::size_t i = n; i-- > 1;) {
      const TMoveNode& m = nodes_[i];
      bool any = m.te || (m.endsLine && m.endCorrect);
      for (int c : m.children) any = any || below[static_cast<std::size_t>(c)];
      below[i] = any;
    }
    std::vector<bool> teAbove(n, false);
    for (std::size_t i = 1; i < n; ++i) {
      const TMoveNode& m = nodes_[i];
      teAbove[i] = m.te || teAbove[static_cast<std::size_t>(m.parent)];
      correct_[i] = teAbove[i] || below[i];
    }
    correct_[0] = true;
  }

  // --- sequences
  bool StartsSequence(int index) const {
    const TMoveNode& m = nodes_[static_cast<std::size_t>(index)];
    const TMoveNode& parent = nodes_[static_cast<std::size_t>(m.parent)];
    if (m.parent == 0 || parent.children.size() != 1 || m.recorded.has_value()) return true;
    // Our own files mark every sequence start; other files split where correct lines end and
    // at a bad move (BM) on a wrong line, which starts a wrong sequence of its own.
    if (ours_) return false;
    const bool correct = correct_[static_cast<std::size_t>(index)];
    return correct != correct_[static_cast<std::size_t>(m.parent)] || (m.bm && !correct);
  }

  void BuildSequences() {
    std::vector<int> sequenceOf(nodes_.size(), -1);
    for (int i = 1; i < static_cast<int>(nodes_.size()); ++i) {
      if (!StartsSequence(i)) continue;
      if (static_cast<int>(sequences_.size()) >= kMaxSequences)
        throw ESgfError(nodes_[static_cast<std::size_t>(i)].line, "変化が多すぎます");
      TSequence sequence;
      const int parentNode = nodes_[static_cast<std::size_t>(i)].parent;
      sequence.parent = parentNode == 0 ? -1 : sequenceOf[static_cast<std::size_t>(parentNode)];
      for (int at = i;;) {
        sequence.nodes.push_back(at);
        sequenceOf[static_cast<std::size_t>(at)] = static_cast<int>(sequences_.size());
        const TMoveNode& m = nodes_[static_cast<std::size_t>(at)];
        if (m.children.size() != 1 || StartsSequence(m.children.front())) break;
        at = m.children.front();
      }
      sequences_.push_back(std::move(sequence));
    }
  }

  // Our own files record each sequence's first row and label: kept when they make a sound
  // tree, so that export and import give back the same rows. Otherwise the sequences go in
  // the order of the file and take the labels 2, 3, ...
  void OrderSequences() {
    order_.resize(sequences_.size());
    for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = static_cast<int>(i);
    for (std::size_t i = 0; i < sequences_.size(); ++i)
      sequences_[i].label = static_cast<int>(i) + 2;
    if (!ours_ || sequences_.empty()) return;
    std::set<int> labels;
    for (const TSequence& s : sequences_) {
      const auto& recorded = nodes_[static_cast<std::size_t>(s.nodes.front())].recorded;
      if (!recorded || recorded->second <= kSetUpLabel || recorded->second >= kSetUpStart ||
          !labels.insert(recorded->second).second)
        return;
    }
    std::vector<int> order = order_;
    std::stable_sort(order.begin(), order.end(),
                     [this](int a, int b) { return RecordedRow(a) < RecordedRow(b); });
    std::vector<int> position(order.size());
    for (std::size_t k = 0; k < order.size(); ++k)
      position[static_cast<std::size_t>(order[k])] = static_cast<int>(k);
    for (std::size_t i = 0; i < sequences_.size(); ++i) {
      const int parent = sequences_[i].parent;
      if (parent >= 0 && position[static_cast<std::size_t>(parent)] > position[i]) return;
    }
    order_ = order;
    for (TSequence& s : sequences_)
      s.label = nodes_[static_cast<std::size_t>(s.nodes.front())].recorded->second;
  }

  int RecordedRow(int sequence) const {
    return nodes_[static_cast<std::size_t>(
                      sequences_[static_cast<std::size_t>(sequence)].nodes.front())]
        .recorded->first;
  }

  bool IsWrongStart(const TSequence& s) const {
    const int first = s.nodes.front();
    // Our own files mark exactly the wrong sequences with BM.
    if (ours_) return nodes_[static_cast<std::size_t>(first)].bm;
    if (correct_[static_cast<std::size_t>(first)]) return false;
    if (s.parent < 0 || nodes_[static_cast<std::size_t>(first)].bm) return true;
    const int parentEnd = sequences_[static_cast<std::size_t>(s.parent)].nodes.back();
    return correct_[static_cast<std::size_t>(parentEnd)];
  }

  void EmitRows() {
    std::vector<TStoredRow>& rows = result_.problem.rows;
    for (std::size_t i = 0; i < setUp_.size(); ++i) {
      TStoredRow row;
      row.COL = setUp_[i].second;
      row.PST = setUp_[i].first;
      row.BTO = i == 0 ? kSetUpStart : 0;
      row.BFR = i + 1 == setUp_.size() ? kSetUpLabel : 0;
      if (auto it = setUpComments_.find(static_cast<int>(i) + 1); it != setUpComments_.end())
        row.CMT = it->second;
      rows.push_back(std::move(row));
    }
    for (int index : order_) {
      const TSequence& s = sequences_[static_cast<std::size_t>(index)];
      const int from =
          s.parent < 0 ? kSetUpLabel : sequences_[static_cast<std::size_t>(s.parent)].label;
      const int sign = IsWrongStart(s) ? -1 : 1;
      for (std::size_t k = 0; k < s.nodes.size(); ++k) {
        const TMoveNode& m = nodes_[static_cast<std::size_t>(s.nodes[k])];
        TStoredRow row;
        row.TES = m.tes;
        row.COL = k == 0 ? m.colour * sign : m.colour;
        row.PST = m.point;
        row.BTO = k == 0 ? from : 0;
        row.BFR = k + 1 == s.nodes.size() ? s.label : 0;
        row.CMT = m.comment;
        rows.push_back(std::move(row));
      }
    }
  }

  const TSgfTree& tree_;
  const TSgfNode& root_;
  std::string_view title_;
  bool ours_ = false;
  bool moveMarks_ = false, commentMarks_ = false, gluedMark_ = false;
  bool swap_ = false;
  std::vector<std::pair<int, int>> setUp_;  // point, stored colour; in placing order
  std::map<int, std::string> setUpComments_;
  std::vector<TMoveNode> nodes_;
  std::vector<bool> correct_;
  std::vector<TSequence> sequences_;
  std::vector<int> order_;
  TImportedProblem result_;
};

// --- To SGF ------------------------------------------------------------------------------------

struct TStoredSequence {
  std::size_t first = 0, last = 0;  // rows
  int from = 0, label = 0;
  int parent = -1;  // index among the kept sequences; -1 for the set-up's continuations
  bool wrongPath = false;
  std::vector<int> children;
};

class TExporter {
 public:
  TExporter(const TStoredProblem& problem, std::vector<std::string>* notes)
      : problem_(problem), notes_(notes) {}

  std::unique_ptr<TSgfTree> Run() {
    auto tree = std::make_unique<TSgfTree>();
    FindSequences();
    tree->nodes.push_back(RootNode());
    AddSetUp(*tree);
    AddContinuations(*tree, setUpChildren_);
    return tree;
  }

 private:
  void Note(const std::string& text) {
    if (notes_ != nullptr) notes_->push_back(text);
  }

  static bool IsStone(const TStoredRow& row) {
    const int colour = std::abs(row.COL);
    return row.PST >= 1 && row.PST <= kSgfBoardSize * kSgfBoardSize &&
           (colour == kBlack || colour == kWhite);
  }

  void FindSequences() {
    const std::vector<TStoredRow>& rows = problem_.rows;
    std::optional<TStoredSequence> open;
    std::vector<TStoredSequence> found;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].BTO != 0) {
        if (open) Note(std::to_string(open->first + 1) + " 行目からの手順に終わりがありません");
        open = TStoredSequence{i, i, rows[i].BTO, 0, -1, false, {}};
      }
      if (!open) {
        Note(std::to_string(i + 1) + " 行目はどの手順にも属していません");
        continue;
      }
      if (rows[i].BFR != 0) {
        open->last = i;
        open->label = rows[i].BFR;
        found.push_back(*open);
        open.reset();
      }
    }
    if (open) Note(std::to_string(open->first + 1) + " 行目からの手順に終わりがありません");
    std::size_t start = 0;
    if (!found.empty() && found.front().from == kSetUpStart) {
      setUp_ = found.front();
      start = 1;
    } else {
      Note("配置の行がありません");
    }
    for (std::size_t k = start; k < found.size(); ++k) Keep(found[k]);
  }

  // Keeps a sequence under the latest kept sequence carrying its parent label.
  void Keep(TStoredSequence s) {
    const int index = static_cast<int>(kept_.size());
    if (s.from == kSetUpLabel && setUp_) {
      s.parent = -1;
      setUpChildren_.push_back(index);
    } else {
      for (int k = index - 1; k >= 0 && s.parent < 0; --k)
        if (kept_[static_cast<std::size_t>(k)].label == s.from) s.parent = k;
      if (s.parent < 0) {
        Note(std::to_string(s.first + 1) +
             " 行目からの手順は続く先の手順がないため書き出しませんでした");
        return;
      }
      kept_[static_cast<std::size_t>(s.parent)].children.push_back(index);
    }
    const bool parentWrong = s.parent >= 0 && kept_[static_cast<std::size_t>(s.parent)].wrongPath;
    s.wrongPath = parentWrong || problem_.rows[s.first].COL < 0;
    kept_.push_back(std::move(s));
  }

  TSgfNode RootNode() const {
    TSgfNode root;
    root.Add("FF", "4");
    root.Add("GM", "1");
    root.Add("SZ", std::to_string(kSgfBoardSize));
    root.Add("CA", "UTF-8");
    root.Add("AP", std::string(kApplicationId) + ":3.6");
    root.Add("PL", "B");
    if (!problem_.CMT.empty()) root.Add("C", problem_.CMT);
    if (!problem_.KB1.empty()) root.Add("GOMAJOR", problem_.KB1);
    if (!problem_.KB2.empty()) root.Add("GOMINOR", problem_.KB2);
    if (!problem_.MRK.empty()) root.Add("GOMARK", problem_.MRK);
    if (!problem_.HNT.empty()) root.Add("GOHINT", problem_.HNT);
    return root;
  }

  // The whole set-up in the root, as other programs look for it: AB with the black stones and
  // AW with the white ones, the colour of the first row first. When the rows alternate
  // colours, GOSETUPORDER lists every stone in row order, so that reading the file back gives
  // the rows in their order.
  void AddSetUp(TSgfTree& tree) {
    if (!setUp_) return;
    std::vector<std::string> setUpComments, order, black, white;
    int firstColour = 0;
    bool interleaved = false;
    for (std::size_t i = setUp_->first; i <= setUp_->last; ++i) {
      const TStoredRow& row = problem_.rows[i];
      if (!IsStone(row)) {
        Note(std::to_string(i + 1) + " 行目の配置は盤上の石ではないため書き出しませんでした");
        continue;
      }
      order.push_back(SgfFromPoint(row.PST));
      if (!row.CMT.empty()) setUpComments.push_back(std::to_string(order.size()) + ":" + row.CMT);
      const int colour = std::abs(row.COL);
      if (firstColour == 0) firstColour = colour;
      std::vector<std::string>& run = colour == kBlack ? black : white;
      // A stone of the first colour after one of the other breaks the AB-then-AW order.
      if (colour == firstColour && !(colour == kBlack ? white : black).empty()) interleaved = true;
      run.push_back(order.back());
    }
    TSgfNode& root = tree.nodes.front();
    if (firstColour == kWhite && !white.empty()) root.Add("AW", white);
    if (!black.empty()) root.Add("AB", black);
    if (firstColour != kWhite && !white.empty()) root.Add("AW", white);
    if (interleaved) root.Add(kSetUpOrderMark, std::move(order));
    if (!setUpComments.empty()) root.Add("GOSETUPC", std::move(setUpComments));
  }

  // A correct line's first move of the side to play gets TE, unless a wrong sequence hangs
  // below it: readers that take TE for the whole line beneath would read that one as correct.
  bool WrongBelow(int index) const {
    const TStoredSequence& s = kept_[static_cast<std::size_t>(index)];
    for (int child : s.children)
      if (kept_[static_cast<std::size_t>(child)].wrongPath || WrongBelow(child)) return true;
    return false;
  }

  int MoverColour() const {
    if (setUpChildren_.empty()) return kBlack;
    return std::abs(
        problem_.rows[kept_[static_cast<std::size_t>(setUpChildren_.front())].first].COL);
  }

  void AddSequenceNodes(TSgfTree& tree, int index, int& moveNumber) {
    const TStoredSequence& s = kept_[static_cast<std::size_t>(index)];
    const bool tesuji =
        !s.wrongPath && std::abs(problem_.rows[s.first].COL) == MoverColour() && !WrongBelow(index);
    for (std::size_t i = s.first; i <= s.last; ++i) {
      const TStoredRow& row = problem_.rows[i];
      if (!IsStone(row)) {
        Note(std::to_string(i + 1) + " 行目の手は盤上の点ではないため書き出しませんでした");
        continue;
      }
      TSgfNode node;
      node.Add(std::abs(row.COL) == kBlack ? "B" : "W", SgfFromPoint(row.PST));
      if (row.TES != moveNumber + 1) node.Add("MN", std::to_string(row.TES));
      moveNumber = row.TES;
      if (i == s.first) {
        node.Add("GOSEQ", std::to_string(i + 1) + ":" + std::to_string(s.label));
        if (row.COL < 0) node.Add("BM", "1");
        if (tesuji && row.COL > 0) node.Add("TE", "1");
      }
      std::string comment = row.CMT;
      // A comment that already ends in a RIGHT mark (typed so, or imported before marks were
      // taken out) is not given a second one.
      if (i == s.last && s.children.empty() && !s.wrongPath && !ReadMarks(comment).correct) {
        comment += comment.empty() ? kRightWord : std::string("\n") + kRightWord;
        node.Add(kAddedRightMark, "1");
      }
      if (!comment.empty()) node.Add("C", comment);
      tree.nodes.push_back(std::move(node));
    }
  }

  // Sequences continuing one point: a single one goes on in the same tree, several become
  // variations.
  void AddContinuations(TSgfTree& tree, const std::vector<int>& children, int moveNumber = 0) {
    TSgfTree* at = &tree;
    const std::vector<int>* next = &children;
    while (next->size() == 1) {
      const int only = next->front();
      AddSequenceNodes(*at, only, moveNumber);
      next = &kept_[static_cast<std::size_t>(only)].children;
    }
    for (int child : *next) {
      auto variation = std::make_unique<TSgfTree>();
      int number = moveNumber;
      AddSequenceNodes(*variation, child, number);
      AddContinuations(*variation, kept_[static_cast<std::size_t>(child)].children, number);
      if (variation->nodes.empty()) continue;
      at->variations.push_back(std::move(variation));
    }
  }

  const TStoredProblem& problem_;
  std::vector<std::string>* notes_;
  std::optional<TStoredSequence> setUp_;
  std::vector<TStoredSequence> kept_;
  std::vector<int> setUpChildren_;
};

}  // namespace

int PointFromSgf(std::string_view value) {
  if (value.size() != 2) return 0;
  const int column = value[0] - 'a';
  const int row = value[1] - 'a';
  if (column < 0 || column >= kSgfBoardSize || row < 0 || row >= kSgfBoardSize) return 0;
  return column * kSgfBoardSize + row + 1;
}

std::string SgfFromPoint(int point) {
  const int column = (point - 1) / kSgfBoardSize;
  const int row = (point - 1) % kSgfBoardSize;
  return {static_cast<char>('a' + column), static_cast<char>('a' + row)};
}

std::string CorrectnessRuleText(TCorrectnessRule rule) {
  switch (rule) {
    case TCorrectnessRule::MoveMarks:
      return "正解は手の印（TE・BM）で判定";
    case TCorrectnessRule::CommentMarks:
      return "正解はコメントの印（RIGHT・WRONG・正解 など）で判定";
    case TCorrectnessRule::MoveAndCommentMarks:
      return "正解は手の印（TE・BM）とコメントの印（RIGHT など）で判定";
    case TCorrectnessRule::MainLine:
      break;
  }
  return "印がないため本線を正解";
}

std::string CorrectnessRuleName(TCorrectnessRule rule) {
  switch (rule) {
    case TCorrectnessRule::MoveMarks:
      return "move-marks";
    case TCorrectnessRule::CommentMarks:
      return "comment-marks";
    case TCorrectnessRule::MoveAndCommentMarks:
      return "move-and-comment-marks";
    case TCorrectnessRule::MainLine:
      break;
  }
  return "main-line";
}

TImportedProblem ProblemFromSgf(const TSgfTree& tree, std::string_view title) {
  if (tree.nodes.empty()) throw ESgfError(tree.line, "ゲームツリーに節がありません");
  return TImporter(tree, title).Run();
}

std::unique_ptr<TSgfTree> SgfFromProblem(const TStoredProblem& problem,
                                         std::vector<std::string>* notes) {
  return TExporter(problem, notes).Run();
}

}  // namespace goramina
