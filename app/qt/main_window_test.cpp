// The real main window, off screen, on a collection written by the test.
#include "app/qt/main_window.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "app/board/board.h"
#include "app/collection/data_module.h"
#include "app/collection/field_text.h"
#include "app/qt/data_grid.h"
#include "app/qt/grid_cell_delegate.h"
#include "app/qt/qt_widgets.h"
#include "app/trainer/main_unit.h"
#include "app/trainer/player_aids.h"
#include "app/window/check_problems.h"
#include "app/window/main_form.h"
#include "dataset/cp932.h"
#include "dataset/data_set.h"
#include "widgets/ui_font.h"

namespace goramina {
namespace {

namespace fs = std::filesystem;

// Three problems in the collection's text form: black 1, 2 and white 20 set up, the answer
// 21 (black) then 40 (white).
void WriteCollection(const fs::path& folder) {
  fs::create_directories(folder);
  std::ofstream mondai(folder / "mondai.tsv");
  mondai << "MNB\tHNB\tKB1\tKB2\tMRK\tCMT\tHNT\n"
         << "1\t1\t活きる\tハネ\t○\t隅の白を取る\t急所はどこか\n"
         << "2\t2\t石を取る\tアテ\t△\tシチョウで取る\t上からアテる\n"
         << "3\t3\t詰碁\tオキ\t\t直三の急所\t真ん中\n";
  std::ofstream tejun(folder / "tejun.tsv");
  tejun << "TNB\tHNB\tTES\tCOL\tPST\tBFR\tBTO\tCMT\n";
  int tnb = 0;
  const auto row = [&](int hnb, const char* rest) { tejun << ++tnb << '\t' << hnb << rest; };
  for (int hnb = 1; hnb <= 3; ++hnb) {
    tnb = 0;  // numbered 1..n within each problem
    row(hnb, "\t0\t1\t1\t0\t9999\t\n");
    row(hnb, "\t0\t1\t2\t0\t0\t\n");
    row(hnb, "\t0\t2\t20\t1\t0\t\n");
    row(hnb, "\t1\t1\t21\t0\t1\t正解\n");
    row(hnb, "\t2\t2\t40\t2\t0\t\n");
  }
}

QPoint Centre(int point) {
  return QPoint(kBoardOrigin + kCellPixels * ColumnOf(point),
                kBoardOrigin + kCellPixels * RowOf(point));
}

int Luma(QColor c) {
  return (299 * c.red() + 587 * c.green() + 114 * c.blue()) / 1000;
}

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallJapaneseFontSubstitutes(); }

  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("goramina_window_" + std::to_string(QCoreApplication::applicationPid()));
    fs::remove_all(folder_);
    WriteCollection(folder_ / "DBgoramina");
    database_ = InstallCollection(folder_ / "DBgoramina");
    module_ = std::make_unique<TDataModule1>();
    window_ = std::make_unique<TMainWindow>(*module_, std::string(GORAMINA_APP_DIR) + "/");
    window_->Toolkit().SetUnattended(true);
    window_->ShowAndStart();
  }

  void TearDown() override {
    module_->DataModuleDestroy();
    window_.reset();
    module_.reset();
    fs::remove_all(folder_);
  }

  TMainWindowToolkit& Tk() { return window_->Toolkit(); }
  template <typename W>
  W* Widget(const std::string& name) {
    return dynamic_cast<W*>(Tk().Widget(name));
  }
  // The client area as drawn now (the board starts at its top-left corner).
  QImage Client() {
    QApplication::processEvents();
    return Tk().GrabClient();
  }
  void ClickRow(const std::string& grid, int row) {
    auto* view = Widget<QtDataGrid>(grid);
    ASSERT_NE(view, nullptr);
    const QRect cell = view->visualRect(view->model()->index(row, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QApplication::processEvents();
  }
  void TriggerMenu(const char* name) {
    auto* action = Tk().Window()->findChild<QAction*>(name);
    ASSERT_NE(action, nullptr) << name;
    action->trigger();
    QApplication::processEvents();
  }

  fs::path folder_;
  std::shared_ptr<kura::TMemoryDatabase> database_;
  std::unique_ptr<TDataModule1> module_;
  std::unique_ptr<TMainWindow> window_;
};

TEST_F(MainWindowTest, StartsOnTheDojoScreenAndAClickPutsAStoneOnTheBoard) {
  QMainWindow* window = Tk().Window();
  EXPECT_EQ(window->windowTitle(), "ゴラミナ");
  EXPECT_EQ(window->width(), kWindowWidth);
  EXPECT_NEAR(window->height(), 611, 8);
  EXPECT_EQ(Widget<QtTextLabel>("Label364")->Text(), "道場画面");
  EXPECT_FALSE(Widget<QWidget>("DBGrid2")->isVisible());
  EXPECT_TRUE(Widget<QWidget>("DBGrid1")->isVisible());

  auto* clock = window->findChild<QLabel*>("StatusPanel2");
  ASSERT_NE(clock, nullptr);
  EXPECT_TRUE(
      QRegularExpression("^\\d\\d/\\d\\d  \\d\\d:\\d\\d [AP]M$").match(clock->text()).hasMatch())
      << clock->text().toStdString();

  // The list shows every problem, Japanese text included, with the first one current.
  auto* grid = Widget<QtDataGrid>("DBGrid1");
  ASSERT_EQ(grid->model()->rowCount(), 3);
  EXPECT_EQ(grid->currentIndex().row(), 0);
  EXPECT_EQ(grid->model()->index(0, 3).data().toString(), "隅の白を取る");
  EXPECT_EQ(grid->model()->index(1, 2).data().toString(), "△");

  QImage before = Client();
  before.save("main_window_start.png");  // kept in the test's folder for a look by eye
  const QColor board(254, 231, 182);
  EXPECT_LT(Luma(before.pixelColor(Centre(1) + QPoint(6, 6))), 80) << "black set-up stone";
  const QColor white = before.pixelColor(Centre(20));
  EXPECT_GT(Luma(white), 150) << "white set-up stone";
  EXPECT_LT(std::abs(white.red() - white.blue()), 30) << "grey, not the board's yellow";
  const int empty = PointAt(10, 10);
  EXPECT_EQ(before.pixelColor(Centre(empty) + QPoint(7, 7)), board);

  // Free play: a click on an empty point places the next stone there.
  QTest::mouseClick(Widget<QWidget>("RadioButton3"), Qt::LeftButton);
  EXPECT_EQ(PlayMode, 3);
  QTest::mouseClick(Widget<QWidget>("Label" + std::to_string(empty)), Qt::LeftButton);
  const QImage after = Client();
  after.save("main_window_stone.png");
  EXPECT_NE(Board[empty], 0);
  EXPECT_NE(after.pixelColor(Centre(empty) + QPoint(7, 7)), board);
}

TEST_F(MainWindowTest, AGridClickMovesTheCursorAndLoadsTheProblemWithoutStoringTheHint) {
  ASSERT_TRUE(Tk().DeliverClick("CuteButton13"));  // the hint stands in the comment column
  ClickRow("DBGrid1", 2);
  EXPECT_EQ(module_->KuraQuery1.RecNo(), 3);
  EXPECT_EQ(CurrentProblem, 3);
  EXPECT_EQ(Widget<QtDataGrid>("DBGrid1")->currentIndex().row(), 2);
  module_->KuraQuery1.First();
  EXPECT_EQ(FieldText(module_->KuraQuery1.Fields(mondai::kCMT)), "隅の白を取る");
}

TEST_F(MainWindowTest, DetachedGridsShowNothingAndAttachingRedrawsThem) {
  auto* grid = Widget<QtDataGrid>("DBGrid1");
  Tk().Control("DBGrid1").DetachDataSource();
  EXPECT_FALSE(grid->updatesEnabled());
  module_->KuraQuery1.Last();
  EXPECT_EQ(grid->model()->rowCount(), 0);
  Tk().Control("DBGrid1").AttachDataSource();
  EXPECT_TRUE(grid->updatesEnabled());
  EXPECT_EQ(grid->model()->rowCount(), 3);
  EXPECT_EQ(grid->currentIndex().row(), 2);
}

// The hidden sequence grid does not follow the trainer's cursor moves; shown again, it
// catches up with the row the sequence query stands on.
TEST_F(MainWindowTest, AHiddenGridCatchesUpWithTheCursorWhenShown) {
  auto* grid = Widget<QtDataGrid>("DBGrid2");
  ASSERT_FALSE(grid->isVisible());
  const int before = grid->currentIndex().row();
  QTest::mouseClick(Widget<QWidget>("Label21"), Qt::LeftButton);  // the stored answer
  QApplication::processEvents();
  const int row = module_->KuraQuery2.RecNo() - 1;
  ASSERT_GT(row, 0);
  EXPECT_EQ(grid->currentIndex().row(), before) << "followed while hidden";
  TriggerMenu("N3");
  ASSERT_TRUE(grid->isVisible());
  EXPECT_EQ(grid->currentIndex().row(), module_->KuraQuery2.RecNo() - 1);
  // Shown, it follows every move at once.
  module_->KuraQuery2.First();
  EXPECT_EQ(grid->currentIndex().row(), 0);
  module_->KuraQuery2.Last();
  EXPECT_EQ(grid->currentIndex().row(), module_->KuraQuery2.RecordCount() - 1);
}

TEST_F(MainWindowTest, TheEditScreenTakesTypedHintsIntoTheProblemRow) {
  TriggerMenu("N3");
  EXPECT_EQ(ScreenKind, 2);
  EXPECT_TRUE(Widget<QWidget>("DBGrid2")->isVisible());
  EXPECT_EQ(Widget<QtDataGrid>("DBGrid2")->model()->rowCount(), 5);

  auto* hint = Widget<QLineEdit>("DBEdit1");
  ASSERT_TRUE(hint->isVisible());
  EXPECT_EQ(hint->text(), "急所はどこか");
  hint->setFocus();
  hint->selectAll();
  // Typed as the input method delivers Japanese: a key event carrying the text.
  QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("隅"));
  QApplication::sendEvent(hint, &typed);
  EXPECT_EQ(module_->KuraQuery1.State(), kura::TDataSetState::dsEdit);
  // Moving to another problem posts the typed hint.
  ClickRow("DBGrid1", 1);
  module_->KuraQuery1.First();
  EXPECT_EQ(FieldText(module_->KuraQuery1.Fields(mondai::kHNT)), "隅");

  window_->Grab().save("main_window_edit.png");
}

TEST_F(MainWindowTest, ANewProblemIsRegisteredWithClicksAndListed) {
  TriggerMenu("N3");
  QTest::mouseClick(Widget<QWidget>("CuteButton4"), Qt::LeftButton);  // 登録要求
  ASSERT_EQ(module_->KuraQuery1.State(), kura::TDataSetState::dsInsert);
  auto* grid = Widget<QtDataGrid>("DBGrid1");
  ASSERT_EQ(grid->model()->rowCount(), 4) << "the row being appended is listed";

  // The problem number is typed into the new row's 個番 cell.
  grid->setFocus();
  grid->setCurrentIndex(grid->model()->index(3, 1));
  QTest::keyClicks(grid, "7");
  QTest::keyClick(grid->focusWidget(), Qt::Key_Return);
  QApplication::processEvents();
  ASSERT_EQ(module_->KuraQuery1.Fields(mondai::kHNB).AsInteger(), 7);

  // Black stones with the left button, white with the right.
  for (int point : {100, 101}) {
    QTest::mouseClick(Widget<QWidget>("Label" + std::to_string(point)), Qt::LeftButton);
  }
  QTest::mouseClick(Widget<QWidget>("Label120"), Qt::RightButton);
  EXPECT_EQ(Board[101], 1);
  EXPECT_EQ(Board[120], 2);
  QTest::mouseClick(Widget<QWidget>("CuteButton1"), Qt::LeftButton);  // 問題登録
  QApplication::processEvents();

  EXPECT_EQ(module_->KuraQuery1.State(), kura::TDataSetState::dsBrowse);
  ASSERT_EQ(grid->model()->rowCount(), 4);
  EXPECT_EQ(grid->model()->index(3, 1).data().toString(), "7");
  EXPECT_EQ(grid->currentIndex().row(), 3);
  EXPECT_EQ(Widget<QtDataGrid>("DBGrid2")->model()->rowCount(), 3) << "three set-up stones";
  window_->Grab().save("main_window_registered.png");
}

TEST_F(MainWindowTest, GridCellsDrawTheirWholeNumberHoweverNarrow) {
  TriggerMenu("N3");  // the edit screen shows the sequence grid
  auto* grid = Widget<QtDataGrid>("DBGrid2");
  ASSERT_NE(dynamic_cast<TGridCellDelegate*>(grid->itemDelegate()), nullptr);
  const QModelIndex bto = grid->model()->index(0, 5);  // the set-up's first row
  ASSERT_EQ(bto.data().toString(), "9999");
  ASSERT_EQ(grid->columnWidth(5), 28);
  for (const QString text : {"9999", "-2147483648", "1"}) {
    SCOPED_TRACE(text.toStdString());
    QStyleOptionViewItem option;
    option.initFrom(grid);
    option.widget = grid;
    option.rect = grid->visualRect(bto);
    option.font = grid->font();
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.text = text;
    const int room = CellTextRoom(option);
    ASSERT_GT(room, 0);
    FitCellText(option);
    EXPECT_LE(QFontMetricsF(option.font).horizontalAdvance(text), room);
    if (QFontMetricsF(grid->font()).horizontalAdvance(text) <= room) {
      EXPECT_EQ(option.font, grid->font()) << "a text that fits keeps the grid's font";
    }
  }
  grid->grab().save("sequence_grid.png");
}

TEST_F(MainWindowTest, CategoryListsOpenWideEnoughForTheirLongestEntry) {
  for (const char* name : {"ComboBox1", "ComboBox2"}) {
    SCOPED_TRACE(name);
    auto* selector = Widget<QComboBox>(name);
    ASSERT_NE(selector, nullptr);
    ASSERT_GT(selector->count(), 1);
    const int boxWidth = selector->width();
    QAbstractItemView* list = selector->view();
    selector->showPopup();
    QApplication::processEvents();
    EXPECT_TRUE(list->isVisible());
    // The widest entry with the list's own item margins.
    EXPECT_GE(list->viewport()->width(), list->sizeHintForColumn(0)) << "no entry is cut";
    selector->hidePopup();
    EXPECT_EQ(selector->width(), boxWidth) << "the box keeps its size";
  }
}

TEST_F(MainWindowTest, ATypedCategoryIsSearchedExactlyAsTheBoxShowsIt) {
  struct Case {
    QString typed;
    int rows;  // problems found with 全て as the minor category
  };
  // 石を取る is problem 2's category; 活 only begins one (活きる, problem 1).
  for (const Case& c : {Case{"石を取る", 1}, Case{"活", 0}, Case{"活きる", 1}}) {
    SCOPED_TRACE(c.typed.toStdString());
    auto* major = Widget<QComboBox>("ComboBox1");
    major->lineEdit()->setFocus();
    major->lineEdit()->selectAll();
    QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, c.typed);
    QApplication::sendEvent(major->lineEdit(), &typed);
    QApplication::processEvents();
    EXPECT_EQ(major->currentText(), c.typed) << "nothing is completed behind the typing";
    EXPECT_EQ(Tk().Control("ComboBox1").Text(), c.typed.toStdString());
    QTest::mouseClick(Widget<QWidget>("CuteButton15"), Qt::LeftButton);  // 問題検索
    EXPECT_EQ(major->currentText(), c.typed) << "the box still shows what was typed";
    EXPECT_EQ(module_->KuraQuery1.RecordCount(), c.rows);
    if (c.rows == 1) {
      EXPECT_EQ(module_->KuraQuery1.Fields(mondai::kKB1).AsString(),
                kura::Utf8ToCp932(c.typed.toStdString()));
    }
  }
}

TEST_F(MainWindowTest, ACategoryTypedIntoASelectorIsSearchedAndNotAddedToItsList) {
  auto* major = Widget<QComboBox>("ComboBox1");
  ASSERT_NE(major, nullptr);
  const int vocabulary = major->count();
  ASSERT_EQ(vocabulary, static_cast<int>(Tk().Control("ComboBox1").Items().size()));

  major->lineEdit()->setFocus();
  major->lineEdit()->selectAll();
  QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("隅"));
  QApplication::sendEvent(major->lineEdit(), &typed);
  QTest::keyClick(major->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(major->count(), vocabulary) << "the list offers the categories only";
  EXPECT_EQ(Tk().Control("ComboBox1").Text(), "隅");
  EXPECT_EQ(major->currentText(), "隅");

  QTest::mouseClick(Widget<QWidget>("CuteButton15"), Qt::LeftButton);  // 問題検索
  EXPECT_EQ(module_->KuraQuery1.RecordCount(), 0);

  // Choosing from the list again shows and searches the item chosen.
  QTest::keyClick(major->lineEdit(), Qt::Key_Down);
  EXPECT_EQ(Tk().Control("ComboBox1").Text(), major->currentText().toStdString());
}

// Whether the client area holds dark (text) pixels inside `area`.
bool HasInk(const QImage& image, QRect area) {
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (Luma(image.pixelColor(x, y)) < 110) return true;
    }
  }
  return false;
}

bool IsRingRed(QColor c) {
  return c.red() > 170 && c.green() < 110 && c.blue() < 110;
}

TEST_F(MainWindowTest, CoordinatesAreDrawnInTheMarginUntilTheMenuHidesThem) {
  // Letters below the board under columns A and T, numbers right of it beside rows 19 and 1.
  const QRect underA(kBoardOrigin - 5, 538, 10, 10);
  const QRect underT(kBoardOrigin + 18 * kCellPixels - 5, 538, 10, 10);
  const QRect beside19(538, kBoardOrigin - 5, 11, 10);
  const QRect beside1(538, kBoardOrigin + 18 * kCellPixels - 5, 11, 10);
  auto* item = Tk().Window()->findChild<QAction*>(kCoordinatesItem);
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(item->isCheckable());
  EXPECT_TRUE(item->isChecked());

  const QImage shown = Client();
  shown.save("main_window_coordinates.png");
  for (const QRect& r : {underA, underT, beside19, beside1}) EXPECT_TRUE(HasInk(shown, r));

  TriggerMenu(kCoordinatesItem);
  EXPECT_FALSE(item->isChecked());
  const QImage hidden = Client();
  for (const QRect& r : {underA, underT, beside19, beside1}) EXPECT_FALSE(HasInk(hidden, r));
  TriggerMenu(kCoordinatesItem);
  EXPECT_TRUE(HasInk(Client(), underA));
}

// The coordinates' own pixels: those that change when the menu item hides them.
std::vector<QPoint> CoordinatePixels(const QImage& shown, const QImage& hidden) {
  std::vector<QPoint> pixels;
  for (int y = 0; y < shown.height(); ++y) {
    for (int x = 0; x < shown.width(); ++x) {
      if (shown.pixel(x, y) != hidden.pixel(x, y)) pixels.emplace_back(x, y);
    }
  }
  return pixels;
}

// A pixel something else drew there: not the window's background, not the board.
bool DrawnBesideTheBoard(const QImage& image, int x, int y) {
  if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return false;
  if (x < 536 && y < 536) return false;
  const QColor c = image.pixelColor(x, y);
  const QColor background(240, 240, 255);
  return std::abs(c.red() - background.red()) + std::abs(c.green() - background.green()) +
             std::abs(c.blue() - background.blue()) >
         24;
}

TEST_F(MainWindowTest, CoordinatesKeepClearOfEveryControlOnBothScreens) {
  // Text needs a few pixels of air to read as two words; "18問題リスト" had none.
  constexpr int kClearance = 6;
  for (const char* screen : {"N2", "N3"}) {
    SCOPED_TRACE(screen);
    TriggerMenu(screen);
    const QImage shown = Client();
    TriggerMenu(kCoordinatesItem);
    const QImage hidden = Client();
    TriggerMenu(kCoordinatesItem);
    shown.save(QString("main_window_coordinates_%1.png").arg(screen));
    const std::vector<QPoint> ink = CoordinatePixels(shown, hidden);
    // Each of the 19 row numbers is drawn.
    for (int row = 0; row < kBoardSize; ++row) {
      const int centre = kBoardOrigin + kCellPixels * row;
      EXPECT_TRUE(
          std::any_of(ink.begin(), ink.end(),
                      [&](QPoint p) { return p.x() >= 536 && std::abs(p.y() - centre) <= 5; }))
          << "row number " << kBoardSize - row;
    }
    int touching = 0;
    QPoint first;
    for (const QPoint& p : ink) {
      for (int dy = -kClearance; dy <= kClearance && touching == 0; ++dy) {
        for (int dx = -kClearance; dx <= kClearance; ++dx) {
          if (DrawnBesideTheBoard(hidden, p.x() + dx, p.y() + dy)) {
            first = p;
            ++touching;
            break;
          }
        }
      }
      if (touching > 0) break;
    }
    EXPECT_EQ(touching, 0) << "a coordinate at (" << first.x() << ", " << first.y()
                           << ") touches another control";
  }
}

// WCAG's relative luminance and contrast ratio (4.5 is its floor for small text).
double RelativeLuminance(QColor c) {
  const auto channel = [](int v) {
    const double s = v / 255.0;
    return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}
double Contrast(QColor a, QColor b) {
  const double la = RelativeLuminance(a), lb = RelativeLuminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST_F(MainWindowTest, WrongMoveNumbersReadOnBothStones) {
  TriggerMenu(kCoordinatesItem);  // nothing but the stones near the points used
  for (const int colour : {-1, -2}) {
    SCOPED_TRACE(colour == -1 ? "on a black stone" : "on a white stone");
    const int point = PointAt(10, 10 + colour);
    Board[point] = colour;
    ASSERT_TRUE(PlaceStone(0, colour, point, 2));  // the stone alone
    const QImage bare = Client();
    Board[point] = colour;
    ASSERT_TRUE(PlaceStone(88, colour, point, 2));
    const QImage numbered = Client();
    numbered.save(QString("main_window_wrong_number_%1.png").arg(-colour));
    // The number's strokes: the pixels it changed by at least half the most it changed any.
    // Their contrast with the stone beneath, taken at the median, is what the eye reads (the
    // stone's shading and the strokes' smoothed edges fall to either side).
    const QRect cell(Centre(point) - QPoint(10, 6), QSize(20, 12));
    const auto change = [&](int x, int y) {
      const QColor a = bare.pixelColor(x, y), b = numbered.pixelColor(x, y);
      return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
             std::abs(a.blue() - b.blue());
    };
    int most = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
      for (int x = cell.left(); x <= cell.right(); ++x) most = std::max(most, change(x, y));
    ASSERT_GT(most, 0) << "no number drawn";
    std::vector<double> contrasts;
    QColor text;
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
      for (int x = cell.left(); x <= cell.right(); ++x) {
        if (2 * change(x, y) < most) continue;
        contrasts.push_back(Contrast(numbered.pixelColor(x, y), bare.pixelColor(x, y)));
        if (change(x, y) == most) text = numbered.pixelColor(x, y);
      }
    }
    std::nth_element(contrasts.begin(), contrasts.begin() + contrasts.size() / 2, contrasts.end());
    const double median = contrasts[contrasts.size() / 2];
    EXPECT_GT(text.red(), text.green() + 60) << "the number still reads as red";
    EXPECT_GE(median, 4.5) << "over " << contrasts.size() << " pixels of the number";
  }
}

TEST_F(MainWindowTest, TheLastMoveRingMovesWithThePlayAndKeysStepThroughIt) {
  const QPoint ringOffset(kCellPixels / 2 - 3, 0);  // on the ring, right of the centre
  EXPECT_FALSE(IsRingRed(Client().pixelColor(Centre(21) + ringOffset)));

  QTest::mouseClick(Widget<QWidget>("Label21"), Qt::LeftButton);  // the lesson's right move
  QImage image = Client();
  EXPECT_TRUE(IsRingRed(image.pixelColor(Centre(21) + ringOffset)));
  EXPECT_EQ(Widget<QtTextLabel>(kSideToMoveLabel)->Text(), QString(kWhiteToPlay));

  Tk().DeliverTimer("Timer2");  // the reply
  image = Client();
  image.save("main_window_last_move.png");
  EXPECT_TRUE(IsRingRed(image.pixelColor(Centre(40) + ringOffset)));
  EXPECT_FALSE(IsRingRed(image.pixelColor(Centre(21) + ringOffset)));
  EXPECT_EQ(Widget<QtTextLabel>(kVerdictLabel)->Text(), QString("○ ") + kCorrectVerdict);

  // ← takes the reply back: the ring returns to the move before it.
  QTest::keyClick(Tk().Window(), Qt::Key_Left);
  image = Client();
  EXPECT_EQ(Board[40], 0);
  EXPECT_TRUE(IsRingRed(image.pixelColor(Centre(21) + ringOffset)));

  // Keys typed into a field stay in the field.
  auto* comment = Widget<QLineEdit>("DBEdit2");
  ASSERT_NE(comment, nullptr);
  comment->setFocus();
  QTest::keyClick(comment, Qt::Key_Down);
  EXPECT_EQ(CurrentProblem, 1);
  // Back on the board, ↓ loads the next problem.
  Tk().Window()->centralWidget()->setFocus();
  QTest::keyClick(Tk().Window(), Qt::Key_Down);
  EXPECT_EQ(CurrentProblem, 2);
}

TEST_F(MainWindowTest, TheWindowGoesOnWhileGnuGoChecksAndItsBoxCancels) {
  TriggerMenu("N3");
  // The engine starts only once the user has pressed 中止, so the check outlasts the window's
  // timers: they must keep running meanwhile.
  std::atomic<bool> cancelled{false};
  SetProblemCheckEngine([&cancelled] {
    for (int waited = 0; waited < 1000 && !cancelled; ++waited)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return GnuGoStarter()();
  });
  QString seen;
  QObject timers;  // cancels a pending look when the test ends
  std::function<void()> look = [&] {
    auto* box = Tk().Window()->findChild<QProgressDialog*>();
    if (box == nullptr || !box->isVisible()) {
      QTimer::singleShot(20, &timers, look);
      return;
    }
    seen = box->labelText();
    box->cancel();  // 中止
    cancelled = true;
  };
  QTimer::singleShot(20, &timers, look);
  TriggerMenu("KenshoAll");
  SetProblemCheckEngine({});
  EXPECT_TRUE(cancelled) << "the progress box was never seen";
  EXPECT_TRUE(seen.startsWith("問題検証中… 1/")) << seen.toStdString();
  EXPECT_EQ(Tk().Window()->findChild<QProgressDialog*>(), nullptr);
  EXPECT_EQ(Tk().StatusText(0), "");
}

}  // namespace
}  // namespace goramina
