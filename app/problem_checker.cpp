#include "app/problem_checker.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "app/data_module.h"

namespace goramina {
namespace {

constexpr int kSide = 19;
constexpr int kPoints = kSide * kSide;
constexpr std::string_view kColumns = "ABCDEFGHJKLMNOPQRST";
// Alternative first moves and better replies are looked for this far (in rows and columns)
// from the goal's stones and the stored first moves: a move further off rarely matters.
constexpr int kSearchReach = 2;
// Longest correct line (in moves) of a life-and-death problem GNU Go reads reliably, and of
// one it reads fairly well; beyond, its verdicts are only hints.
constexpr std::size_t kEasyLine = 3;
constexpr std::size_t kFairLine = 7;
// The label of the set-up's end, which the first moves continue.
constexpr int kSetupLabel = 1;

int ColumnOf(int point) {
  return (point - 1) / kSide;
}
int RowOf(int point) {
  return (point - 1) % kSide;
}
int PointAt(int column, int row) {
  return kSide * column + row + 1;
}

const char* GtpColour(int colour) {
  return colour == kBlack ? "black" : "white";
}
std::string ColourName(int colour) {
  return colour == kBlack ? "黒" : "白";
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::stringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// A reading's answer: GNU Go's result code (0 fails, 1 succeeds, 2 and 3 succeed through ko)
// and the move it found.
struct TReading {
  int code = 0;
  int move = 0;
  bool Ko() const { return code == 2 || code == 3; }
};

TReading ParseReading(const std::string& answer) {
  const std::vector<std::string> words = Words(answer);
  TReading reading;
  if (!words.empty()) reading.code = std::atoi(words[0].c_str());
  if (words.size() > 1) reading.move = PointOfCoordinate(words[1]);
  return reading;
}

enum class TOutcome { kReached, kNotReached, kKo };

std::string ConfidenceName(TConfidence c) {
  switch (c) {
    case TConfidence::kHigh:
      return "高";
    case TConfidence::kMedium:
      return "中";
    case TConfidence::kLow:
      return "低";
  }
  return "";
}

std::string TargetNames(const TGoal& goal) {
  const int owner = goal.kind == TGoalKind::kLive ? goal.mover : 3 - goal.mover;
  std::string names;
  for (int target : goal.targets) {
    if (!names.empty()) names += "・";
    names += MoveName({owner, target});
  }
  return names;
}

std::string GoalText(const TGoal& goal) {
  switch (goal.kind) {
    case TGoalKind::kCapture:
      return TargetNames(goal) + " の石を取る";
    case TGoalKind::kKill:
      return TargetNames(goal) + " の石を殺す";
    case TGoalKind::kLive:
      return TargetNames(goal) + " の石を活かす";
    case TGoalKind::kUnknown:
      break;
  }
  return "不明";
}

}  // namespace

std::string BoardCoordinate(int point) {
  if (point < 1 || point > kPoints) return "?";
  return std::string(1, kColumns[ColumnOf(point)]) + std::to_string(kSide - RowOf(point));
}

int PointOfCoordinate(std::string_view coordinate) {
  if (coordinate.size() < 2 || coordinate.size() > 3) return 0;
  const std::size_t column =
      kColumns.find(static_cast<char>(std::toupper(static_cast<unsigned char>(coordinate[0]))));
  if (column == std::string_view::npos) return 0;
  int number = 0;
  for (char c : coordinate.substr(1)) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
  }
  if (number < 1 || number > kSide || coordinate[1] == '0') return 0;
  return PointAt(static_cast<int>(column), kSide - number);
}

std::string MoveName(const TCheckedMove& move) {
  return ColourName(move.colour) + " " + BoardCoordinate(move.point) + "（" +
         std::to_string(move.point) + "）";
}

bool IsUnsound(const TProblemReport& report) {
  return std::any_of(report.findings.begin(), report.findings.end(),
                     [](const TFinding& f) { return f.confidence != TConfidence::kLow; });
}

std::string FormatReport(const TProblemReport& report) {
  std::string text = "問題 " + std::to_string(report.problem) + "  目的: " + GoalText(report.goal);
  if (report.ko) text += "（コウを含む）";
  text += "\n";
  if (report.findings.empty()) text += "  問題なし\n";
  for (const TFinding& f : report.findings)
    text += "  [確度 " + ConfidenceName(f.confidence) + "] " + f.text + "\n";
  return text;
}

// ---------------------------------------------------------------------------------------------
// Reading the stored rows

std::vector<int> StoredProblemNumbers(TDataModule1& module) {
  module.OpenProblemList(kRegisteredProblems);
  std::vector<int> numbers;
  for (module.KuraQuery1.First(); !module.KuraQuery1.Eof(); module.KuraQuery1.Next())
    numbers.push_back(module.KuraQuery1.Fields(mondai::kHNB).AsInteger());
  return numbers;
}

TCheckedProblem ReadStoredProblem(TDataModule1& module, int problem) {
  TCheckedProblem stored;
  stored.number = problem;
  module.OpenSequences(problem);
  kura::TKuraQuery& q = module.KuraQuery2;
  bool in_setup = true;
  TCheckedSequence* open = nullptr;
  for (q.First(); !q.Eof(); q.Next()) {
    const int tes = q.Fields(tejun::kTES).AsInteger();
    const int col = q.Fields(tejun::kCOL).AsInteger();
    const int pst = q.Fields(tejun::kPST).AsInteger();
    const int bfr = q.Fields(tejun::kBFR).AsInteger();
    const int bto = q.Fields(tejun::kBTO).AsInteger();
    const TCheckedMove move{std::abs(col), pst};
    if (in_setup && tes == 0) {
      stored.setup.push_back(move);
      if (bfr != 0) in_setup = false;
      continue;
    }
    in_setup = false;
    if (bto != 0 || open == nullptr) {
      stored.sequences.push_back({bto, 0, col < 0, {}});
      open = &stored.sequences.back();
    }
    open->moves.push_back(move);
    if (bfr != 0) {
      open->label = bfr;
      open = nullptr;
    }
  }
  return stored;
}

// ---------------------------------------------------------------------------------------------
// One problem's check

class TProblemChecker::TRun {
 public:
  TRun(TGtpClient& engine, const TCheckedProblem& problem) : engine_(engine), problem_(problem) {
    report_.problem = problem.number;
  }

  TProblemReport Check() {
    engine_.Ask("boardsize 19");
    if (!FindMover()) {
      // Not a matter of reading: the trainer has nothing to accept.
      Add(TFindingKind::kGoalUnknown, TConfidence::kHigh, {}, "正解手順が登録されていません");
      return report_;
    }
    CollectCorrectLines(kSetupLabel, {});
    FindGoal();
    if (report_.goal.kind == TGoalKind::kUnknown) {
      Add(TFindingKind::kGoalUnknown, TConfidence::kLow, {},
          "正解手順から目的（取る石・殺す石・活きる石）を判定できません");
      return report_;
    }
    CheckNotReachedWithoutMove();
    WalkTree(kSetupLabel, {});
    LookForUnstoredSolutions();
    return report_;
  }

 private:
  // --- The engine's board ----------------------------------------------------------------------
  // Sets up the problem and plays `moves`; answers the first move the engine refuses, or
  // nullopt when all were played.
  std::optional<TCheckedMove> SetPosition(const std::vector<TCheckedMove>& moves) {
    engine_.Ask("clear_board");
    for (const TCheckedMove& m : problem_.setup)
      if (!Play(m)) return m;
    for (const TCheckedMove& m : moves)
      if (!Play(m)) return m;
    return std::nullopt;
  }

  bool Play(const TCheckedMove& m) {
    return engine_.Send(std::string("play ") + GtpColour(m.colour) + " " + BoardCoordinate(m.point))
        .ok;
  }

  void Undo() { engine_.Ask("undo"); }

  std::set<int> StonesOf(int colour) {
    std::set<int> points;
    for (const std::string& v : Words(engine_.Ask(std::string("list_stones ") + GtpColour(colour))))
      points.insert(PointOfCoordinate(v));
    return points;
  }

  std::vector<int> PointsOfAnswer(const std::string& command) {
    std::vector<int> points;
    for (const std::string& v : Words(engine_.Ask(command))) points.push_back(PointOfCoordinate(v));
    return points;
  }

  TReading Read(const std::string& command, const std::vector<int>& targets) {
    std::string line = command;
    for (int t : targets) {
      line += ' ';
      line += BoardCoordinate(t);
    }
    return ParseReading(engine_.Ask(line));
  }

  // --- The goal ----------------------------------------------------------------------------
  bool FindMover() {
    for (const TCheckedSequence& s : problem_.sequences) {
      if (s.parent == kSetupLabel && !s.wrong && !s.moves.empty()) {
        report_.goal.mover = s.moves[0].colour;
        return true;
      }
    }
    return false;
  }
  int Mover() const { return report_.goal.mover; }
  int Defender() const { return 3 - report_.goal.mover; }

  void CollectCorrectLines(int label, const std::vector<TCheckedMove>& prefix) {
    bool continued = false;
    for (const TCheckedSequence& s : problem_.sequences) {
      if (s.parent != label || s.wrong || s.moves.empty()) continue;
      continued = true;
      std::vector<TCheckedMove> line = prefix;
      line.insert(line.end(), s.moves.begin(), s.moves.end());
      if (s.label != 0 && s.label != label) CollectCorrectLines(s.label, line);
    }
    if (!continued && !prefix.empty()) lines_.push_back(prefix);
  }

  // One point of each set-up string of `colour`, in set-up order, with the string it stands for.
  std::map<int, int> SetupStrings(int colour) {
    std::map<int, int> representative;  // stone -> first stone of its string
    SetPosition({});
    for (const TCheckedMove& m : problem_.setup) {
      if (m.colour != colour || representative.count(m.point)) continue;
      for (int p : PointsOfAnswer("worm_stones " + BoardCoordinate(m.point)))
        representative.emplace(p, m.point);
    }
    return representative;
  }

  void FindGoal() {
    TGoal& goal = report_.goal;
    const std::map<int, int> defender_strings = SetupStrings(Defender());
    for (const auto& line : lines_) {
      if (const auto refused = SetPosition(line)) {
        ReportIllegal(*refused);
        continue;
      }
      const std::set<int> left = StonesOf(Defender());
      for (const TCheckedMove& m : problem_.setup) {
        if (m.colour != Defender() || left.count(m.point)) continue;
        const int string = defender_strings.at(m.point);
        if (std::find(goal.targets.begin(), goal.targets.end(), string) == goal.targets.end())
          goal.targets.push_back(string);
      }
    }
    if (!goal.targets.empty()) {
      goal.kind = TGoalKind::kCapture;
      return;
    }
    const std::map<int, int> mover_strings = SetupStrings(Mover());
    // A group already settled at the start is the goal only when no other is: the check then
    // reports that the goal holds without a move.
    for (const bool settled_too : {false, true}) {
      if (FindStatusGoal(defender_strings, TGoalKind::kKill, "owl_defend", settled_too)) return;
      if (FindStatusGoal(mover_strings, TGoalKind::kLive, "owl_attack", settled_too)) return;
    }
  }

  // A set-up string whose group the reading `command` finds lost at the end of a correct line
  // (dead for kKill, alive for kLive); unless `settled_too`, only one not already lost at
  // the start.
  bool FindStatusGoal(const std::map<int, int>& strings, TGoalKind kind, const char* command,
                      bool settled_too) {
    std::set<int> representatives;
    for (const auto& [stone, string] : strings) representatives.insert(string);
    for (const auto& line : lines_) {
      if (SetPosition(line)) continue;
      std::vector<int> lost;
      for (int string : representatives) {
        if (!StonesOf(kind == TGoalKind::kKill ? Defender() : Mover()).count(string)) continue;
        if (Read(command, {string}).code == 0) lost.push_back(string);
      }
      for (int string : lost) {
        SetPosition({});
        if (!settled_too && Read(command, {string}).code == 0) continue;
        report_.goal.kind = kind;
        report_.goal.targets = {string};
        return true;
      }
    }
    return false;
  }

  // --- Whether the goal holds --------------------------------------------------------------
  // With the defender to move: can the defence no longer prevent the goal?
  TOutcome AfterMoverMove(int* defence = nullptr) { return GoalReading(false, defence); }

  // With the mover to move: can the mover still reach the goal?
  TOutcome WithMoverToMove() { return GoalReading(true, nullptr); }

  // Reads the goal with the mover (attack readings: reached when the move succeeds) or the
  // defender (defence readings: reached when the defence fails) to move. Gone targets decide
  // at once: captured stones reach a capture or kill and miss a life goal.
  TOutcome GoalReading(bool moverToMove, int* defence) {
    const TGoal& goal = report_.goal;
    const int owner = goal.kind == TGoalKind::kLive ? Mover() : Defender();
    const std::set<int> stones = StonesOf(owner);
    for (int t : goal.targets)
      if (!stones.count(t))
        return goal.kind == TGoalKind::kLive ? TOutcome::kNotReached : TOutcome::kReached;
    TReading r;
    switch (goal.kind) {
      case TGoalKind::kCapture:
        if (goal.targets.size() == 1) {
          r = Read(moverToMove ? "attack" : "defend", goal.targets);
        } else {
          r = Read(moverToMove ? "attack_either" : "defend_both",
                   {goal.targets[0], goal.targets[1]});
        }
        break;
      case TGoalKind::kKill:
        r = Read(moverToMove ? "owl_attack" : "owl_defend", goal.targets);
        break;
      case TGoalKind::kLive:
        r = Read(moverToMove ? "owl_defend" : "owl_attack", goal.targets);
        break;
      case TGoalKind::kUnknown:
        return TOutcome::kNotReached;
    }
    if (defence) *defence = r.move;
    if (r.Ko()) return NoteKo();
    // A reading answers 0 when its side fails: the goal is reached when the mover's reading
    // succeeds or the defender's fails.
    const bool succeeded = r.code != 0;
    return succeeded == moverToMove ? TOutcome::kReached : TOutcome::kNotReached;
  }

  TOutcome NoteKo() {
    report_.ko = true;
    return TOutcome::kKo;
  }

  // --- The checks --------------------------------------------------------------------------
  void CheckNotReachedWithoutMove() {
    SetPosition({});
    if (AfterMoverMove() != TOutcome::kReached) return;
    goal_already_reached_ = true;
    AddConfirmedReached(TFindingKind::kGoalAlreadyReached, {},
                        "着手しなくても目的を達しています（" + ColourName(Mover()) +
                            "が手を抜いても" + GoalText(report_.goal) + "ことになります）");
  }

  void WalkTree(int label, const std::vector<TCheckedMove>& prefix) {
    for (const TCheckedSequence& s : problem_.sequences) {
      if (s.parent != label || s.moves.empty()) continue;
      if (s.wrong) {
        if (s.moves[0].colour == Mover()) CheckWrongSequence(s, prefix);
        continue;
      }
      std::vector<TCheckedMove> line = prefix;
      bool refused = false;
      for (const TCheckedMove& m : s.moves) {
        line.push_back(m);
        if (const auto bad = SetPosition(line)) {
          ReportIllegal(*bad);
          refused = true;
          break;
        }
        if (m.colour == Mover())
          CheckCorrectMove(line);
        else
          CheckReply(line);
      }
      if (!refused && s.label != 0 && s.label != label) WalkTree(s.label, line);
    }
  }

  void CheckCorrectMove(const std::vector<TCheckedMove>& line) {
    int defence = 0;
    const TOutcome outcome = AfterMoverMove(&defence);
    const std::string where = MoveNumber(line) + " " + MoveName(line.back());
    if (outcome == TOutcome::kKo) {
      Add(TFindingKind::kCorrectMoveFails, TConfidence::kLow, line,
          "正解手順の" + where + " はコウになります（無条件の正解ではありません）");
    } else if (outcome == TOutcome::kNotReached) {
      std::string text = "正解手順の" + where + " では目的を達しません";
      TConfidence confidence = Confidence();
      if (defence != 0) {
        text += "（" + MoveName({Defender(), defence}) + " と受けられます）";
        // GNU Go's own defence must hold against its own attack, or its verdict is in doubt.
        if (Play({Defender(), defence})) {
          if (WithMoverToMove() == TOutcome::kReached)
            confidence = Doubted(text, "GNU Go 自身の読みではこの受けも破れるため疑わしい");
          Undo();
        }
      }
      Add(TFindingKind::kCorrectMoveFails, confidence, line, text);
    }
  }

  // A stored reply gives up when, even with a second move in a row, the defence would be lost,
  // while a reply at the goal's stones (or one capturing a stone that holds them in) would
  // keep it going.
  void CheckReply(const std::vector<TCheckedMove>& line) {
    if (AfterMoverMove() != TOutcome::kReached) return;
    std::vector<TCheckedMove> before(line.begin(), line.end() - 1);
    SetPosition(before);
    for (int point : ResistancePoints()) {
      if (point == line.back().point || !Play({Defender(), point})) continue;
      const TOutcome outcome = AfterMoverMove();
      Undo();
      if (outcome == TOutcome::kNotReached) {
        Add(TFindingKind::kReplyBlunder, Confidence(), line,
            "正解手順の" + MoveNumber(line) + " " + MoveName(line.back()) +
                " は抵抗を放棄する応手です（" + MoveName({Defender(), point}) +
                " ならまだ粘れます。以後の手順が正しいとは限りません）");
        return;
      }
    }
  }

  void CheckWrongSequence(const TCheckedSequence& s, const std::vector<TCheckedMove>& prefix) {
    std::vector<TCheckedMove> line = prefix;
    line.push_back(s.moves[0]);
    if (const auto bad = SetPosition(line)) {
      ReportIllegal(*bad);
      return;
    }
    const TOutcome outcome = AfterMoverMove();
    if (outcome == TOutcome::kReached) {
      AddConfirmedReached(TFindingKind::kWrongMoveWorks, line,
                          "失敗として登録された " + MoveName(s.moves[0]) + " でも目的を達します");
      return;
    }
    if (s.moves.size() < 2) return;
    line.push_back(s.moves[1]);
    if (const auto bad = SetPosition(line)) {
      ReportIllegal(*bad);
      return;
    }
    if (WithMoverToMove() == TOutcome::kReached)
      Add(TFindingKind::kRefutationFails, Confidence(), line,
          "失敗手順 " + MoveName(s.moves[0]) + " → " + MoveName(s.moves[1]) + " のあとも" +
              ColourName(Mover()) + "は目的を達します（登録された応手では咎めていません）");
  }

  void LookForUnstoredSolutions() {
    if (goal_already_reached_) return;  // every move would "work"
    std::set<int> stored;
    for (const TCheckedSequence& s : problem_.sequences)
      if (s.parent == kSetupLabel && !s.moves.empty()) stored.insert(s.moves[0].point);
    SetPosition({});
    for (int point : SearchPoints()) {
      if (stored.count(point) || !Play({Mover(), point})) continue;
      if (AfterMoverMove() == TOutcome::kReached) {
        AddConfirmedReached(
            TFindingKind::kUnstoredSolution, {{Mover(), point}},
            "登録されていない " + MoveName({Mover(), point}) +
                " でも目的を達します（別解。正しく答えても「登録手順にありません」になります）");
      }
      Undo();
    }
  }

  // GNU Go said the goal holds with the defender to move. Cross-check: after every defence
  // near the goal, its attack must still succeed. A contradiction lowers the confidence.
  void AddConfirmedReached(TFindingKind kind, std::vector<TCheckedMove> moves, std::string text) {
    TConfidence confidence = Confidence();
    for (int point : SearchPoints()) {
      if (!Play({Defender(), point})) continue;
      const TOutcome outcome = WithMoverToMove();
      Undo();
      if (outcome == TOutcome::kNotReached) {
        confidence = Doubted(text, "GNU Go 自身の読みでは " + MoveName({Defender(), point}) +
                                       " で受かるため疑わしい");
        break;
      }
    }
    Add(kind, confidence, std::move(moves), std::move(text));
  }

  // GNU Go contradicts itself: the finding is kept as a hint only.
  TConfidence Doubted(std::string& text, const std::string& note) {
    text += "。ただし" + note;
    return TConfidence::kLow;
  }

  // The goal's stones as they stand now (strings for captures, groups otherwise).
  std::set<int> GoalStones() {
    std::set<int> stones;
    const TGoal& goal = report_.goal;
    const char* command = goal.kind == TGoalKind::kCapture ? "worm_stones " : "dragon_stones ";
    const std::set<int> owner = StonesOf(goal.kind == TGoalKind::kLive ? Mover() : Defender());
    for (int t : goal.targets)
      if (owner.count(t))
        for (int p : PointsOfAnswer(command + BoardCoordinate(t))) stones.insert(p);
    return stones;
  }

  // Empty points near the goal's stones and the stored first moves, nearest first.
  std::vector<int> SearchPoints() {
    std::set<int> centres = GoalStones();
    for (const TCheckedSequence& s : problem_.sequences)
      if (s.parent == kSetupLabel && !s.moves.empty()) centres.insert(s.moves[0].point);
    const std::set<int> black = StonesOf(kBlack), white = StonesOf(kWhite);
    std::map<int, int> distance;  // point -> rows or columns to the nearest centre
    for (int c : centres) {
      for (int dc = -kSearchReach; dc <= kSearchReach; ++dc) {
        for (int dr = -kSearchReach; dr <= kSearchReach; ++dr) {
          const int column = ColumnOf(c) + dc, row = RowOf(c) + dr;
          if (column < 0 || column >= kSide || row < 0 || row >= kSide) continue;
          const int p = PointAt(column, row);
          if (black.count(p) || white.count(p)) continue;
          const int d = std::max(std::abs(dc), std::abs(dr));
          auto [it, fresh] = distance.emplace(p, d);
          if (!fresh) it->second = std::min(it->second, d);
        }
      }
    }
    std::vector<int> points;
    for (const auto& [p, d] : distance) points.push_back(p);
    std::stable_sort(points.begin(), points.end(),
                     [&](int a, int b) { return distance[a] < distance[b]; });
    return points;
  }

  // Where the defence can resist: the empty points next to the goal's stones, and the last
  // liberty of any attacking string next to them (capturing it).
  std::vector<int> ResistancePoints() {
    const std::set<int> stones = GoalStones();
    const int owner = report_.goal.kind == TGoalKind::kLive ? Mover() : Defender();
    const std::set<int> black = StonesOf(kBlack), white = StonesOf(kWhite);
    const std::set<int>& attackers = owner == kBlack ? white : black;
    std::set<int> points;
    for (int s : stones) {
      for (int n : Neighbours(s)) {
        if (!black.count(n) && !white.count(n)) {
          points.insert(n);
        } else if (attackers.count(n) &&
                   std::atoi(engine_.Ask("countlib " + BoardCoordinate(n)).c_str()) == 1) {
          for (int lib : PointsOfAnswer("findlib " + BoardCoordinate(n))) points.insert(lib);
        }
      }
    }
    return {points.begin(), points.end()};
  }

  static std::vector<int> Neighbours(int point) {
    std::vector<int> out;
    const int column = ColumnOf(point), row = RowOf(point);
    if (column > 0) out.push_back(PointAt(column - 1, row));
    if (column < kSide - 1) out.push_back(PointAt(column + 1, row));
    if (row > 0) out.push_back(PointAt(column, row - 1));
    if (row < kSide - 1) out.push_back(PointAt(column, row + 1));
    return out;
  }

  // --- Findings ----------------------------------------------------------------------------
  // How far GNU Go's verdict on this problem can be trusted.
  TConfidence Confidence() const {
    if (report_.goal.kind == TGoalKind::kCapture) return TConfidence::kHigh;
    std::size_t longest = 0;
    for (const auto& line : lines_) longest = std::max(longest, line.size());
    if (longest <= kEasyLine) return TConfidence::kHigh;
    return longest <= kFairLine ? TConfidence::kMedium : TConfidence::kLow;
  }

  std::string MoveNumber(const std::vector<TCheckedMove>& line) const {
    return std::to_string(line.size()) + "手目";
  }

  void ReportIllegal(const TCheckedMove& move) {
    for (const TFinding& f : report_.findings)
      if (f.kind == TFindingKind::kIllegalMove && f.moves == std::vector<TCheckedMove>{move})
        return;
    Add(TFindingKind::kIllegalMove, TConfidence::kHigh, {move},
        "登録された " + MoveName(move) + " は打てない手です（石のある点か着手禁止点）");
  }

  void Add(TFindingKind kind, TConfidence confidence, std::vector<TCheckedMove> moves,
           std::string text) {
    report_.findings.push_back({kind, confidence, std::move(moves), std::move(text)});
  }

  TGtpClient& engine_;
  const TCheckedProblem& problem_;
  TProblemReport report_;
  std::vector<std::vector<TCheckedMove>> lines_;  // every correct line from the set-up
  bool goal_already_reached_ = false;
};

TProblemChecker::TProblemChecker(TGtpClient& engine) : engine_(engine) {}

TProblemReport TProblemChecker::Check(const TCheckedProblem& problem) {
  return TRun(engine_, problem).Check();
}

// ---------------------------------------------------------------------------------------------

std::vector<TCheckedProblem> ReadStoredProblems(TDataModule1& module, std::optional<int> only) {
  std::vector<TCheckedProblem> problems;
  for (int number : StoredProblemNumbers(module))
    if (!only || number == *only) problems.push_back(ReadStoredProblem(module, number));
  return problems;
}

namespace {

TProblemReport EngineFailureReport(int problem, const EGtpError& e) {
  TProblemReport failed;
  failed.problem = problem;
  failed.findings.push_back({TFindingKind::kEngineFailure,
                             TConfidence::kMedium,
                             {},
                             std::string("検証できません: ") + e.what()});
  return failed;
}

}  // namespace

std::vector<TProblemReport> CheckProblems(const std::vector<TCheckedProblem>& problems,
                                          const TEngineStarter& start_engine,
                                          const TCheckProgress& progress) {
  const int total = static_cast<int>(problems.size());
  std::vector<TProblemReport> reports;
  std::unique_ptr<TGtpClient> engine = start_engine();
  for (const TCheckedProblem& problem : problems) {
    if (progress && !progress(static_cast<int>(reports.size()), total)) return reports;
    try {
      if (!engine) engine = start_engine();
      reports.push_back(TProblemChecker(*engine).Check(problem));
    } catch (const EGtpError& e) {
      if (e.Kind() == EGtpError::TKind::kMissing) throw;
      reports.push_back(EngineFailureReport(problem.number, e));
      engine.reset();
    }
  }
  if (progress) progress(total, total);
  return reports;
}

std::vector<TProblemReport> CheckStoredProblems(TDataModule1& module, std::optional<int> only,
                                                const TEngineStarter& start_engine,
                                                const TCheckProgress& progress) {
  return CheckProblems(ReadStoredProblems(module, only), start_engine, progress);
}

TEngineStarter GnuGoStarter(std::chrono::milliseconds timeout) {
  return [timeout] {
    const std::string program = FindGnuGo();
    return std::make_unique<TGtpClient>(GnuGoCommandLine(program.empty() ? "gnugo" : program),
                                        timeout);
  };
}

}  // namespace goramina
