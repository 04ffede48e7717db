// app/checker — the problem check: the GTP client that talks to GNU Go, the checker that reads
// every stored problem against it (keeping the engine's board in step with an app/go position,
// which refuses what the rules refuse and answers stones and liberties), and the background check
// that runs it on a worker thread. It stands on app/go and app/collection only.
//
// Checks stored problems with a Go engine (GNU Go over GTP): does every stored correct answer
// reach the problem's goal, does every stored wrong answer fail, is there an answer that works
// but is not stored, and do the stored replies defend as long as they can.
//
// The goal comes from what changes along the stored correct lines. The mover is the colour of
// the first stored correct move. GNU Go's status of every set-up group is read at the start
// and at the end of each correct line; a group of the mover that goes from dead or unsettled
// to alive (seki included) makes a live goal, a group of the other colour that goes from
// alive or unsettled to dead (or is taken) a kill goal, a capture goal when its stones are
// taken on every line where it falls. A line that ends with the group unsettled in ko makes a
// ko goal. Where several groups change, the one nearest the first correct move is the goal;
// when two of different owners are equally near, the goal is not inferred and the report
// says so once, without findings built on a guess. When no stored line changes anything, the
// group nearest the first move stands in, only to tell that the goal holds without a move.
//
// The engine's tactical reading (attack / defend) judges capture goals, its life-and-death
// reading (owl) the others. GNU Go can misread, more often as problems get harder and when ko
// is involved, so each finding carries a confidence: high only where GNU Go's readings agree
// from both sides (a stored answer fails and the refutation it names holds, or the reverse);
// the checker reports and never changes data.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/checker/gtp_client.h"

namespace goramina {

class TDataModule1;

inline constexpr int kBlack = 1;
inline constexpr int kWhite = 2;

// One stone of a problem: colour 1 (black) or 2 (white) and the trainer's point number
// 1..361 (19 * column + row + 1, counted from the top-left).
struct TCheckedMove {
  int colour = 0;
  int point = 0;
  bool operator==(const TCheckedMove&) const = default;
};

// A stored sequence: a run of moves continuing the end labelled `parent` (1 is the set-up).
struct TCheckedSequence {
  int parent = 0;
  int label = 0;
  bool wrong = false;  // stored as a wrong answer (its first colour negative)
  std::vector<TCheckedMove> moves;
};

struct TCheckedProblem {
  int number = 0;
  std::vector<TCheckedMove> setup;
  std::vector<TCheckedSequence> sequences;  // in stored (tree) order
};

// The problem numbers of the whole collection (HNB > 0), in number order.
std::vector<int> StoredProblemNumbers(TDataModule1& module);
// The set-up and sequences of one problem, read through the module's sequence query
// (KuraQuery2, which this repositions: use a module of its own beside the trainer's).
TCheckedProblem ReadStoredProblem(TDataModule1& module, int problem);

enum class TFindingKind {
  kCorrectMoveFails,    // a stored correct move does not reach the goal
  kWrongMoveWorks,      // a stored wrong first move reaches the goal after all
  kRefutationFails,     // after a stored wrong move, the stored reply lets the goal be reached
  kUnstoredSolution,    // a first move that is not stored also reaches the goal
  kGoalAlreadyReached,  // the goal holds without any move
  kReplyBlunder,        // a stored reply in a correct line gives up where it could resist
  kIllegalMove,         // a stored move the engine refuses
  kGoalUnknown,         // no goal could be found (or not with confidence) from the correct lines
  kEngineFailure,       // the engine stalled or ended while reading this problem
  kTimeLimit,           // the problem was not checked within its time limit
};

enum class TConfidence { kLow, kMedium, kHigh };

struct TFinding {
  TFindingKind kind = TFindingKind::kGoalUnknown;
  TConfidence confidence = TConfidence::kHigh;
  std::vector<TCheckedMove> moves;  // the moves concerned, first to last
  std::string text;                 // Japanese, with the moves named
};

enum class TGoalKind { kUnknown, kCapture, kKill, kLive };

// How the stored correct lines end for the goal's group.
enum class TGoalResult {
  kPlain,  // alive, dead or taken outright
  kSeki,   // the mover's group lives in seki
  kKo,     // the group is left to a ko
};

struct TGoal {
  TGoalKind kind = TGoalKind::kUnknown;
  TGoalResult result = TGoalResult::kPlain;
  int mover = kBlack;
  std::vector<int> targets;  // one point of each target string or group
  // False when the correct lines change nothing and a nearby group stands in: only "the goal
  // holds without a move" is reported then.
  bool inferred = true;
};

struct TProblemReport {
  int problem = 0;
  TGoal goal;
  bool ko = false;  // some reading ended in ko
  std::vector<TFinding> findings;
};

// A finding of medium or high confidence: the problem should not be offered as it stands (a
// problem not checked in its time limit included).
bool IsUnsound(const TProblemReport& report);
// The problem could not be read to the end (time limit, engine failure).
bool IsUnchecked(const TProblemReport& report);
// The goal could not be inferred with confidence.
bool HasUnknownGoal(const TProblemReport& report);

// Japanese and fixed script names of goals, results, findings and confidences.
std::string GoalText(const TGoal& goal);
std::string GoalKindName(TGoalKind kind);
std::string GoalResultName(TGoalResult result);
std::string FindingKindName(TFindingKind kind);
std::string ConfidenceName(TConfidence confidence);

// "C19"-style board coordinates (columns A-T without I, row 19 at the top).
std::string BoardCoordinate(int point);
// The point of a board coordinate ("C19", "c19"; a letter and one or two digits, nothing
// else), or 0 for anything that is not one (PASS included).
int PointOfCoordinate(std::string_view coordinate);
// "黒 C19（39）": the colour, the board coordinate and the trainer's point number.
std::string MoveName(const TCheckedMove& move);
// The report of one problem as Japanese lines: the goal, then each finding with its confidence.
std::string FormatReport(const TProblemReport& report);

// Called before every reading of the engine with the number of readings done on the problem;
// answering false stops the problem (EGtpError kInterrupted).
using TReadingHook = std::function<bool(int readings)>;

class TProblemChecker {
 public:
  // Uses `engine` for every reading; the engine's board is replaced problem by problem.
  explicit TProblemChecker(TGtpClient& engine, TReadingHook hook = {});

  // Checks one problem. Raises EGtpError when the engine fails or the hook stops it.
  TProblemReport Check(const TCheckedProblem& problem);

 private:
  class TRun;
  TGtpClient& engine_;
  TReadingHook hook_;
};

// Starts an engine; called again after an engine failed on a problem.
using TEngineStarter = std::function<std::unique_ptr<TGtpClient>()>;
// Where a check stands: `done` of `total` problems, and on the one being read the readings so
// far, the seconds spent and its limit.
struct TCheckStep {
  int done = 0;
  int total = 0;
  int readings = 0;
  double seconds = 0;
  double limit = 0;
};
// Called before each problem, before every reading, and once more at the end. Answers false to
// stop (the user cancelled): the problem being read is dropped.
using TCheckProgress = std::function<bool(const TCheckStep& step)>;

// The time each problem may take by default; a problem that takes longer is reported as not
// checked (never as sound).
inline constexpr std::chrono::seconds kDefaultProblemTimeLimit{60};

struct TCheckOptions {
  std::chrono::milliseconds timeLimit = kDefaultProblemTimeLimit;  // per problem
  TCheckProgress progress;
  // Asked from the checking thread at least every 0.1 s while the engine reads; true stops at
  // once (the user cancelled from another thread).
  std::function<bool()> stop;
};

// The set-up and sequences of the stored problems (all, or only `only`), in number order: a
// copy, so that checking them needs neither the tables nor the module afterwards.
std::vector<TCheckedProblem> ReadStoredProblems(TDataModule1& module, std::optional<int> only);

// Checks `problems` one after the other. A problem on which the engine stalls or ends gets a
// kEngineFailure finding, one that runs past the time limit a kTimeLimit finding, and a new
// engine is started for the next. Raises EGtpError kMissing when the engine cannot be started
// at all. When the progress answers false or `stop` answers true, stops and answers the
// reports of the problems checked to the end so far.
std::vector<TProblemReport> CheckProblems(const std::vector<TCheckedProblem>& problems,
                                          const TEngineStarter& start_engine,
                                          const TCheckOptions& options = {});

// ReadStoredProblems, then CheckProblems.
std::vector<TProblemReport> CheckStoredProblems(TDataModule1& module, std::optional<int> only,
                                                const TEngineStarter& start_engine,
                                                const TCheckOptions& options = {});

// GNU Go as found by FindGnuGo, with a fixed seed and a time limit per answer.
TEngineStarter GnuGoStarter(std::chrono::milliseconds timeout = std::chrono::seconds(30));

}  // namespace goramina
