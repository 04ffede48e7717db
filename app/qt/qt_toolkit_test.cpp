#include "app/qt/qt_toolkit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <filesystem>

#include "app/board/board.h"
#include "app/board/board_view.h"
#include "app/qt/board_demo_scene.h"
#include "app/qt/japanese_ui.h"
#include "app/toolkit/headless_toolkit.h"

namespace goramina {
namespace {

int Luma(QColor c) {
  return (299 * c.red() + 587 * c.green() + 114 * c.blue()) / 1000;
}

QPoint Intersection(int point) {
  return QPoint(kBoardOrigin + kCellPixels * ColumnOf(point),
                kBoardOrigin + kCellPixels * RowOf(point));
}

QRect LabelRect(int point) {
  return QRect(kLabelLeftInset + kCellPixels * ColumnOf(point),
               kLabelTopInset + kCellPixels * RowOf(point), kLabelWidth, kLabelHeight);
}

// Whether some pixel inside `r` passes `test`.
template <typename Test>
bool AnyPixel(const QImage& image, QRect r, Test test) {
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) {
      if (test(image.pixelColor(x, y))) return true;
    }
  }
  return false;
}

class QtBoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tk_.CreateForm(BoardDemoForm());
    view_ = std::make_unique<TBoardView>(tk_, std::string(GORAMINA_APP_DIR) + "/");
    SetBoardView(view_.get());
  }
  void TearDown() override { SetBoardView(nullptr); }

  TQtToolkit tk_;
  std::unique_ptr<TBoardView> view_;
};

TEST_F(QtBoardTest, TheDemoGameRendersStonesNumbersAndTheBoard) {
  const TBoardDemoPoints pts = PlayBoardDemo();
  tk_.Window()->show();
  QApplication::processEvents();
  const QImage image = tk_.GrabClient();
  ASSERT_EQ(image.size(), QSize(536, 536));
  image.save("board_demo_render.png");  // kept in the test's folder for a look by eye

  const QColor board = image.pixelColor(30, 30);  // between lines, no stone
  EXPECT_EQ(board, QColor(254, 231, 182));
  EXPECT_LT(Luma(image.pixelColor(16, 16)), 60) << "point 1's intersection";
  EXPECT_LT(Luma(image.pixelColor(520, 520)), 60) << "point 361's intersection";
  EXPECT_LT(Luma(image.pixelColor(17, 17)), 60) << "the edge lines are 2 pixels wide";

  const QPoint black = Intersection(pts.blackSetUp);
  const QPoint white = Intersection(pts.whiteSetUp);
  EXPECT_LT(Luma(image.pixelColor(black)), 70) << "black stone centre";
  EXPECT_GT(Luma(image.pixelColor(white)), 190) << "white stone centre";
  // A stone covers its cell but not the corners of it: the board shows there.
  EXPECT_EQ(image.pixelColor(black + QPoint(-13, -13)), board);

  // The captured stone is gone: its intersection shows the lines again.
  const QPoint taken = Intersection(pts.captured);
  EXPECT_LT(Luma(image.pixelColor(taken)), 60);
  EXPECT_EQ(image.pixelColor(taken + QPoint(6, 6)), board);

  // A wrong-sequence number on a white stone is dark red.
  EXPECT_TRUE(AnyPixel(image, LabelRect(pts.redNumber), [](QColor c) {
    return c.red() > 100 && c.green() < 50 && c.blue() < 50;
  })) << "red number";
  EXPECT_TRUE(AnyPixel(image, LabelRect(pts.greenMark), [](QColor c) {
    return c.green() > 200 && c.red() < 120 && c.blue() < 120;
  })) << "green choice mark";
}

TEST_F(QtBoardTest, AJapaneseFontIsInstalledAndUsedAtTwelvePixels) {
  ASSERT_TRUE(QFontDatabase::families().contains("IPAPGothic"))
      << "install fonts-ipafont-gothic (scripts/setup): without it Japanese shows as boxes";
  QWidget* label = tk_.Widget("Label1");
  ASSERT_NE(label, nullptr);
  const QFontInfo info(label->font());
  EXPECT_EQ(info.family(), "IPAPGothic");
  EXPECT_EQ(info.pixelSize(), 12);
  const QFontMetrics metrics(label->font());
  for (char32_t ch : {U'●', U'道', U'場', U'ゴ', U'５'}) {
    EXPECT_TRUE(metrics.inFontUcs4(ch)) << static_cast<unsigned>(ch);
  }
  EXPECT_EQ(
      QFontInfo(tk_.Window()->statusBar()->findChild<QWidget*>("StatusPanel0")->font()).family(),
      "IPAPGothic");
}

TEST_F(QtBoardTest, LabelPressesCarryButtonAndShiftAndGiveThePoint) {
  int point = 0;
  TMouseButton button{};
  TShiftState shift = 0;
  for (int n : {1, 20, 361}) {
    tk_.OnMouseDown("Label" + std::to_string(n),
                    [&](const std::string& sender, TMouseButton b, TShiftState s, int, int) {
                      const TControl& l = tk_.Control(sender);
                      point = PointFromLabel(l.Left(), l.Top(), tk_.HorizontalScrollPosition(),
                                             tk_.VerticalScrollPosition());
                      button = b;
                      shift = s;
                    });
  }
  tk_.Window()->show();
  // Clicks go to the topmost widget under the pointer that takes the mouse, as on screen.
  QWidget* client = tk_.Window()->centralWidget();
  auto clickAt = [&](QPoint at, Qt::MouseButton b, Qt::KeyboardModifiers mods) {
    QWidget* target = client->childAt(at);
    if (target == nullptr) target = client;
    QTest::mouseClick(target, b, mods, target->mapFrom(client, at));
  };
  clickAt(QPoint(35 + 19, 11 + 11), Qt::RightButton, Qt::ShiftModifier);  // Label20's far corner
  EXPECT_EQ(point, 20);
  EXPECT_EQ(button, TMouseButton::Right);
  EXPECT_EQ(shift, ssShift | ssRight);
  clickAt(QPoint(520, 520), Qt::LeftButton, Qt::NoModifier);
  EXPECT_EQ(point, 361);
  EXPECT_EQ(button, TMouseButton::Left);
  EXPECT_EQ(shift, ssLeft);
  // On the stone image of point 1 but outside its label: nothing.
  point = 0;
  clickAt(QPoint(4, 4), Qt::LeftButton, Qt::NoModifier);
  EXPECT_EQ(point, 0);
}

TControlSpec Spec(TControlKind kind, const std::string& name, int left, int top,
                  const std::string& parent = "") {
  TControlSpec s;
  s.kind = kind;
  s.name = name;
  s.parent = parent;
  s.left = left;
  s.top = top;
  s.width = 60;
  s.height = 20;
  return s;
}

TFormSpec PanelForm() {
  TFormSpec f;
  f.name = "TForm2";
  f.caption = "ゴラミナ";
  f.clientWidth = 300;
  f.clientHeight = 200;
  f.font = TFont{kMsPGothic, 12, false, clBlack};
  f.controls = {Spec(TControlKind::Button, "CuteButton7", 10, 10),
                Spec(TControlKind::Label, "Label364", 100, 10),
                Spec(TControlKind::Edit, "DBEdit2", 10, 40),
                Spec(TControlKind::ComboBox, "ComboBox3", 100, 40),
                Spec(TControlKind::GroupBox, "GroupBox1", 10, 80)};
  f.controls[4].width = 142;
  f.controls[4].height = 40;
  auto radio = Spec(TControlKind::RadioButton, "RadioButton1", 4, 14, "GroupBox1");
  f.controls.push_back(radio);
  f.controls[3].items = {"○", "△", "□"};
  f.controls[3].comboStyle = TComboStyle::DropDownList;
  f.statusPanels = {{150}, {100}, {50, TAlignment::Center}};
  f.timers = {{"Timer1", 1000, false}};
  f.mediaPlayers = {"MediaPlayer1"};
  f.menu = {{"N1", "終了", {}}};
  return f;
}

// The same operations on the headless toolkit and on the window leave the same state, and
// the window shows that state.
TEST(QtToolkitAgreement, TheWindowShowsWhatTheHeadlessToolkitKeeps) {
  THeadlessToolkit headless;
  TQtToolkit qt;
  headless.CreateForm(PanelForm());
  qt.CreateForm(PanelForm());
  for (TToolkit* tk : {static_cast<TToolkit*>(&headless), static_cast<TToolkit*>(&qt)}) {
    tk->Control("CuteButton7").SetText("解答表示");
    tk->Control("CuteButton7").SetColor(clMoneyGreen);
    tk->Control("CuteButton7").SetLeft(150);
    tk->Control("Label364").SetText("道場画面");
    tk->Control("DBEdit2").SetVisible(false);
    tk->Control("ComboBox3").SetItemIndex(1);
    tk->Control("RadioButton1").SetChecked(true);
    tk->SetStatusText(2, "12/08  09:05 PM");
  }
  qt.Window()->show();
  QApplication::processEvents();
  for (const auto& c : headless.Controls()) {
    const TControl& q = qt.Control(c->Name());
    QWidget* w = qt.Widget(c->Name());
    SCOPED_TRACE(c->Name());
    EXPECT_EQ(q.Text(), c->Text());
    EXPECT_EQ(q.Visible(), c->Visible());
    EXPECT_EQ(q.Left(), c->Left());
    EXPECT_EQ(q.ItemIndex(), c->ItemIndex());
    EXPECT_EQ(q.Checked(), c->Checked());
    EXPECT_EQ(w->geometry(), QRect(c->Left(), c->Top(), c->Width(), c->Height()));
    EXPECT_EQ(w->isVisible(), c->Visible());
  }
  EXPECT_EQ(qobject_cast<QPushButton*>(qt.Widget("CuteButton7"))->text(), "解答表示");
  EXPECT_EQ(qt.Widget("CuteButton7")->palette().color(QPalette::Button), QColor(192, 220, 192));
  EXPECT_EQ(qt.Window()->statusBar()->findChild<QLabel*>("StatusPanel2")->text(),
            "12/08  09:05 PM");
  EXPECT_EQ(qt.StatusText(2), headless.StatusText(2));
  EXPECT_EQ(qt.Window()->centralWidget()->size(), QSize(300, 200));
}

TEST(QtToolkit, ButtonMenuAndRadioClicksReachTheirHandlers) {
  TQtToolkit qt;
  qt.CreateForm(PanelForm());
  std::vector<std::string> got;
  for (const char* name : {"CuteButton7", "N1", "RadioButton1"}) {
    qt.OnClick(name, [&](const std::string& s) { got.push_back(s); });
  }
  qt.Window()->show();
  QTest::mouseClick(qt.Widget("CuteButton7"), Qt::LeftButton);
  qt.Window()->findChild<QAction*>("N1")->trigger();
  QTest::mouseClick(qt.Widget("RadioButton1"), Qt::LeftButton, {}, QPoint(6, 10));
  EXPECT_EQ(got, (std::vector<std::string>{"CuteButton7", "N1", "RadioButton1"}));
  EXPECT_TRUE(qt.Control("RadioButton1").Checked());
  qt.Control("CuteButton7").SetEnabled(false);
  QTest::mouseClick(qt.Widget("CuteButton7"), Qt::LeftButton);
  EXPECT_EQ(got.size(), 3u);
}

TEST(QtToolkit, ConfirmationBoxesAreModalAndAnswerTheButtonPressed) {
  TQtToolkit qt;
  qt.CreateForm(PanelForm());
  qt.Window()->show();
  for (auto [button, expected] :
       {std::pair{QMessageBox::No, TModalResult::No}, {QMessageBox::Yes, TModalResult::Yes}}) {
    QString text;
    QTimer::singleShot(0, [&, button = button] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      text = box->text();
      box->button(button)->click();
    });
    EXPECT_EQ(qt.Confirm("登録手順にありません。\r\n打ち直すなら 「はい」"), expected);
    EXPECT_EQ(text, "登録手順にありません。\n打ち直すなら 「はい」");
  }
}

// The texts of the buttons of the next modal box, which is then closed with its first button.
struct TBoxSeen {
  QString text;
  QStringList buttons;
};
void CloseNextBox(TBoxSeen& seen) {
  QTimer::singleShot(0, [&seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seen.text = box->text();
    for (QAbstractButton* button : box->buttons()) seen.buttons << button->text();
    seen.buttons.sort();
    box->buttons().first()->click();
  });
}

TEST(QtToolkit, EveryBoxSpeaksJapaneseButtonsIncluded) {
  TQtToolkit qt;
  qt.CreateForm(PanelForm());
  qt.Window()->show();
  TBoxSeen seen;
  CloseNextBox(seen);
  qt.Confirm("登録手順にありません。");
  EXPECT_EQ(seen.buttons, (QStringList{"いいえ", "はい"}));
  for (auto show : {&TToolkit::ShowMessage, &TToolkit::ShowInformation}) {
    seen = {};
    CloseNextBox(seen);
    (qt.*show)("分類を登録しました。");
    EXPECT_EQ(seen.buttons, QStringList{"OK"});
  }
  seen = {};
  qt.SetHelpFile("/nonexistent/ゴラミナ.html");
  CloseNextBox(seen);
  qt.ShowHelpContents();
  EXPECT_EQ(seen.buttons, QStringList{"OK"});
  EXPECT_EQ(seen.text, "ヘルプファイル「/nonexistent/ゴラミナ.html」を開けません。");
}

TEST(QtToolkit, AReportKeepsItsSizeAndScrollsItsLines) {
  TQtToolkit qt;
  qt.CreateForm(PanelForm());
  qt.Window()->show();
  for (const int lines : {6, 60}) {
    std::string shown;
    for (int i = 1; i <= lines; ++i)
      shown += "取り込み：problem-" + std::to_string(i) + ".sgf → 問題 " + std::to_string(i) + "\n";
    QString summary, field;
    int height = 0;
    QStringList buttons;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      summary = box->text();
      auto* edit = box->findChild<QPlainTextEdit*>("ReportDetails");
      ASSERT_NE(edit, nullptr);
      field = edit->toPlainText();
      height = box->sizeHint().height();
      for (QAbstractButton* button : box->buttons()) buttons << button->text();
      box->buttons().first()->click();
    });
    static_cast<TToolkit&>(qt).ShowReport(
        "SGF読み込み：" + std::to_string(lines) + " 問を取り込みました。", shown);
    EXPECT_EQ(summary.toStdString(),
              "SGF読み込み：" + std::to_string(lines) + " 問を取り込みました。");
    EXPECT_EQ(field.toStdString(), shown);  // every line, none cut
    EXPECT_EQ(buttons, QStringList{"OK"});
    EXPECT_LT(height, 600) << lines << " lines";  // the old box was 1178 pixels for 60 files
  }
}

TEST(QtToolkit, QtsOwnDialogsSpeakJapaneseOnceAToolkitExists) {
  TQtToolkit qt;
  ASSERT_TRUE(InstallJapaneseTranslations()) << "Qt's Japanese translations are missing";
  QMessageBox box;
  box.setStandardButtons(QMessageBox::Open | QMessageBox::Save | QMessageBox::Cancel);
  QStringList texts;
  for (QAbstractButton* button : box.buttons()) texts << button->text();
  texts.sort();
  EXPECT_EQ(texts, (QStringList{"キャンセル", "保存", "開く"}));
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  QStringList dialogTexts;
  for (auto* buttons : dialog.findChildren<QDialogButtonBox*>())
    for (QAbstractButton* button : buttons->buttons()) dialogTexts << button->text();
  dialogTexts.sort();
  EXPECT_EQ(dialogTexts, (QStringList{"キャンセル", "保存(&S)"}));
}

TEST(QtToolkit, EnabledTimersTickThroughTheEventLoop) {
  TQtToolkit qt;
  qt.CreateForm(PanelForm());
  int ticks = 0;
  qt.OnTimer("Timer1", [&](const std::string&) {
    ++ticks;
    qt.SetTimerEnabled("Timer1", false);  // one tick, then off, as the reply timer does
  });
  qt.SetTimerEnabled("Timer1", true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks > 0; }, 10000));
  EXPECT_FALSE(qt.TimerEnabled("Timer1"));
  EXPECT_EQ(ticks, 1);
}

// A short valid WAVE file: 8 kHz, 8 bits, mono, 800 samples of silence.
void WriteWave(const std::string& path) {
  QByteArray data;
  auto put32 = [&](quint32 v) { data.append(reinterpret_cast<const char*>(&v), 4); };
  auto put16 = [&](quint16 v) { data.append(reinterpret_cast<const char*>(&v), 2); };
  const quint32 samples = 800;
  data.append("RIFF");
  put32(36 + samples);
  data.append("WAVEfmt ");
  put32(16);
  put16(1);
  put16(1);
  put32(8000);
  put32(8000);
  put16(1);
  put16(8);
  data.append("data");
  put32(samples);
  data.append(QByteArray(samples, '\x80'));
  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(data);
}

TEST(QtToolkit, SoundsPlayWithoutWaitingAndWithoutAnAudioDeviceStaySilent) {
  TQtToolkit qt;
  qt.CreateForm(PanelForm());
  const auto dir = std::filesystem::temp_directory_path() / "goramina_qt_sound";
  std::filesystem::create_directories(dir);
  const std::string wave = (dir / "Oto1.wav").string();
  WriteWave(wave);
  TMediaPlayer& mp = qt.MediaPlayer("MediaPlayer1");
  for (int i = 0; i < 3; ++i) {  // as a quick series of moves would
    mp.SetFileName(wave);
    if (!mp.IsOpen()) mp.Open();
    EXPECT_TRUE(mp.IsOpen());
    mp.Play();
    EXPECT_EQ(mp.Mode(), TMediaMode::Playing);
  }
  mp.SetFileName((dir / "missing.wav").string());
  mp.Open();
  EXPECT_EQ(mp.Mode(), TMediaMode::NotOpen);
  mp.Play();
  QTest::qWait(50);  // let any queued audio work run before the player goes away
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace goramina
