#include "app/toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/toolkit/headless_toolkit.h"

namespace goramina {
namespace {

TControlSpec Spec(TControlKind kind, const std::string& name, const std::string& parent = "") {
  TControlSpec s;
  s.kind = kind;
  s.name = name;
  s.parent = parent;
  s.width = 60;
  s.height = 20;
  return s;
}

TFormSpec SmallForm() {
  TFormSpec f;
  f.name = "Form";
  f.caption = "ゴラミナ";
  f.controls.push_back(Spec(TControlKind::Button, "Button1"));
  f.controls.push_back(Spec(TControlKind::Label, "Label1"));
  f.controls.push_back(Spec(TControlKind::Image, "Image1"));
  f.controls.push_back(Spec(TControlKind::GroupBox, "Group"));
  for (const char* r : {"Radio1", "Radio2", "Radio3"}) {
    f.controls.push_back(Spec(TControlKind::RadioButton, r, "Group"));
  }
  f.controls[4].checked = true;
  auto combo = Spec(TControlKind::ComboBox, "Combo");
  combo.items = {"全て", "死活", "手筋"};
  f.controls.push_back(combo);
  f.controls.push_back(Spec(TControlKind::Grid, "Grid"));
  f.menu = {{"Screens", "画面切替", {{"N2", "道場画面", {}}, {"N3", "編集画面", {}}}}};
  f.statusPanels = {{450}, {140}, {50, TAlignment::Center}};
  f.timers = {{"Timer1", 1000, true}, {"Timer2", 1000, false}};
  f.mediaPlayers = {"MediaPlayer1"};
  return f;
}

class ToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override { tk.CreateForm(SmallForm()); }
  THeadlessToolkit tk;
};

TEST_F(ToolkitTest, ControlsAreFoundByNameAndRefuseOperationsOfOtherKinds) {
  EXPECT_EQ(tk.Control("Label1").Kind(), TControlKind::Label);
  EXPECT_EQ(tk.FindControl("Label2"), nullptr);
  EXPECT_THROW(tk.Control("Label2"), EComponentError);
  EXPECT_THROW(tk.Control("Label1").LoadPicture("x.bmp"), EComponentError);
  EXPECT_THROW(tk.Control("Button1").SetChecked(true), EComponentError);
  EXPECT_EQ(tk.Title(), "ゴラミナ");

  THeadlessToolkit dup;
  TFormSpec f;
  f.controls = {Spec(TControlKind::Label, "A"), Spec(TControlKind::Label, "A")};
  EXPECT_THROW(dup.CreateForm(f), EComponentError);
}

TEST_F(ToolkitTest, PropertiesKeepWhatTheLogicSets) {
  TControl& b = tk.Control("Button1");
  b.SetVisible(false);
  b.SetEnabled(false);
  b.SetLeft(754);
  b.SetTop(472);
  b.SetHeight(310);
  b.SetText("ヒント消去");
  b.SetColor(Rgb(250, 220, 130));
  EXPECT_FALSE(b.Visible());
  EXPECT_FALSE(b.Enabled());
  EXPECT_EQ(b.Left(), 754);
  EXPECT_EQ(b.Top(), 472);
  EXPECT_EQ(b.Height(), 310);
  EXPECT_EQ(b.Text(), "ヒント消去");
  EXPECT_EQ(b.Color(), 8576250);  // the packed value of RGB(250, 220, 130)
}

TEST_F(ToolkitTest, RadioButtonsOfOneGroupExcludeEachOther) {
  tk.Control("Radio3").SetChecked(true);
  EXPECT_FALSE(tk.Control("Radio1").Checked());
  EXPECT_TRUE(tk.Control("Radio3").Checked());
  std::string clicked;
  tk.OnClick("Radio2", [&](const std::string& s) { clicked = s; });
  EXPECT_TRUE(tk.DeliverClick("Radio2"));
  EXPECT_EQ(clicked, "Radio2");
  EXPECT_TRUE(tk.Control("Radio2").Checked());
  EXPECT_FALSE(tk.Control("Radio3").Checked());
}

TEST_F(ToolkitTest, ComboSelectionSetsTheTextAndRefusesBadIndexes) {
  TControl& c = tk.Control("Combo");
  c.SetItemIndex(2);
  EXPECT_EQ(c.Text(), "手筋");
  EXPECT_THROW(c.SetItemIndex(3), EComponentError);
  EXPECT_EQ(c.ItemIndex(), 2);
}

TEST_F(ToolkitTest, StatusPanelsExistOnlyAsDescribed) {
  tk.SetStatusText(0, " 進めてください。");
  EXPECT_EQ(tk.StatusText(0), " 進めてください。");
  EXPECT_EQ(tk.StatusText(2), "");
  EXPECT_THROW(tk.SetStatusText(3, "x"), EComponentError);
  EXPECT_THROW(tk.SetStatusText(-1, "x"), EComponentError);
}

TEST_F(ToolkitTest, EventsReachOnlyVisibleEnabledControlsWithHandlers) {
  int clicks = 0;
  tk.OnClick("Button1", [&](const std::string&) { ++clicks; });
  tk.OnClick("N3", [&](const std::string&) { ++clicks; });
  EXPECT_TRUE(tk.DeliverClick("Button1"));
  EXPECT_TRUE(tk.DeliverClick("N3"));  // menu items are commands too
  tk.Control("Button1").SetEnabled(false);
  EXPECT_FALSE(tk.DeliverClick("Button1"));
  tk.Control("Button1").SetEnabled(true);
  tk.Control("Button1").SetVisible(false);
  EXPECT_FALSE(tk.DeliverClick("Button1"));
  EXPECT_FALSE(tk.DeliverClick("Label1"));  // no handler
  // A hidden group box hides its radio buttons.
  tk.OnClick("Radio1", [&](const std::string&) { ++clicks; });
  tk.Control("Group").SetVisible(false);
  EXPECT_FALSE(tk.DeliverClick("Radio1"));
  EXPECT_EQ(clicks, 2);
}

TEST_F(ToolkitTest, MousePressesCarryButtonAndShiftState) {
  TMouseButton button{};
  TShiftState shift = 0;
  tk.OnMouseDown("Label1", [&](const std::string&, TMouseButton b, TShiftState s, int, int) {
    button = b;
    shift = s;
  });
  EXPECT_TRUE(tk.DeliverMouseDown("Label1", TMouseButton::Right, ssShift | ssRight, 3, 4));
  EXPECT_EQ(button, TMouseButton::Right);
  EXPECT_EQ(shift, ssShift | ssRight);
}

TEST_F(ToolkitTest, TimersTickOnlyWhenEnabledAndNeverInsideARunningHandler) {
  EXPECT_TRUE(tk.TimerEnabled("Timer1"));
  EXPECT_FALSE(tk.TimerEnabled("Timer2"));
  std::vector<std::string> log;
  tk.OnTimer("Timer2", [&](const std::string&) { log.push_back("tick"); });
  EXPECT_FALSE(tk.DeliverTimer("Timer2"));
  tk.SetTimerEnabled("Timer2", true);
  // A tick that falls while a handler runs (say, behind its modal box) waits for it to end.
  tk.OnClick("Button1", [&](const std::string&) {
    log.push_back("click begins");
    EXPECT_FALSE(tk.DeliverTimer("Timer2"));
    log.push_back("click ends");
  });
  tk.DeliverClick("Button1");
  EXPECT_EQ(log, (std::vector<std::string>{"click begins", "click ends", "tick"}));
  // A held tick is dropped when the handler disables its timer.
  log.clear();
  tk.OnClick("Button1", [&](const std::string&) {
    tk.DeliverTimer("Timer2");
    tk.SetTimerEnabled("Timer2", false);
  });
  tk.DeliverClick("Button1");
  EXPECT_TRUE(log.empty());
  EXPECT_THROW(tk.SetTimerEnabled("Timer9", true), EComponentError);
}

TEST_F(ToolkitTest, BoxesAreRecordedAndConfirmationsAnsweredFromTheScript) {
  tk.AnswerNextConfirmations({TModalResult::No, TModalResult::Yes});
  tk.ShowInformation("ゴラミナ\r\nVersion 3.6");
  EXPECT_EQ(tk.Confirm("「ゴラミナ」を終了していいですか？"), TModalResult::No);
  EXPECT_EQ(tk.Confirm("again"), TModalResult::Yes);
  EXPECT_THROW(tk.Confirm("unexpected"), EComponentError);
  ASSERT_EQ(tk.Boxes().size(), 4u);
  EXPECT_EQ(tk.Boxes()[0].kind, TBoxKind::Information);
  EXPECT_EQ(tk.Boxes()[1].answer, TModalResult::No);
}

TEST_F(ToolkitTest, AnErrorInAHandlerEndsTheActionAndIsShown) {
  tk.OnClick("Button1", [](const std::string&) { throw std::runtime_error("Cannot open"); });
  EXPECT_TRUE(tk.DeliverClick("Button1"));
  ASSERT_EQ(tk.Boxes().size(), 1u);
  EXPECT_EQ(tk.Boxes()[0].kind, TBoxKind::Error);
  EXPECT_EQ(tk.Boxes()[0].text, "Cannot open");
  EXPECT_FALSE(tk.InHandler());
}

TEST_F(ToolkitTest, FirstShowIsDeliveredOnce) {
  int shows = 0;
  tk.OnShow([&](const std::string&) { ++shows; });
  tk.Run();
  EXPECT_FALSE(tk.DeliverShow());
  EXPECT_EQ(shows, 1);
}

TEST_F(ToolkitTest, MediaPlayerPlaysOpenWaveFilesAndStaysSilentOtherwise) {
  const auto dir = std::filesystem::temp_directory_path() / "goramina_toolkit_test";
  std::filesystem::create_directories(dir);
  const std::string oto1 = (dir / "Oto1.wav").string();
  std::ofstream(oto1) << "RIFF";
  TMediaPlayer& mp = tk.MediaPlayer("MediaPlayer1");

  mp.SetFileName(oto1);
  EXPECT_FALSE(mp.IsOpen());
  mp.Open();
  EXPECT_TRUE(mp.IsOpen());
  mp.Play();
  EXPECT_EQ(mp.Mode(), TMediaMode::Playing);
  EXPECT_FALSE(mp.IsOpen());

  mp.SetFileName((dir / "Oto2.wav").string());  // missing: silent, no error
  mp.Open();
  EXPECT_EQ(mp.Mode(), TMediaMode::NotOpen);
  mp.Play();

  mp.SetFileName(oto1);
  mp.Open();
  mp.SetFileName((dir / "Oto2.wav").string());  // another file closes the open one
  mp.Play();
  EXPECT_EQ(tk.PlayedSounds(), std::vector<std::string>{oto1});
  std::filesystem::remove_all(dir);
}

TEST_F(ToolkitTest, GridsDetachAndAttachTheirDataSource) {
  TControl& g = tk.Control("Grid");
  EXPECT_TRUE(g.DataSourceAttached());
  g.DetachDataSource();
  EXPECT_FALSE(g.DataSourceAttached());
  g.AttachDataSource();
  EXPECT_TRUE(g.DataSourceAttached());
  EXPECT_THROW(tk.Control("Label1").DetachDataSource(), EComponentError);
}

}  // namespace
}  // namespace goramina
