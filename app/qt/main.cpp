// goramina: the Go problem trainer and editor.
//
//   goramina                    opens the collection ./DBgoramina and shows the main window
//   goramina --screenshot FILE  starts as usual, draws the window once the first problem is on
//                               the board, writes it to FILE (PNG) and ends
//   goramina --check-problems [--problem N] [--time-limit SECONDS] [--json]
//                               checks every problem (or problem N) with GNU Go, each within
//                               the time limit (60 seconds unless given), prints the findings
//                               (or one JSON document) and ends: 0 all sound, 1 a problem is
//                               unsound or could not be checked, 2 usage, no such problem or
//                               no GNU Go
//   goramina --import-sgf FILE_OR_FOLDER... [--json]
//   goramina --export-sgf FOLDER_OR_FILE.sgf [--problem N] [--json]
//                               SGF import into ./DBgoramina or export from it, without a window:
//                               0 all done, 1 something refused, 2 usage or I/O failure
//   goramina --list-problems [--json]
//                               number, categories, mark and comment of every problem
//
// The collection is held in memory while the program runs; when the program ends, the changes
// made to it are written back to the collection's text files.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/collection/data_module.h"
#include "app/exchange/sgf_command.h"
#include "app/qt/japanese_ui.h"
#include "app/qt/main_window.h"
#include "app/window/check_problems.h"
#include "app/window/main_form.h"
#include "dataset/collection_text.h"
#include "widgets/ui_font.h"

namespace {

using namespace goramina;

constexpr const char* kCollectionFolder = "DBgoramina";

constexpr const char* kUsage =
    "usage: goramina [--screenshot FILE]\n"
    "       goramina --check-problems [--problem N] [--time-limit SECONDS] [--json]\n";

struct TOptions {
  std::optional<std::string> screenshot;
  std::optional<TCheckCommand> check;
  bool valid = true;
};

TOptions ParseOptions(const std::vector<std::string>& arguments) {
  TOptions options;
  if (arguments.empty()) return options;
  if (arguments.size() == 2 && arguments[0] == "--screenshot") {
    options.screenshot = arguments[1];
  } else if (arguments[0] == "--check-problems") {
    std::string error;
    options.check = ParseCheckCommand({arguments.begin() + 1, arguments.end()}, error);
    if (!options.check) {
      std::fprintf(stderr, "goramina: %s\n", error.c_str());
      options.valid = false;
    }
  } else {
    options.valid = false;
  }
  return options;
}

// --check-problems: no window; the findings go to standard output.
int CheckProblems(const std::filesystem::path& folder, const TCheckCommand& command) {
  try {
    InstallCollection(folder);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "goramina: 問題集「%s」を開けません。\n%s\n", folder.string().c_str(),
                 e.what());
    return kCheckFailed;
  }
  return RunProblemCheckCommand(command, std::cout, std::cerr);
}

// Without a display a picture can still be rendered off screen.
void ChooseOffscreenWithoutDisplay() {
  if (std::getenv("QT_QPA_PLATFORM") != nullptr) return;
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
}

void Complain(const std::string& text, bool withBox) {
  std::fprintf(stderr, "goramina: %s\n", text.c_str());
  if (withBox) {
    QMessageBox::critical(nullptr, QString::fromStdString(std::string(kApplicationTitle)),
                          QString::fromStdString(text));
  }
}

// Both tables as they stand, to tell at exit whether anything changed.
struct TSnapshot {
  std::vector<kura::TRecord> mondai, tejun;
  bool operator==(const TSnapshot&) const = default;
};

TSnapshot Snapshot(const kura::TMemoryDatabase& database) {
  return {database.Rows("mondai"), database.Rows("tejun")};
}

// Shows the window and runs until it closes, or renders it into `screenshot`. Answers the exit
// code. The four queries are closed before the window goes.
int RunWindow(TDataModule1& module, const TOptions& options) {
  TMainWindow window(module);
  window.Toolkit().SetUnattended(options.screenshot.has_value());
  int code = 0;
  if (options.screenshot) {
    window.ShowAndStart();
    if (!window.Grab().save(QString::fromStdString(*options.screenshot), "PNG")) {
      Complain("cannot write the picture \"" + *options.screenshot + "\"", false);
      code = 1;
    }
  } else {
    code = window.Run();
  }
  module.DataModuleDestroy();
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  {
    std::string error;
    if (const std::optional<TSgfCommand> command = ParseSgfCommand(arguments, error)) {
      if (!error.empty()) {
        std::fprintf(stderr, "goramina: %s\n%s%s", error.c_str(), kUsage, kSgfUsage);
        return kSgfFailed;
      }
      return RunSgfCommand(*command, std::filesystem::current_path() / kCollectionFolder, std::cout,
                           std::cerr);
    }
  }
  const TOptions options = ParseOptions(arguments);
  if (!options.valid) {
    std::fprintf(stderr, "%s%s", kUsage, kSgfUsage);
    return 2;
  }
  if (options.check) {
    return CheckProblems(std::filesystem::current_path() / kCollectionFolder, *options.check);
  }
  if (options.screenshot) ChooseOffscreenWithoutDisplay();
  QApplication app(argc, argv);
  InstallJapaneseFontSubstitutes();
  InstallJapaneseTranslations();
  QApplication::setApplicationName(QString::fromStdString(std::string(kApplicationTitle)));

  const std::filesystem::path folder = std::filesystem::current_path() / kCollectionFolder;
  std::shared_ptr<kura::TMemoryDatabase> database;
  try {
    database = InstallCollection(folder);
  } catch (const std::exception& e) {
    Complain("問題集「" + folder.string() + "」を開けません。\n" + e.what(),
             !options.screenshot.has_value());
    return 1;
  }
  const TSnapshot loaded = Snapshot(*database);

  int code = 0;
  {
    TDataModule1 module;
    code = RunWindow(module, options);
  }

  if (!options.screenshot && !(Snapshot(*database) == loaded)) {
    try {
      kura::SaveProblemCollection(*database, folder);
    } catch (const std::exception& e) {
      Complain("問題集の変更を保存できません。\n" + std::string(e.what()), true);
      return 1;
    }
  }
  return code;
}
