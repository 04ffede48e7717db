// goramina: the Go problem trainer and editor.
//
//   goramina                    opens the collection ./DBgoramina and shows the main window
//   goramina --screenshot FILE  starts as usual, draws the window once the first problem is on
//                               the board, writes it to FILE (PNG) and ends
//
// The collection is held in memory while the program runs; when the program ends, the changes
// made to it are written back to the collection's text files.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "app/data_module.h"
#include "app/main_form.h"
#include "app/qt/japanese_ui.h"
#include "app/qt/main_window.h"
#include "dataset/collection_text.h"
#include "widgets/ui_font.h"

namespace {

using namespace goramina;

constexpr const char* kCollectionFolder = "DBgoramina";

struct TOptions {
  std::optional<std::string> screenshot;
  bool valid = true;
};

TOptions ParseOptions(int argc, char** argv) {
  TOptions options;
  if (argc == 1) return options;
  if (argc == 3 && std::string(argv[1]) == "--screenshot") {
    options.screenshot = argv[2];
  } else {
    options.valid = false;
  }
  return options;
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
  const TOptions options = ParseOptions(argc, argv);
  if (!options.valid) {
    std::fprintf(stderr, "usage: goramina [--screenshot FILE]\n");
    return 2;
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
