#include "app/window/sgf_menu.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>

#include "app/board/board.h"
#include "app/collection/data_module.h"
#include "app/exchange/sgf_exchange.h"
#include "app/trainer/main_unit.h"

namespace goramina {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSgfFilter = "SGF (*.sgf *.SGF)";
constexpr const char* kImportTitle = "SGF読み込み";
constexpr const char* kExportTitle = "SGF書き出し";
constexpr const char* kRegisteringRefusal =
    "問題登録の途中です。問題登録かキャンセルをしてから、もう一度選んでください。";

// Puts away what stands unposted in the window (the hint, a typed comment), so that reopening
// the queries loses nothing. False (with a message) while a problem is being registered.
bool ReadyForExchange() {
  if (Registering == 1) {
    Toolkit().ShowMessage(kRegisteringRefusal);
    return false;
  }
  CancelHint();
  for (kura::TKuraQuery* query : {&DataModule1().KuraQuery1, &DataModule1().KuraQuery2})
    if (query->Active()) query->CheckBrowseMode();
  return true;
}

TSgfProgress BoxProgress(const char* title) {
  return [title](int done, int total, const std::string& item) {
    const std::string text =
        item.empty() ? std::string("完了") : fs::path(item).filename().string();
    return Toolkit().ShowProgress(title, done, total, text);
  };
}

// The totals (the summary's first line) on top, every other line in the report's scrolling
// field: the box keeps its size however many files were read.
void ShowSummary(const std::string& text) {
  const std::size_t end = text.find('\n');
  if (end == std::string::npos) {
    Toolkit().ShowReport(text, "");
    return;
  }
  Toolkit().ShowReport(text.substr(0, end), text.substr(end + 1));
}

// Shows problem `number` (or the first of the list when it is gone) as a click in the list does.
void ShowProblem(int number) {
  TDataModule1& dm = DataModule1();
  dm.OpenProblemList(kRegisteredProblems);
  dm.RenumberProblems();
  dm.KuraQuery1.First();
  if (number > 0) dm.KuraQuery1.Locate("HNB", static_cast<std::int64_t>(number));
  LoadProblem();
}

void Import(const std::vector<fs::path>& inputs) {
  const int shown = CurrentProblem;
  TImportReport report;
  try {
    report = ImportSgf(DataModule1(), inputs, BoxProgress(kImportTitle));
  } catch (...) {
    Toolkit().CloseProgress();
    ShowProblem(shown);
    throw;
  }
  Toolkit().CloseProgress();
  const std::vector<int> numbers = report.Numbers();
  ShowProblem(numbers.empty() ? shown : numbers.front());
  ShowSummary(ImportSummary(report));
}

}  // namespace

void SgfImportClick() {
  if (!ReadyForExchange()) return;
  const std::vector<std::string> files =
      Toolkit().ChooseFilesToOpen("SGFファイルを選んでください", kSgfFilter);
  if (files.empty()) return;
  Import(std::vector<fs::path>(files.begin(), files.end()));
}

void SgfImportFolderClick() {
  if (!ReadyForExchange()) return;
  const std::string folder = Toolkit().ChooseFolder("SGFファイルのフォルダを選んでください");
  if (folder.empty()) return;
  Import({fs::path(folder)});
}

void SgfExportClick() {
  if (!ReadyForExchange()) return;
  const int shown = CurrentProblem;
  std::optional<int> only;
  if (shown > 0) {
    const TModalResult answer = Toolkit().Confirm(
        "表示中の問題 " + std::to_string(shown) +
        " 番だけを書き出しますか？\r\n「いいえ」で全ての問題を一つのファイルに書き出します。");
    if (answer == TModalResult::Cancel) return;
    if (answer == TModalResult::Yes) only = shown;
  }
  const std::string suggested =
      only ? "problem-" + std::to_string(*only) + ".sgf" : std::string("goramina.sgf");
  std::string file = Toolkit().ChooseFileToSave("SGFファイルの書き出し先", kSgfFilter, suggested);
  if (file.empty()) return;
  fs::path target(file);
  if (target.extension() != ".sgf" && target.extension() != ".SGF") target += ".sgf";
  TExportReport report;
  try {
    report = ExportSgf(DataModule1(), target, only, BoxProgress(kExportTitle));
  } catch (const std::exception& e) {
    Toolkit().CloseProgress();
    ShowProblem(shown);
    Toolkit().ShowMessage(std::string("SGF書き出しに失敗しました。\r\n") + e.what());
    return;
  }
  Toolkit().CloseProgress();
  ShowProblem(shown);
  ShowSummary(ExportSummary(report));
}

}  // namespace goramina
