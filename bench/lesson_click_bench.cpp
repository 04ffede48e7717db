// A lesson click on the real window (offscreen), on a problem of a few hundred stored rows:
// from the press on a board point to the window drawn. A click should stay well under 5 ms in
// a Release build; the number of stored rows is the benchmark's argument.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/collection/data_module.h"
#include "app/qt/main_window.h"
#include "app/qt/main_window_toolkit.h"
#include "widgets/ui_font.h"

namespace goramina {
namespace {

namespace fs = std::filesystem;

// Set-up stones, then sequences of moves from the set-up; every sequence starts on its own
// point, and the last one is the correct answer the benchmark clicks.
constexpr int kSetUpStones = 100;
constexpr int kSequences = 10;
constexpr int kSetUpFirstPoint = 200;
constexpr int kMovePoints = 190;  // moves lie on points 1..190, clear of the set-up

int MovePoint(int sequence, int move) {
  return 1 + (sequence * 7 + move * 9) % kMovePoints;
}

// Writes one problem of kSetUpStones + kSequences * movesPerSequence rows.
void WriteCollection(const fs::path& folder, int movesPerSequence) {
  fs::create_directories(folder);
  std::ofstream mondai(folder / "mondai.tsv");
  mondai << "MNB\tHNB\tKB1\tKB2\tMRK\tCMT\tHNT\n"
         << "1\t1\t詰碁\tオキ\t\t長い問題\t\n";
  std::ofstream tejun(folder / "tejun.tsv");
  tejun << "TNB\tHNB\tTES\tCOL\tPST\tBFR\tBTO\tCMT\n";
  int tnb = 0;
  for (int i = 0; i < kSetUpStones; ++i) {
    const int bfr = i == kSetUpStones - 1 ? 1 : 0;
    const int bto = i == 0 ? 9999 : 0;
    tejun << ++tnb << "\t1\t0\t1\t" << kSetUpFirstPoint + i << '\t' << bfr << '\t' << bto << "\t\n";
  }
  for (int s = 0; s < kSequences; ++s) {
    const bool correct = s == kSequences - 1;
    for (int m = 0; m < movesPerSequence; ++m) {
      const int colour = (m % 2 == 0 ? 1 : 2) * (correct ? 1 : -1);
      const int bfr = m == movesPerSequence - 1 ? 2 + s : 0;
      const int bto = m == 0 ? 1 : 0;
      tejun << ++tnb << "\t1\t" << m + 1 << '\t' << colour << '\t' << MovePoint(s, m) << '\t' << bfr
            << '\t' << bto << "\t\n";
    }
  }
}

void BM_LessonClick(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  const int moves = (rows - kSetUpStones) / kSequences;
  const fs::path folder = fs::temp_directory_path() /
                          ("goramina_bench_" + std::to_string(QCoreApplication::applicationPid()));
  fs::remove_all(folder);
  WriteCollection(folder / "DBgoramina", moves);
  InstallCollection(folder / "DBgoramina");
  {
    TDataModule1 module;
    TMainWindow window(module, std::string(GORAMINA_APP_DIR) + "/");
    window.Toolkit().SetUnattended(true);
    window.ShowAndStart();
    QWidget* answer =
        window.Toolkit().Widget("Label" + std::to_string(MovePoint(kSequences - 1, 0)));
    if (answer == nullptr) {
      state.SkipWithError("no board point to click");
      return;
    }
    for (auto _ : state) {
      state.PauseTiming();
      window.Toolkit().ClickGridRow("DBGrid1", 0);  // the problem again, from its set-up
      QApplication::processEvents();
      state.ResumeTiming();
      QTest::mouseClick(answer, Qt::LeftButton);
      QApplication::processEvents();
    }
    state.counters["rows"] = kSetUpStones + kSequences * moves;
    module.DataModuleDestroy();
  }
  fs::remove_all(folder);
}
BENCHMARK(BM_LessonClick)->Arg(120)->Arg(320)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace goramina

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  goramina::InstallJapaneseFontSubstitutes();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
