#include "app/check_problems.h"

#include <string>
#include <vector>

#include "app/data_module.h"
#include "app/main_unit.h"
#include "app/toolkit.h"

namespace goramina {
namespace {

constexpr int kStatusPanelMessage = 0;
constexpr const char* kEditScreenOnly = "問題検証は編集画面で使えます。";
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

// Menu work: checks with a module of its own, so the trainer's cursors stay where they are.
void CheckInWindow(std::optional<int> only) {
  TToolkit& tk = Toolkit();
  if (ScreenKind != 2) {
    tk.ShowMessage(kEditScreenOnly);
    return;
  }
  if (only && *only == 0) {
    tk.ShowMessage(kNoProblem);
    return;
  }
  TDataModule1 reader(DataModule1().KuraQuery2.Provider());
  const TEngineStarter start = MenuEngine() ? MenuEngine() : GnuGoStarter();
  std::vector<TProblemReport> reports;
  try {
    reports = CheckStoredProblems(reader, only, start, [&tk](int done, int total) {
      tk.SetStatusText(kStatusPanelMessage,
                       "問題検証中 " + std::to_string(done) + "/" + std::to_string(total));
    });
  } catch (const EGtpError& e) {
    tk.SetStatusText(kStatusPanelMessage, "");
    tk.ShowMessage(std::string("問題を検証できません。\n") + e.what() +
                   "\nGNU Go（Debian の gnugo パッケージ）が必要です。");
    return;
  }
  tk.SetStatusText(kStatusPanelMessage, "");
  if (reports.empty()) {
    tk.ShowMessage(kNoProblem);
    return;
  }
  std::string text;
  for (const TProblemReport& r : reports) text += FormatReport(r);
  text += '\n';
  text += Summary(reports);
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
