// Checking stored problems with GNU Go from the two places a user asks for it: the command
// line (goramina --check-problems) and the 問題検証 menu of the edit screen.
#pragma once

#include <optional>
#include <ostream>

#include "app/problem_checker.h"

namespace goramina {

// Exit codes of the command.
inline constexpr int kCheckSound = 0;
inline constexpr int kCheckUnsound = 1;  // a problem is unsound or could not be checked
inline constexpr int kCheckFailed = 2;   // no such problem, or no engine

// Checks the problems of the registered collection "DBgoramina" (all, or only `only`), writing
// each problem's report to `out` and progress and errors to `err`. Answers an exit code above.
int RunProblemCheckCommand(std::optional<int> only, std::ostream& out, std::ostream& err,
                           const TEngineStarter& start_engine = GnuGoStarter());

// The engine the menu items use (GNU Go unless a test sets another; empty restores GNU Go).
void SetProblemCheckEngine(TEngineStarter start_engine);

// Menu 問題検証 → この問題: checks the loaded problem and shows the findings in a box.
void CheckCurrentProblemClick();
// Menu 問題検証 → 全問題: checks every problem of the collection and shows the findings.
void CheckAllProblemsClick();

}  // namespace goramina
