#include "app/window/check_problems.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "app/checker/background_check.h"
#include "app/collection/data_module.h"
#include "app/common/json_text.h"
#include "app/toolkit/toolkit.h"
#include "app/trainer/main_unit.h"

namespace goramina {
namespace {

constexpr int kStatusPanelMessage = 0;
constexpr const char* kNoProblem = "検証する問題がありません。";

TEngineStarter& MenuEngine() {
  static TEngineStarter engine;
  return engine;
}

}  // namespace

std::string CheckSummary(const std::vector<TProblemReport>& reports) {
  int unsound = 0, unchecked = 0, unknownGoal = 0, notesOnly = 0;
  for (const TProblemReport& r : reports) {
    if (IsUnchecked(r))
      ++unchecked;
    else if (IsUnsound(r))
      ++unsound;
    else if (HasUnknownGoal(r))
      ++unknownGoal;
    else if (!r.findings.empty())
      ++notesOnly;
  }
  std::string text = std::to_string(reports.size()) + " 問を検証しました。";
  text += unsound == 0 ? "誤りの疑いのある問題はありません。"
                       : "うち " + std::to_string(unsound) + " 問に誤りの疑いがあります。";
  if (notesOnly > 0)
    text += "確度の低い注意だけの問題が " + std::to_string(notesOnly) + " 問あります。";
  if (unknownGoal > 0)
    text += "目的を判定できず検証しなかった問題が " + std::to_string(unknownGoal) + " 問あります。";
  if (unchecked > 0)
    text += "時間切れなどで検証できなかった問題が " + std::to_string(unchecked) + " 問あります。";
  return text + "\n";
}

namespace {

// How often the window's thread looks at the worker (and lets the window draw) while it reads.
constexpr std::chrono::milliseconds kProgressPoll{50};
constexpr const char* kProgressTitle = "問題検証";

std::string ProgressText(const TBackgroundCheck::TState& state) {
  if (state.cancelled) return "中止しています…";
  const int shown = std::min(state.done + 1, state.total);
  std::string text = "問題検証中… " + std::to_string(shown) + "/" + std::to_string(state.total);
  if (state.done < state.total && state.limit > 0)
    text += "（読み " + std::to_string(state.readings) + " 回、" +
            std::to_string(static_cast<int>(state.seconds)) + " 秒／制限 " +
            std::to_string(static_cast<int>(state.limit)) + " 秒）";
  return text;
}

// The bar moves with the time spent on the problem being read (against its limit), so that a
// long problem does not leave it standing.
constexpr int kStepsPerProblem = 100;
int ProgressSteps(const TBackgroundCheck::TState& state) {
  int within = 0;
  if (state.done < state.total && state.limit > 0)
    within = std::min(kStepsPerProblem - 1,
                      static_cast<int>(state.seconds / state.limit * kStepsPerProblem));
  return state.done * kStepsPerProblem + within;
}

// Shows the progress box and the status line until the worker ends (TRunningCheck closes them);
// the box's 中止 asks it to stop before its next problem. The box is modal, so the user cannot
// edit meanwhile.
void WaitInProgressBox(TBackgroundCheck& check) {
  TToolkit& tk = Toolkit();
  TBackgroundCheck::TState state = check.State();
  while (!state.finished) {
    const std::string text = ProgressText(state);
    tk.SetStatusText(kStatusPanelMessage, text);
    if (!tk.ShowProgress(kProgressTitle, ProgressSteps(state), state.total * kStepsPerProblem,
                         text) &&
        !state.cancelled)
      check.Cancel();
    state = check.WaitForChange(kProgressPoll);
  }
}

std::string CancelNote(std::size_t checked, std::size_t total) {
  return "中止しました（" + std::to_string(total) + " 問中 " + std::to_string(checked) +
         " 問を検証）。\n";
}

bool& CheckRunning() {
  static bool running = false;
  return running;
}

// Marks a check as running; however it ends (an error included), the box closes, the status
// line clears and the menu can start another.
class TRunningCheck {
 public:
  TRunningCheck() { CheckRunning() = true; }
  ~TRunningCheck() {
    Toolkit().CloseProgress();
    Toolkit().SetStatusText(kStatusPanelMessage, "");  // panel 0 always exists
    CheckRunning() = false;
  }
  TRunningCheck(const TRunningCheck&) = delete;
  TRunningCheck& operator=(const TRunningCheck&) = delete;
};

// Menu work: the problems are copied out of the tables first (through a module of their own, so
// the trainer's cursors stay where they are), then GNU Go reads them on a worker thread while
// the window shows the progress.
void CheckInWindow(std::optional<int> only) {
  TToolkit& tk = Toolkit();
  if (CheckRunning()) return;  // a click that slipped past the modal box
  if (only && *only == 0) {
    tk.ShowMessage(kNoProblem);
    return;
  }
  std::vector<TCheckedProblem> problems;
  {
    TDataModule1 reader(DataModule1().KuraQuery2.Provider());
    problems = ReadStoredProblems(reader, only);
  }
  if (problems.empty()) {
    tk.ShowMessage(kNoProblem);
    return;
  }
  const std::size_t total = problems.size();
  std::vector<TProblemReport> reports;
  bool cancelled = false;
  try {
    const TRunningCheck running;
    TBackgroundCheck check(std::move(problems), MenuEngine() ? MenuEngine() : GnuGoStarter());
    WaitInProgressBox(check);
    cancelled = check.State().cancelled;
    reports = check.TakeReports();
  } catch (const EGtpError& e) {
    tk.ShowMessage(std::string("問題を検証できません。\n") + e.what() +
                   "\nGNU Go（Debian の gnugo パッケージ）が必要です。");
    return;
  }
  // The totals first; the problems' reports scroll below them.
  std::string summary;
  if (cancelled && reports.size() < total) summary += CancelNote(reports.size(), total);
  if (!reports.empty()) summary += CheckSummary(reports);
  summary += "GNU Go の読みは易しい問題ほど確かで、難しい問題やコウでは誤ることがあります。";
  std::string details;
  for (const TProblemReport& r : reports) details += FormatReport(r);
  tk.ShowReport(summary, details);
}

}  // namespace

namespace {

std::string MoveJson(const TCheckedMove& m) {
  return std::string("{\"colour\": ") + (m.colour == kBlack ? "\"black\"" : "\"white\"") +
         ", \"point\": " + std::to_string(m.point) +
         ", \"coordinate\": " + JsonString(BoardCoordinate(m.point)) + "}";
}

std::string FindingJson(const TFinding& f) {
  std::vector<std::string> moves;
  for (const TCheckedMove& m : f.moves) moves.push_back(MoveJson(m));
  return "{\"kind\": " + JsonString(FindingKindName(f.kind)) + ", \"confidence\": " +
         JsonString(f.confidence == TConfidence::kHigh     ? "high"
                    : f.confidence == TConfidence::kMedium ? "medium"
                                                           : "low") +
         ", \"moves\": " + JsonArray(moves) + ", \"text\": " + JsonString(f.text) + "}";
}

std::string Verdict(const TProblemReport& r) {
  if (IsUnchecked(r)) return "unchecked";
  if (IsUnsound(r)) return "unsound";
  if (HasUnknownGoal(r)) return "goal-unknown";
  return "sound";
}

std::string ReportJson(const TProblemReport& r) {
  std::vector<std::string> targets, findings;
  for (int t : r.goal.targets) targets.push_back(JsonString(BoardCoordinate(t)));
  for (const TFinding& f : r.findings) findings.push_back(FindingJson(f));
  const std::string goal = "{\"kind\": " + JsonString(GoalKindName(r.goal.kind)) +
                           ", \"result\": " + JsonString(GoalResultName(r.goal.result)) +
                           ", \"mover\": " + (r.goal.mover == kBlack ? "\"black\"" : "\"white\"") +
                           ", \"targets\": " + JsonArray(targets) +
                           ", \"inferred\": " + (r.goal.inferred ? "true" : "false") +
                           ", \"text\": " + JsonString(GoalText(r.goal)) + "}";
  return "{\"problem\": " + std::to_string(r.problem) + ", \"verdict\": " + JsonString(Verdict(r)) +
         ", \"goal\": " + goal + ", \"ko\": " + (r.ko ? "true" : "false") +
         ", \"findings\": " + JsonArray(findings) + "}";
}

}  // namespace

std::string CheckReportsJson(const std::vector<TProblemReport>& reports, int exitCode) {
  std::vector<std::string> problems;
  for (const TProblemReport& r : reports) problems.push_back(ReportJson(r));
  std::string text = "{\"exit_code\": " + std::to_string(exitCode) +
                     ",\n \"summary\": " + JsonString(CheckSummary(reports)) +
                     ",\n \"problems\": [";
  for (std::size_t i = 0; i < problems.size(); ++i)
    text += (i == 0 ? "\n  " : ",\n  ") + problems[i];
  return text + "]}\n";
}

namespace {

// A whole decimal number from `low` to `high`, nothing else.
std::optional<int> Number(const std::string& text, int low, int high) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const int value = std::stoi(text);
  if (value < low || value > high) return std::nullopt;
  return value;
}

constexpr int kLongestTimeLimit = 3600;

}  // namespace

std::optional<TCheckCommand> ParseCheckCommand(const std::vector<std::string>& options,
                                               std::string& error) {
  TCheckCommand command;
  for (std::size_t i = 0; i < options.size(); ++i) {
    const std::string& option = options[i];
    const bool hasValue = i + 1 < options.size();
    if (option == "--json") {
      command.json = true;
    } else if (option == "--problem" && hasValue && !command.only) {
      command.only = Number(options[++i], 1, 999999999);
      if (!command.only) {
        error = "--problem needs a problem number above 0";
        return std::nullopt;
      }
    } else if (option == "--time-limit" && hasValue) {
      const std::optional<int> seconds = Number(options[++i], 1, kLongestTimeLimit);
      if (!seconds) {
        error =
            "--time-limit needs a number of seconds from 1 to " + std::to_string(kLongestTimeLimit);
        return std::nullopt;
      }
      command.timeLimit = std::chrono::seconds(*seconds);
    } else {
      error = "unknown or incomplete option for --check-problems: " + option;
      return std::nullopt;
    }
  }
  return command;
}

int RunProblemCheckCommand(const TCheckCommand& command, std::ostream& out, std::ostream& err,
                           const TEngineStarter& start_engine) {
  TDataModule1 reader;
  std::vector<TProblemReport> reports;
  try {
    TCheckOptions options;
    options.timeLimit = command.timeLimit;
    int lastDone = -1;
    options.progress = [&err, &lastDone](const TCheckStep& step) {
      if (step.done < step.total && step.done != lastDone)
        err << "問題検証中 " << step.done + 1 << "/" << step.total << "\n";
      lastDone = step.done;
      return true;
    };
    reports = CheckStoredProblems(reader, command.only, start_engine, options);
  } catch (const EGtpError& e) {
    err << "goramina: " << e.what() << "\n"
        << "goramina: GNU Go（Debian の gnugo パッケージ）が必要です。\n";
    return kCheckFailed;
  }
  if (reports.empty()) {
    err << "goramina: "
        << (command.only ? "問題 " + std::to_string(*command.only) + " はありません。" : kNoProblem)
        << "\n";
    return kCheckFailed;
  }
  bool unsound = false;
  for (const TProblemReport& r : reports) unsound |= IsUnsound(r);
  const int code = unsound ? kCheckUnsound : kCheckSound;
  if (command.json) {
    out << CheckReportsJson(reports, code);
  } else {
    for (const TProblemReport& r : reports) out << FormatReport(r);
    out << CheckSummary(reports);
  }
  return code;
}

int RunProblemCheckCommand(std::optional<int> only, std::ostream& out, std::ostream& err,
                           const TEngineStarter& start_engine) {
  TCheckCommand command;
  command.only = only;
  return RunProblemCheckCommand(command, out, err, start_engine);
}

void SetProblemCheckEngine(TEngineStarter start_engine) {
  MenuEngine() = std::move(start_engine);
}

void CheckCurrentProblemClick() {
  CheckInWindow(CurrentProblem);
}

void CheckAllProblemsClick() {
  CheckInWindow(std::nullopt);
}

}  // namespace goramina
