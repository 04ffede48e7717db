#include "app/checker/problem_checker.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "app/collection/data_module.h"
#include "app/go/go_position.h"

namespace goramina {
namespace {

constexpr int kSide = kBoardSize;
constexpr int kPoints = kPointCount;
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

std::string TargetNames(const TGoal& goal) {
  const int owner = goal.kind == TGoalKind::kLive ? goal.mover : 3 - goal.mover;
  std::string names;
  for (int target : goal.targets) {
    if (!names.empty()) names += "・";
    names += MoveName({owner, target});
  }
  return names;
}

}  // namespace

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

std::string GoalText(const TGoal& goal) {
  std::string text;
  switch (goal.kind) {
    case TGoalKind::kCapture:
      text = TargetNames(goal) + " の石を取る";
      break;
    case TGoalKind::kKill:
      text = TargetNames(goal) + " の石を殺す";
      break;
    case TGoalKind::kLive:
      text = TargetNames(goal) + " の石を活かす";
      break;
    case TGoalKind::kUnknown:
      return "不明";
  }
  if (goal.result == TGoalResult::kSeki) text += "（セキ）";
  if (goal.result == TGoalResult::kKo) text += "（コウ）";
  if (!goal.inferred) text += "（推定）";
  return text;
}

std::string GoalKindName(TGoalKind kind) {
  switch (kind) {
    case TGoalKind::kCapture:
      return "capture";
    case TGoalKind::kKill:
      return "kill";
    case TGoalKind::kLive:
      return "live";
    case TGoalKind::kUnknown:
      break;
  }
  return "unknown";
}

std::string GoalResultName(TGoalResult result) {
  switch (result) {
    case TGoalResult::kSeki:
      return "seki";
    case TGoalResult::kKo:
      return "ko";
    case TGoalResult::kPlain:
      break;
  }
  return "plain";
}

std::string FindingKindName(TFindingKind kind) {
  switch (kind) {
    case TFindingKind::kCorrectMoveFails:
      return "correct-move-fails";
    case TFindingKind::kWrongMoveWorks:
      return "wrong-move-works";
    case TFindingKind::kRefutationFails:
      return "refutation-fails";
    case TFindingKind::kUnstoredSolution:
      return "unstored-solution";
    case TFindingKind::kGoalAlreadyReached:
      return "goal-already-reached";
    case TFindingKind::kReplyBlunder:
      return "reply-blunder";
    case TFindingKind::kIllegalMove:
      return "illegal-move";
    case TFindingKind::kGoalUnknown:
      return "goal-unknown";
    case TFindingKind::kEngineFailure:
      return "engine-failure";
    case TFindingKind::kTimeLimit:
      return "time-limit";
  }
  return "unknown";
}

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

bool IsUnchecked(const TProblemReport& report) {
  return std::any_of(report.findings.begin(), report.findings.end(), [](const TFinding& f) {
    return f.kind == TFindingKind::kTimeLimit || f.kind == TFindingKind::kEngineFailure;
  });
}

bool HasUnknownGoal(const TProblemReport& report) {
  return std::any_of(report.findings.begin(), report.findings.end(),
                     [](const TFinding& f) { return f.kind == TFindingKind::kGoalUnknown; });
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
  TRun(TGtpClient& engine, const TCheckedProblem& problem, const TReadingHook& hook)
      : engine_(engine), problem_(problem), hook_(hook) {
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
    if (ambiguous_) {
      std::string groups;
      for (const TCheckedMove& g : ambiguousGroups_)
        groups += (groups.empty() ? "" : "・") + MoveName(g);
      Add(TFindingKind::kGoalUnknown, TConfidence::kLow, ambiguousGroups_,
          "正解手順で変わる石が " + groups +
              " と複数あり、目的（殺す石・活きる石）を確かに判定できません。検証はしていません");
      return report_;
    }
    if (report_.goal.kind == TGoalKind::kUnknown) {
      Add(TFindingKind::kGoalUnknown, TConfidence::kLow, {},
          "正解手順から目的（取る石・殺す石・活きる石）を判定できません");
      return report_;
    }
    CheckNotReachedWithoutMove();
    if (!report_.goal.inferred) {
      // Nothing built on a stand-in goal beyond the one observation it was chosen for.
      if (!goal_already_reached_)
        Add(TFindingKind::kGoalUnknown, TConfidence::kLow, {},
            "正解手順で状態の変わる石がなく、目的を判定できません。検証はしていません");
      return report_;
    }
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
    position_ = TGoPosition();
    for (const TCheckedMove& m : problem_.setup)
      if (!Play(m)) return m;
    for (const TCheckedMove& m : moves)
      if (!Play(m)) return m;
    return std::nullopt;
  }

  // A move is played on the position first: one the rules refuse never reaches the engine, and
  // the refusal keeps its reason. A move the engine refuses for reasons of its own is taken
  // back from the position, so the two boards stay alike.
  bool Play(const TCheckedMove& m) {
    const TLegality verdict = position_.Play(ColourOfCode(m.colour), m.point);
    if (verdict != TLegality::kLegal) {
      lastRefusal_ = verdict;
      return false;
    }
    if (engine_.Send(std::string("play ") + GtpColour(m.colour) + " " + BoardCoordinate(m.point))
            .ok)
      return true;
    position_.TakeBack();
    lastRefusal_ = TLegality::kLegal;
    return false;
  }

  void Undo() {
    engine_.Ask("undo");
    position_.TakeBack();
  }

  // The stones of a colour, read from the position (the engine's board holds the same).
  std::set<int> StonesOf(int colour) {
    std::set<int> points;
    for (int p = 1; p <= kPointCount; ++p)
      if (position_.At(p) == ColourOfCode(colour)) points.insert(p);
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
    return ParseReading(Reading(line));
  }

  // One reading of the engine, announced to the hook first (which may stop the problem).
  std::string Reading(const std::string& command) {
    if (hook_ && !hook_(++readings_))
      throw EGtpError(EGtpError::TKind::kInterrupted, "検証を打ち切りました。");
    return engine_.Ask(command);
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

  // A set-up group as the goal search sees it: its status at the start, and what became of it
  // at the ends of the correct lines.
  struct TCandidate {
    int point = 0;  // a set-up stone of the group
    int owner = 0;
    std::set<int> stones;           // the group at the start
    std::set<int> strings;          // one stone of each of its strings
    std::string start;              // GNU Go's status at the start: alive, critical, dead, unknown
    int distance = kSide;           // rows or columns from the nearest first correct move
    int changed = 0;                // correct lines along which it changed for the mover's good
    int taken = 0;                  // ... of them with its stones taken
    std::set<std::size_t> takenOn;  // the lines (indexes) along which its stones were taken
    int seki = 0, ko = 0;           // ... ending in seki, in ko
    int lost = 0;  // correct lines along which it was unsettled and went the other side's way
  };

  std::string StatusWord(int point) {
    const std::vector<std::string> words =
        Words(Reading("dragon_status " + BoardCoordinate(point)));
    return words.empty() ? std::string("unknown") : words.front();
  }

  bool InSeki(int point) {
    return Reading("dragon_data " + BoardCoordinate(point)).find("seki") != std::string::npos;
  }

  // Whether a group left unsettled is left to a ko: either side's life-and-death reading
  // answers with a ko result.
  bool LeftToKo(int point) {
    return Read("owl_attack", {point}).Ko() || Read("owl_defend", {point}).Ko();
  }

  std::vector<TCandidate> SetupGroups() {
    std::vector<TCandidate> groups;
    SetPosition({});
    std::set<int> seen;
    std::set<int> firstMoves;
    for (const auto& line : lines_)
      if (!line.empty()) firstMoves.insert(line.front().point);
    for (const TCheckedMove& m : problem_.setup) {
      if (seen.count(m.point)) continue;
      TCandidate group;
      group.point = m.point;
      group.owner = m.colour;
      for (int p : PointsOfAnswer("dragon_stones " + BoardCoordinate(m.point))) {
        group.stones.insert(p);
        seen.insert(p);
      }
      if (group.stones.empty()) continue;
      std::set<int> inString;
      for (int p : group.stones) {
        if (inString.count(p)) continue;
        group.strings.insert(p);
        for (int q : PointsOfAnswer("worm_stones " + BoardCoordinate(p))) inString.insert(q);
      }
      group.start = StatusWord(m.point);
      for (int move : firstMoves)
        for (int p : group.stones)
          group.distance = std::min(group.distance, std::max(std::abs(ColumnOf(p) - ColumnOf(move)),
                                                             std::abs(RowOf(p) - RowOf(move))));
      groups.push_back(std::move(group));
    }
    return groups;
  }

  // Could the group change for the mover's good: the mover's must not be settled alive, the
  // other side's not settled dead, at the start.
  bool MayChange(const TCandidate& group) const {
    return group.owner == Mover() ? group.start != "alive" : group.start != "dead";
  }

  // Reads the groups at the end of one correct line.
  void ReadLineEnd(std::vector<TCandidate>& groups, std::size_t line) {
    const std::set<int> black = StonesOf(kBlack), white = StonesOf(kWhite);
    for (TCandidate& group : groups) {
      if (!MayChange(group)) continue;
      const std::set<int>& own = group.owner == kBlack ? black : white;
      const bool present = std::all_of(group.strings.begin(), group.strings.end(),
                                       [&](int p) { return own.count(p) != 0; });
      const bool unsettled = group.start != "alive" && group.start != "dead";
      if (!present) {
        if (group.owner == Defender()) {
          ++group.changed;
          ++group.taken;
          group.takenOn.insert(line);
        } else if (unsettled) {
          ++group.lost;
        }
        continue;
      }
      const std::string status = StatusWord(group.point);
      if (unsettled && status == (group.owner == Mover() ? "dead" : "alive")) ++group.lost;
      if (status == "critical" && LeftToKo(group.point)) {
        ++group.changed;
        ++group.ko;
      } else if (group.owner == Mover() && status == "alive") {
        ++group.changed;
        if (InSeki(group.point)) ++group.seki;
      } else if (group.owner == Defender() && status == "dead") {
        ++group.changed;
      }
    }
  }

  // Nearer the first move first; then a group unsettled at the start; then the one that
  // changed along more lines.
  static bool Before(const TCandidate& a, const TCandidate& b) {
    if (a.distance != b.distance) return a.distance < b.distance;
    const bool aOpen = a.start == "critical", bOpen = b.start == "critical";
    if (aOpen != bOpen) return aOpen;
    return a.changed > b.changed;
  }
  static bool Tied(const TCandidate& a, const TCandidate& b) {
    return !Before(a, b) && !Before(b, a);
  }

  void FindGoal() {
    std::vector<TCandidate> groups = SetupGroups();
    std::size_t played = 0;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      if (const auto refused = SetPosition(lines_[i])) {
        ReportIllegal(*refused);
        continue;
      }
      ++played;
      ReadLineEnd(groups, i);
    }
    std::vector<TCandidate> changed;
    for (const TCandidate& g : groups)
      if (g.changed > 0) changed.push_back(g);
    std::stable_sort(changed.begin(), changed.end(), Before);
    if (changed.empty()) {
      if (!FindLostGoal(groups)) FindStandIn(groups);
      return;
    }
    const TCandidate& best = changed.front();
    TGoal& goal = report_.goal;
    if (FindCapture(changed, played)) return;
    std::vector<const TCandidate*> tied;
    for (const TCandidate& g : changed)
      if (Tied(g, best)) tied.push_back(&g);
    if (tied.size() > 1) {
      ambiguous_ = true;
      for (const TCandidate* g : tied) ambiguousGroups_.push_back({g->owner, g->point});
      return;
    }
    goal.kind = best.owner == Mover() ? TGoalKind::kLive : TGoalKind::kKill;
    goal.targets = {best.point};
    if (best.ko == best.changed)
      goal.result = TGoalResult::kKo;
    else if (best.seki > 0 && best.owner == Mover())
      goal.result = TGoalResult::kSeki;
  }

  // Stones of the other side, as near the first move as any changed group, taken along every
  // correct line (one on one line, another on the next, as after a double atari): a capture
  // goal, judged by the tactical reading.
  bool FindCapture(const std::vector<TCandidate>& changed, std::size_t played) {
    const int nearest = changed.front().distance;
    std::set<std::size_t> lines;
    std::vector<int> targets;
    for (const TCandidate& g : changed) {
      if (g.distance != nearest || g.owner != Defender() || g.takenOn.empty()) continue;
      lines.insert(g.takenOn.begin(), g.takenOn.end());
      targets.insert(targets.end(), g.strings.begin(), g.strings.end());
    }
    if (targets.empty() || lines.size() != played) return false;
    report_.goal.kind = TGoalKind::kCapture;
    report_.goal.targets = targets;
    return true;
  }

  // No stored line changes a group for the mover's good, but an unsettled one goes the other
  // side's way: that group is what the problem is about (the stored answer then fails). The
  // nearest such group decides; two of different owners equally near leave it open.
  bool FindLostGoal(const std::vector<TCandidate>& groups) {
    std::vector<const TCandidate*> lost;
    for (const TCandidate& g : groups)
      if (g.lost > 0) lost.push_back(&g);
    if (lost.empty()) return false;
    std::stable_sort(lost.begin(), lost.end(), [](const TCandidate* a, const TCandidate* b) {
      return a->distance < b->distance;
    });
    const TCandidate& nearest = *lost.front();
    for (const TCandidate* g : lost) {
      if (g->distance != nearest.distance || g->owner == nearest.owner) continue;
      ambiguous_ = true;
      ambiguousGroups_ = {{nearest.owner, nearest.point}, {g->owner, g->point}};
      return true;
    }
    report_.goal.kind = nearest.owner == Mover() ? TGoalKind::kLive : TGoalKind::kKill;
    report_.goal.targets = {nearest.point};
    return true;
  }

  // No stored line changes any group: the mover's group nearest the first move (alive) or the
  // other side's (dead) stands in, so that the report can say the goal holds without a move.
  void FindStandIn(const std::vector<TCandidate>& groups) {
    const TCandidate* nearest = nullptr;
    for (const TCandidate& g : groups) {
      const bool settledForMover = g.owner == Mover() ? g.start == "alive" : g.start == "dead";
      if (settledForMover && (nearest == nullptr || g.distance < nearest->distance)) nearest = &g;
    }
    if (nearest == nullptr) return;
    TGoal& goal = report_.goal;
    goal.kind = nearest->owner == Mover() ? TGoalKind::kLive : TGoalKind::kKill;
    goal.targets = {nearest->point};
    goal.inferred = false;
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
      // A ko is what the answer aims at in a ko problem; elsewhere only a note.
      if (report_.goal.result != TGoalResult::kKo)
        Add(TFindingKind::kCorrectMoveFails, TConfidence::kLow, line,
            "正解手順の" + where + " はコウになります（無条件の正解ではありません）");
    } else if (outcome == TOutcome::kNotReached) {
      std::string text = "正解手順の" + where + " では目的を達しません";
      // Without a refutation to try, GNU Go's verdict stands on one side only.
      TConfidence confidence = std::min(Confidence(), TConfidence::kMedium);
      if (defence != 0) {
        text += "（" + MoveName({Defender(), defence}) + " と受けられます）";
        // GNU Go's own defence must hold against its own attack, or its verdict is in doubt.
        if (Play({Defender(), defence})) {
          const TOutcome after = WithMoverToMove();
          if (after == TOutcome::kReached)
            confidence = Doubted(text, "GNU Go 自身の読みではこの受けも破れるため疑わしい");
          else if (after == TOutcome::kNotReached)
            confidence = Confidence();
          else
            confidence = Doubted(text, "この受けのあとはコウになるため疑わしい");
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
        std::string text = "正解手順の" + MoveNumber(line) + " " + MoveName(line.back()) +
                           " は抵抗を放棄する応手です（" + MoveName({Defender(), point}) +
                           " ならまだ粘れます。以後の手順が正しいとは限りません）";
        // Both sides are read already: the stored reply loses at once with the defender to
        // move again, the better one does not.
        Add(TFindingKind::kReplyBlunder, Confidence(), line, std::move(text));
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
    // A wrong move that only reaches a ko does not work: it is no plain success, and in a ko
    // problem the stored answer's ko is what counts.
    if (outcome == TOutcome::kKo || s.moves.size() < 2) return;
    line.push_back(s.moves[1]);
    if (const auto bad = SetPosition(line)) {
      ReportIllegal(*bad);
      return;
    }
    int attack = 0;
    if (GoalReading(true, &attack) != TOutcome::kReached) return;
    std::string text = "失敗手順 " + MoveName(s.moves[0]) + " → " + MoveName(s.moves[1]) +
                       " のあとも" + ColourName(Mover()) +
                       "は目的を達します（登録された応手では咎めていません）";
    // GNU Go's own attack must leave no defence, or its verdict is in doubt.
    TConfidence confidence = std::min(Confidence(), TConfidence::kMedium);
    if (attack != 0 && Play({Mover(), attack})) {
      text += "（" + MoveName({Mover(), attack}) + " で目的を達します）";
      confidence = AfterMoverMove() == TOutcome::kReached
                       ? Confidence()
                       : Doubted(text, "GNU Go 自身の読みではこの手にも受けがあるため疑わしい");
      Undo();
    }
    Add(TFindingKind::kRefutationFails, confidence, line, std::move(text));
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
    // A goal that stands in for one the lines do not show is itself a guess.
    TConfidence confidence =
        report_.goal.inferred ? Confidence() : std::min(Confidence(), TConfidence::kMedium);
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
        } else if (attackers.count(n)) {
          const std::vector<int> liberties = LibertiesOf(position_.Codes(), n);
          if (liberties.size() == 1) points.insert(liberties.front());
        }
      }
    }
    return {points.begin(), points.end()};
  }

  static std::vector<int> Neighbours(int point) {
    std::vector<int> out;
    for (int n : NeighbourPoints(point))
      if (n != 0) out.push_back(n);
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
    const std::string reason =
        lastRefusal_ != TLegality::kLegal ? LegalityReason(lastRefusal_) : "石のある点か着手禁止点";
    Add(TFindingKind::kIllegalMove, TConfidence::kHigh, {move},
        "登録された " + MoveName(move) + " は打てない手です（" + reason + "）");
  }

  void Add(TFindingKind kind, TConfidence confidence, std::vector<TCheckedMove> moves,
           std::string text) {
    report_.findings.push_back({kind, confidence, std::move(moves), std::move(text)});
  }

  TGtpClient& engine_;
  const TCheckedProblem& problem_;
  // The engine's board as the rules see it, and why the last move was refused by them
  // (kLegal when the engine refused it instead).
  TGoPosition position_;
  TLegality lastRefusal_ = TLegality::kLegal;
  const TReadingHook& hook_;
  int readings_ = 0;
  bool ambiguous_ = false;
  std::vector<TCheckedMove> ambiguousGroups_;
  TProblemReport report_;
  std::vector<std::vector<TCheckedMove>> lines_;  // every correct line from the set-up
  bool goal_already_reached_ = false;
};

TProblemChecker::TProblemChecker(TGtpClient& engine, TReadingHook hook)
    : engine_(engine), hook_(std::move(hook)) {}

TProblemReport TProblemChecker::Check(const TCheckedProblem& problem) {
  return TRun(engine_, problem, hook_).Check();
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

namespace {

TProblemReport TimeLimitReport(int problem, std::chrono::milliseconds limit) {
  TProblemReport unchecked;
  unchecked.problem = problem;
  unchecked.findings.push_back({TFindingKind::kTimeLimit,
                                TConfidence::kMedium,
                                {},
                                "制限時間（" + std::to_string(limit.count() / 1000) +
                                    " 秒）内に検証できませんでした（未検証）"});
  return unchecked;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::vector<TProblemReport> CheckProblems(const std::vector<TCheckedProblem>& problems,
                                          const TEngineStarter& start_engine,
                                          const TCheckOptions& options) {
  using Clock = std::chrono::steady_clock;
  const int total = static_cast<int>(problems.size());
  const double limit = std::chrono::duration<double>(options.timeLimit).count();
  std::vector<TProblemReport> reports;
  bool cancelled = false;
  const auto progress = [&](int readings, double seconds) {
    const TCheckStep step{static_cast<int>(reports.size()), total, readings, seconds, limit};
    if (options.progress && !options.progress(step)) cancelled = true;
    if (options.stop && options.stop()) cancelled = true;
    return !cancelled;
  };
  std::unique_ptr<TGtpClient> engine = start_engine();
  for (const TCheckedProblem& problem : problems) {
    if (!progress(0, 0)) return reports;
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + options.timeLimit;
    bool late = false;
    try {
      if (!engine) engine = start_engine();
      // A reading that outlasts the problem's time, or the user's 中止, stops the engine at
      // once; the next problem gets a new one.
      engine->SetInterrupt([&] {
        late = Clock::now() >= deadline;
        if (options.stop && options.stop()) cancelled = true;
        return late || cancelled;
      });
      const TReadingHook hook = [&](int readings) {
        if (Clock::now() >= deadline) {
          late = true;
          return false;
        }
        return progress(readings, SecondsSince(start));
      };
      TProblemReport report = TProblemChecker(*engine, hook).Check(problem);
      engine->SetInterrupt({});
      reports.push_back(std::move(report));
    } catch (const EGtpError& e) {
      if (e.Kind() == EGtpError::TKind::kMissing) throw;
      engine.reset();
      if (cancelled) return reports;
      if (late || e.Kind() == EGtpError::TKind::kInterrupted)
        reports.push_back(TimeLimitReport(problem.number, options.timeLimit));
      else
        reports.push_back(EngineFailureReport(problem.number, e));
    }
  }
  progress(0, 0);
  return reports;
}

std::vector<TProblemReport> CheckStoredProblems(TDataModule1& module, std::optional<int> only,
                                                const TEngineStarter& start_engine,
                                                const TCheckOptions& options) {
  return CheckProblems(ReadStoredProblems(module, only), start_engine, options);
}

TEngineStarter GnuGoStarter(std::chrono::milliseconds timeout) {
  return [timeout] {
    const std::string program = FindGnuGo();
    return std::make_unique<TGtpClient>(GnuGoCommandLine(program.empty() ? "gnugo" : program),
                                        timeout);
  };
}

}  // namespace goramina
