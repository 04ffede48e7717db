#include "app/check_problems.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "app/background_check.h"
#include "app/data_module.h"
#include "app/main_unit.h"
#include "app/toolkit.h"

namespace goramina {
namespace {

constexpr int kStatusPanelMessage = 0;
constexpr const char* kNoProblem = "検証する問題がありません。";

TEngineStarter& MenuEngine() {
  static TEngineStarter engine;
  return engine;
}

std::string Summary(const std::vector<TProblemReport>& reports) {
  int unsound = 0;
  for (const TProblemReport& r : reports) unsound += IsUnsound(r);
  if (unsound == 0)
    return std::to_string(reports.size()) + " 問を検証しました。問題は見つかりませんでした。\n";
  return std::to_string(reports.size()) + " 問中 " + std::to_string(unsound) +
         " 問に誤りの疑いがあります。\n";
}

// How often the window's thread looks at the worker (and lets the window draw) while it reads.
constexpr std::chrono::milliseconds kProgressPoll{50};
constexpr const char* kProgressTitle = "問題検証";

std::string ProgressText(const TBackgroundCheck::TState& state) {
  if (state.cancelled) return "中止しています…";
  const int shown = std::min(state.done + 1, state.total);
  return "問題検証中… " + std::to_string(shown) + "/" + std::to_string(state.total);
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
    if (!tk.ShowProgress(kProgressTitle, state.done, state.total, text) && !state.cancelled)
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
  std::string text;
  for (const TProblemReport& r : reports) text += FormatReport(r);
  text += '\n';
  if (cancelled && reports.size() < total) text += CancelNote(reports.size(), total);
  if (!reports.empty()) text += Summary(reports);
  text += "GNU Go の読みは易しい問題ほど確かで、難しい問題やコウでは誤ることがあります。";
  tk.ShowInformation(text);
}

}  // namespace

int RunProblemCheckCommand(std::optional<int> only, std::ostream& out, std::ostream& err,
                           const TEngineStarter& start_engine) {
  TDataModule1 reader;
  std::vector<TProblemReport> reports;
  try {
    reports = CheckStoredProblems(reader, only, start_engine, [&err](int done, int total) {
      if (done < total) err << "問題検証中 " << done + 1 << "/" << total << "\n";
      return true;
    });
  } catch (const EGtpError& e) {
    err << "goramina: " << e.what() << "\n"
        << "goramina: GNU Go（Debian の gnugo パッケージ）が必要です。\n";
    return kCheckFailed;
  }
  if (reports.empty()) {
    err << "goramina: " << (only ? "問題 " + std::to_string(*only) + " はありません。" : kNoProblem)
        << "\n";
    return kCheckFailed;
  }
  bool unsound = false;
  for (const TProblemReport& r : reports) {
    out << FormatReport(r);
    unsound |= IsUnsound(r);
  }
  out << Summary(reports);
  return unsound ? kCheckUnsound : kCheckSound;
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
