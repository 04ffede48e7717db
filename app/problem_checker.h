// Checks stored problems with a Go engine (GNU Go over GTP): does every stored correct answer
// reach the problem's goal, does every stored wrong answer fail, is there an answer that works
// but is not stored, and do the stored replies defend as long as they can.
//
// The goal comes from the stored correct lines, read with the mover's colour taken from the
// first stored correct move:
//   - capture: set-up stones of the other colour that a correct line captures;
//   - kill: else, a set-up group of the other colour that is dead at the end of a correct line
//     (most lines stop before the capture) but could still live at the start;
//   - live: else, a set-up group of the mover that is alive at the end of a correct line but
//     could still be killed at the start.
// The engine's tactical reading (attack / defend) judges capture goals, its life-and-death
// reading (owl) the others. GNU Go can misread, more often as problems get harder and when ko
// is involved, so each finding carries a confidence; the checker reports and never changes
// data.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/gtp_client.h"

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
  kGoalUnknown,         // no goal could be found from the correct lines
  kEngineFailure,       // the engine stalled or ended while reading this problem
};

enum class TConfidence { kLow, kMedium, kHigh };

struct TFinding {
  TFindingKind kind = TFindingKind::kGoalUnknown;
  TConfidence confidence = TConfidence::kHigh;
  std::vector<TCheckedMove> moves;  // the moves concerned, first to last
  std::string text;                 // Japanese, with the moves named
};

enum class TGoalKind { kUnknown, kCapture, kKill, kLive };

struct TGoal {
  TGoalKind kind = TGoalKind::kUnknown;
  int mover = kBlack;
  std::vector<int> targets;  // one point of each target string or group
};

struct TProblemReport {
  int problem = 0;
  TGoal goal;
  bool ko = false;  // some reading ended in ko
  std::vector<TFinding> findings;
};

// A finding of medium or high confidence: the problem should not be offered as it stands.
bool IsUnsound(const TProblemReport& report);

// "C19"-style board coordinates (columns A-T without I, row 19 at the top).
std::string BoardCoordinate(int point);
// The point of a board coordinate ("C19", "c19"; a letter and one or two digits, nothing
// else), or 0 for anything that is not one (PASS included).
int PointOfCoordinate(std::string_view coordinate);
// "黒 C19（39）": the colour, the board coordinate and the trainer's point number.
std::string MoveName(const TCheckedMove& move);
// The report of one problem as Japanese lines: the goal, then each finding with its confidence.
std::string FormatReport(const TProblemReport& report);

class TProblemChecker {
 public:
  // Uses `engine` for every reading; the engine's board is replaced problem by problem.
  explicit TProblemChecker(TGtpClient& engine);

  // Checks one problem. Raises EGtpError when the engine fails.
  TProblemReport Check(const TCheckedProblem& problem);

 private:
  class TRun;
  TGtpClient& engine_;
};

// Starts an engine; called again after an engine failed on a problem.
using TEngineStarter = std::function<std::unique_ptr<TGtpClient>()>;
// Called before each problem with the number of problems done and the total, and once more at
// the end. Answers false to stop before the next problem (the user cancelled).
using TCheckProgress = std::function<bool(int done, int total)>;

// The set-up and sequences of the stored problems (all, or only `only`), in number order: a
// copy, so that checking them needs neither the tables nor the module afterwards.
std::vector<TCheckedProblem> ReadStoredProblems(TDataModule1& module, std::optional<int> only);

// Checks `problems` one after the other. A problem on which the engine stalls or ends gets a
// kEngineFailure finding, and a new engine is started for the next. Raises EGtpError kMissing
// when the engine cannot be started at all. When `progress` answers false, stops and answers
// the reports of the problems checked so far.
std::vector<TProblemReport> CheckProblems(const std::vector<TCheckedProblem>& problems,
                                          const TEngineStarter& start_engine,
                                          const TCheckProgress& progress = {});

// ReadStoredProblems, then CheckProblems.
std::vector<TProblemReport> CheckStoredProblems(TDataModule1& module, std::optional<int> only,
                                                const TEngineStarter& start_engine,
                                                const TCheckProgress& progress = {});

// GNU Go as found by FindGnuGo, with a fixed seed and a time limit per answer.
TEngineStarter GnuGoStarter(std::chrono::milliseconds timeout = std::chrono::seconds(30));

}  // namespace goramina
