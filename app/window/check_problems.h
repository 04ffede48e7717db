// Checking stored problems with GNU Go from the two places a user asks for it: the command
// line (goramina --check-problems) and the 問題検証 menu of the edit screen.
#pragma once

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/checker/problem_checker.h"

namespace goramina {

// Exit codes of the command.
inline constexpr int kCheckSound = 0;
inline constexpr int kCheckUnsound = 1;  // a problem is unsound or could not be checked
inline constexpr int kCheckFailed = 2;   // no such problem, or no engine

// goramina --check-problems [--problem N] [--time-limit SECONDS] [--json]
struct TCheckCommand {
  std::optional<int> only;
  std::chrono::milliseconds timeLimit = kDefaultProblemTimeLimit;  // per problem
  bool json = false;  // one JSON document instead of the Japanese lines
};

// Reads the options after --check-problems. nullopt (with `error` set) when they are wrong.
std::optional<TCheckCommand> ParseCheckCommand(const std::vector<std::string>& options,
                                               std::string& error);

// Checks the problems of the registered collection "DBgoramina" (all, or only `only`), writing
// each problem's report (or the JSON document) to `out` and progress and errors to `err`.
// Answers an exit code above; a problem not checked within its time limit counts as unsound.
int RunProblemCheckCommand(const TCheckCommand& command, std::ostream& out, std::ostream& err,
                           const TEngineStarter& start_engine = GnuGoStarter());
int RunProblemCheckCommand(std::optional<int> only, std::ostream& out, std::ostream& err,
                           const TEngineStarter& start_engine = GnuGoStarter());

// The closing line of a check: how many problems were checked, how many look wrong, how many
// have only low-confidence notes, an unknown goal, or could not be checked.
std::string CheckSummary(const std::vector<TProblemReport>& reports);
// The reports as one JSON document for scripts.
std::string CheckReportsJson(const std::vector<TProblemReport>& reports, int exitCode);

// The engine the menu items use (GNU Go unless a test sets another; empty restores GNU Go).
void SetProblemCheckEngine(TEngineStarter start_engine);

// Menu 問題検証 → この問題: checks the loaded problem and shows the findings in a box.
void CheckCurrentProblemClick();
// Menu 問題検証 → 全問題: checks every problem of the collection and shows the findings.
void CheckAllProblemsClick();

}  // namespace goramina
