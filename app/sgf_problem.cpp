#include "app/sgf_problem.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <set>

#include "app/board.h"
#include "app/main_unit.h"
#include "app/sgf_reader.h"

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

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// An upper-case word standing alone (no letter touching it on either side).
bool HasWord(std::string_view text, std::string_view word) {
  for (std::size_t at = text.find(word); at != std::string_view::npos;
       at = text.find(word, at + 1)) {
    const bool before = at > 0 && IsAsciiLetter(text[at - 1]);
    const std::size_t after = at + word.size();
    const bool behind = after < text.size() && IsAsciiLetter(text[after]);
    if (!before && !behind) return true;
  }
  return false;
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

bool SaysCorrect(std::string_view comment) {
  return HasWord(comment, kRightWord) || HasWord(comment, "CORRECT") || HasSeikai(comment);
}

bool SaysWrong(std::string_view comment) {
  return HasWord(comment, "WRONG") || HasWord(comment, "INCORRECT") ||
         comment.find("失敗") != std::string_view::npos ||
         comment.find("不正解") != std::string_view::npos;
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
  explicit TImporter(const TSgfTree& tree) : tree_(tree), root_(tree.nodes.front()) {}

  TImportedProblem Run() {
    ReadRoot();
    nodes_.emplace_back();  // 0: the end of the set-up
    Walk(tree_, 0, true);
    if (setUp_.empty())
      throw ESgfError(root_.line, "配置された石（AB / AW）がないため問題にできません");
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

  // --- lines
  static bool HasSetUp(const TSgfNode& node) {
    return node.Has("AB") || node.Has("AW") || node.Has("AE");
  }

  // Walks one tree of the file from the move node `current`; `inSetUp` while no move has been
  // played on the way from the root and no line has branched.
  void Walk(const TSgfTree& tree, int current, bool inSetUp) {
    const TSgfNode* last = nullptr;
    for (const TSgfNode& node : tree.nodes) {
      last = &node;
      const bool isRoot = &node == &root_;
      if (HasSetUp(node)) {
        if (!inSetUp)
          throw ESgfError(node.line,
                          "手の後や変化の中の石の配置（AB / AW / AE）には対応していません");
        ApplySetUp(node);
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
      EndLine(current, last);
      return;
    }
    for (const auto& variation : tree.variations)
      Walk(*variation, current, inSetUp && tree.variations.size() == 1);
  }

  void AddLooseComment(int current, const TSgfNode& node) {
    const std::string* comment = node.First("C");
    if (comment == nullptr) return;
    if (current == 0)
      Join(result_.problem.CMT, OneLine(*comment));
    else
      Join(nodes_[static_cast<std::size_t>(current)].comment, Comment(node));
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

  void EndLine(int current, const TSgfNode* last) {
    if (current == 0) return;  // a line without moves
    TMoveNode& end = nodes_[static_cast<std::size_t>(current)];
    end.endsLine = true;
    if (last == nullptr) return;
    if (const std::string* comment = last->First("C")) {
      end.endCorrect = end.endCorrect || SaysCorrect(*comment);
      end.endWrong = end.endWrong || SaysWrong(*comment);
    }
  }

  // Marks of the lines below a pass: whether one of them is correct, whether any is marked.
  void MarksBelow(const TSgfTree& tree, const TSgfNode* from, bool& correct, bool& marked) {
    bool started = from == nullptr;
    const TSgfNode* last = nullptr;
    for (const TSgfNode& node : tree.nodes) {
      if (&node == from) started = true;
      if (!started) continue;
      last = &node;
      if (node.Has("TE")) correct = marked = true;
      if (node.Has("BM")) marked = true;
    }
    if (tree.variations.empty() && last != nullptr) {
      if (const std::string* comment = last->First("C")) {
        if (SaysCorrect(*comment)) correct = marked = true;
        if (SaysWrong(*comment)) marked = true;
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
    bool marked = false;
    for (const TMoveNode& m : nodes_) marked = marked || m.te || m.bm || m.endCorrect || m.endWrong;
    result_.rule = marked ? TCorrectnessRule::Marks : TCorrectnessRule::MainLine;
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
  bool ours_ = false;
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

  // The set-up in runs of one colour, two runs to a node (AB and AW each once), so that
  // reading them back in file order gives the rows in their order.
  void AddSetUp(TSgfTree& tree) {
    if (!setUp_) return;
    std::vector<std::string> setUpComments;
    TSgfNode* node = &tree.nodes.front();
    int runs = 0;
    int lastColour = 0;
    int stone = 0;
    for (std::size_t i = setUp_->first; i <= setUp_->last; ++i) {
      const TStoredRow& row = problem_.rows[i];
      if (!IsStone(row)) {
        Note(std::to_string(i + 1) + " 行目の配置は盤上の石ではないため書き出しませんでした");
        continue;
      }
      ++stone;
      if (!row.CMT.empty()) setUpComments.push_back(std::to_string(stone) + ":" + row.CMT);
      const int colour = std::abs(row.COL);
      if (colour != lastColour) {
        if (runs == 2) {
          tree.nodes.emplace_back();
          node = &tree.nodes.back();
          runs = 0;
        }
        node->Add(colour == kBlack ? "AB" : "AW", std::vector<std::string>{});
        ++runs;
        lastColour = colour;
      }
      node->properties.back().values.push_back(SgfFromPoint(row.PST));
    }
    if (!setUpComments.empty()) tree.nodes.front().Add("GOSETUPC", std::move(setUpComments));
  }

  void AddSequenceNodes(TSgfTree& tree, int index, int& moveNumber) {
    const TStoredSequence& s = kept_[static_cast<std::size_t>(index)];
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
      }
      std::string comment = row.CMT;
      if (i == s.last && s.children.empty() && !s.wrongPath) {
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

TImportedProblem ProblemFromSgf(const TSgfTree& tree) {
  if (tree.nodes.empty()) throw ESgfError(tree.line, "ゲームツリーに節がありません");
  return TImporter(tree).Run();
}

std::unique_ptr<TSgfTree> SgfFromProblem(const TStoredProblem& problem,
                                         std::vector<std::string>* notes) {
  return TExporter(problem, notes).Run();
}

}  // namespace goramina
