// The main window TForm2: its controls, the two screens, the menus, the clock, start-up and
// the handlers that only forward to the data module or the board.
#include "app/window/main_form.h"

#include <string>
#include <utility>
#include <vector>

#include "app/board/board.h"
#include "app/board/board_view.h"
#include "app/collection/data_module.h"
#include "app/collection/selector_vocabulary.h"
#include "app/editor/editing.h"
#include "app/toolkit/toolkit.h"
#include "app/trainer/main_unit.h"
#include "app/trainer/player_aids.h"
#include "app/window/check_problems.h"
#include "app/window/sgf_menu.h"

namespace goramina {
namespace {

constexpr int kButtonWidth = 60;
constexpr int kWideButtonWidth = 62;  // CuteButton13: ヒント表示 / ヒント消去
constexpr int kButtonHeight = 20;
constexpr int kComboHeight = 20;
constexpr int kCaptionHeight = 12;
constexpr int kCaptionCharWidth = 12;  // a full-width character at the 12-pixel font
constexpr int kStatusPanelClock = 2;

// The left of a panel control whose design place is `designLeft` (kPanelShift).
constexpr int PanelLeft(int designLeft) {
  return designLeft + kPanelShift;
}

std::vector<std::string> Texts(auto const& vocabulary) {
  return std::vector<std::string>(vocabulary.begin(), vocabulary.end());
}

// A caption label sized to its text (full-width characters).
TControlSpec Caption(const std::string& name, const std::string& text, int left, int top,
                     bool bold = false) {
  TControlSpec c;
  c.kind = TControlKind::Label;
  c.name = name;
  c.text = text;
  c.left = left;
  c.top = top;
  // Wide enough for the longest text the label takes (ヒント入力 on the edit screen).
  c.width = kCaptionCharWidth * 5 + 4;
  c.height = kCaptionHeight + 2;
  c.transparent = true;
  c.font.bold = bold;
  return c;
}

TControlSpec Button(int number, const std::string& caption, int left, int top,
                    TColor face = clDefault, TColor captionColour = clBlack) {
  TControlSpec c;
  c.kind = TControlKind::Button;
  c.name = "CuteButton" + std::to_string(number);
  c.text = caption;
  c.left = left;
  c.top = top;
  c.width = number == 13 ? kWideButtonWidth : kButtonWidth;
  c.height = kButtonHeight;
  c.color = face;
  c.font.color = captionColour;
  return c;
}

TControlSpec Combo(const std::string& name, const std::string& text, std::vector<std::string> items,
                   int left, int top, int width, TComboStyle style) {
  TControlSpec c;
  c.kind = TControlKind::ComboBox;
  c.name = name;
  c.text = text;
  c.items = std::move(items);
  c.left = left;
  c.top = top;
  c.width = width;
  c.height = kComboHeight;
  c.comboStyle = style;
  return c;
}

TControlSpec DataEdit(const std::string& name, const std::string& source, const std::string& field,
                      int left, int top, TColor colour) {
  TControlSpec c;
  c.kind = TControlKind::Edit;
  c.name = name;
  c.dataSource = source;
  c.dataField = field;
  c.left = left;
  c.top = top;
  c.width = 201;
  c.height = 20;
  c.color = colour;
  return c;
}

TControlSpec Radio(int number, const std::string& caption, int left, bool checked) {
  TControlSpec c;
  c.kind = TControlKind::RadioButton;
  c.name = "RadioButton" + std::to_string(number);
  c.parent = "GroupBox1";
  c.text = caption;
  c.left = left;
  c.top = 7;
  c.width = 45;
  c.height = 16;
  c.checked = checked;
  return c;
}

void AddGrids(std::vector<TControlSpec>& controls) {
  TControlSpec grid1;
  grid1.kind = TControlKind::Grid;
  grid1.name = "DBGrid1";
  grid1.dataSource = "DataSource1";
  grid1.left = 550;
  grid1.top = 55;
  grid1.width = 267;
  grid1.height = 74;
  grid1.columns = {{"MNB", "通番", 28, TAlignment::Center},
                   {"HNB", "個番", 28, TAlignment::Center},
                   {"MRK", "記号", 28, TAlignment::Center},
                   {"CMT", "コメント", 147, TAlignment::Left}};
  controls.push_back(grid1);

  TControlSpec grid2;
  grid2.kind = TControlKind::Grid;
  grid2.name = "DBGrid2";
  grid2.dataSource = "DataSource2";
  grid2.left = 550;
  grid2.top = 256;
  grid2.width = 267;
  grid2.height = 97;
  // Row, move number, colour, point, the label a sequence ends with, the label it continues.
  const std::pair<const char*, const char*> titles[] = {{"TNB", "通番"}, {"TES", "手数"},
                                                        {"COL", "色"},   {"PST", "位置"},
                                                        {"BFR", "終端"}, {"BTO", "継続"}};
  for (const auto& [field, title] : titles) {
    grid2.columns.push_back({field, title, 28, TAlignment::Left});
  }
  grid2.columns.push_back({"CMT", "コメント", 58, TAlignment::Left});
  controls.push_back(grid2);
}

void AddButtons(std::vector<TControlSpec>& controls) {
  controls.push_back(Button(1, "問題登録", 618, 416, kRegisterFace, clNavy));
  controls.push_back(Button(2, "問題削除", 686, 416, kRegisterFace, clNavy));
  controls.push_back(Button(3, "手順削除", 686, 440, kSequenceFace));
  controls.push_back(Button(4, "登録要求", 550, 416, kRegisterFace, clNavy));
  controls.push_back(Button(5, "正手順登録", 550, 440, kSequenceFace, clNavy));
  controls.push_back(Button(6, "悪手順登録", 618, 440, kSequenceFace, clNavy));
  controls.push_back(Button(7, "解答表示", 754, 472, clMoneyGreen));
  controls.push_back(Button(8, "1手進む", 550, 472));
  controls.push_back(Button(9, "１手戻す", 618, 472));
  controls.push_back(Button(10, "１手順戻す", 686, 472));
  controls.push_back(Button(11, "クリア", 756, 504));
  controls.push_back(Button(12, "分類編集", 752, 176));
  controls.push_back(Button(13, "ヒント表示", 752, 34, clMoneyGreen));
  controls.push_back(Button(14, "キャンセル", 754, 416, kRegisterFace));
  controls.push_back(Button(15, "問題検索", 680, 208));
  controls.push_back(Button(16, "全問表示", 680, 176));
}

void AddSelectors(std::vector<TControlSpec>& controls) {
  controls.push_back(Combo("ComboBox1", std::string(kMajorCategoryCaption), Texts(kMajorCategories),
                           600, 184, 73, TComboStyle::DropDown));
  controls.push_back(Combo("ComboBox2", std::string(kMinorCategoryCaption), Texts(kMinorCategories),
                           600, 208, 73, TComboStyle::DropDown));
  controls.push_back(Combo("ComboBox3", std::string(kMarkCaption), Texts(kMarks), 698, 504, 50,
                           TComboStyle::DropDownList));

  TControlSpec group;
  group.kind = TControlKind::GroupBox;
  group.name = "GroupBox1";
  group.left = 550;
  group.top = 499;
  group.width = 142;
  group.height = 28;
  controls.push_back(group);
  controls.push_back(Radio(1, "教材", 4, true));
  controls.push_back(Radio(2, "交互", 50, false));
  controls.push_back(Radio(3, "自由", 96, false));
}

std::vector<TMenuItemSpec> MainMenu() {
  std::vector<TMenuItemSpec> menu = {
      {"N5",
       "ファイル",
       {{"SgfImport", "SGF読み込み…", {}},
        {"SgfImportFolder", "SGFフォルダ読み込み…", {}},
        {"SgfExport", "SGF書き出し…", {}}}},
      {"N1", "画面切替", {{"N2", "道場画面", {}}, {"N3", "編集画面", {}}}}};
  for (auto& item : PlayerAidMenus()) menu.push_back(std::move(item));
  menu.push_back(
      {"Kensho", "問題検証", {{"KenshoOne", "この問題", {}}, {"KenshoAll", "全問題", {}}}});
  menu.push_back(
      {"N4", "ヘルプ", {{"Allhelp", "オンラインヘルプ", {}}, {"Vinfo", "バージョン情報", {}}}});
  menu.push_back({"Apriend", "終了", {}});
  return menu;
}

void SetTop(const char* name, int top) {
  Toolkit().Control(name).SetTop(top);
}

void Show(const char* name, bool visible) {
  Toolkit().Control(name).SetVisible(visible);
}

void ShowAt(const char* name, int top) {
  Show(name, true);
  SetTop(name, top);
}

}  // namespace

TFormSpec MainFormSpec() {
  TFormSpec form;
  form.name = "Form2";
  form.caption = std::string(kApplicationTitle);
  form.clientWidth = kClientWidth;
  form.clientHeight = kClientHeight;
  form.color = kWindowColour;
  form.font = TFont{kMsPGothic, 12, false, clBlack};

  // The board first; then the captions, which lie beneath the windowed controls (Label365
  // hides under the problem list on the dojo screen); then the windowed controls.
  form.controls = BoardControlSpecs();
  for (auto& aid : PlayerAidControlSpecs()) form.controls.push_back(std::move(aid));
  std::vector<TControlSpec> panel;
  panel.push_back(Caption("Label362", "コメント", 552, 360));
  panel.push_back(Caption("Label363", "問題リスト", 552, 40));
  panel.push_back(Caption("Label364", "道場画面", 648, 8, true));
  panel.push_back(Caption("Label365", "ヒント", 552, 144));
  panel.push_back(Caption("Label367", "大分類", 552, 184));
  panel.push_back(Caption("Label368", "小分類", 552, 216));
  panel.push_back(Caption("Label369", "手順リスト", 552, 240));
  AddGrids(panel);
  panel.push_back(DataEdit("DBEdit1", "DataSource1", "HNT", 616, 143, kCream));
  panel.push_back(DataEdit("DBEdit2", "DataSource2", "CMT", 616, 360, clDefault));
  AddSelectors(panel);
  AddButtons(panel);
  for (TControlSpec& control : panel) {
    // Controls inside the group box are placed within it and move with it.
    if (control.parent.empty()) control.left = PanelLeft(control.left);
    form.controls.push_back(std::move(control));
  }

  form.menu = MainMenu();
  form.statusPanels = {{450, TAlignment::Left}, {140, TAlignment::Left}, {50, TAlignment::Center}};
  form.statusBold = true;
  form.timers = {{"Timer1", 1000, true}, {"Timer2", 1000, true}};
  form.mediaPlayers = {"MediaPlayer1"};
  return form;
}

void CreateMainForm(TToolkit& toolkit) {
  toolkit.SetTitle(std::string(kApplicationTitle));
  toolkit.CreateForm(MainFormSpec());
  toolkit.SetHelpFile(toolkit.ProgramDir() + std::string(kHelpFileName));
  ConnectHandlers(toolkit);
}

void ShowDojoScreen() {
  TToolkit& tk = Toolkit();
  Show("DBGrid1", true);
  tk.Control("DBGrid1").SetHeight(310);
  Show("DBGrid2", false);
  Show("DBEdit1", false);
  ShowAt("DBEdit2", 442);
  Show("CuteButton1", false);
  tk.Control("CuteButton1").SetEnabled(false);
  for (const char* name : {"CuteButton2", "CuteButton3", "CuteButton4", "CuteButton5",
                           "CuteButton6", "CuteButton12", "CuteButton14"}) {
    Show(name, false);
  }
  Show("CuteButton7", true);
  tk.Control("CuteButton7").SetLeft(PanelLeft(754));
  for (const char* name : {"CuteButton8", "CuteButton9", "CuteButton10"}) SetTop(name, 472);
  Show("CuteButton13", true);
  ShowAt("CuteButton15", 382);
  ShowAt("CuteButton16", 412);
  SetTop("Label362", 445);
  SetTop("Label367", 385);
  SetTop("Label368", 415);
  for (const char* name : {"ComboBox1", "ComboBox2"}) {
    Show(name, true);
    tk.Control(name).SetLeft(PanelLeft(600));
  }
  SetTop("ComboBox1", 382);
  SetTop("ComboBox2", 412);
  Show("ComboBox3", true);
  Show("GroupBox1", true);
  ShowPlayerAids(true);
  PlayMode = 1;
}

void ShowEditScreen() {
  TToolkit& tk = Toolkit();
  Show("DBGrid1", true);
  tk.Control("DBGrid1").SetHeight(122);
  ShowAt("DBGrid2", 280);
  tk.Control("DBGrid2").SetHeight(122);
  ShowAt("DBEdit1", 184);
  ShowAt("DBEdit2", 418);
  for (const char* name : {"CuteButton1", "CuteButton2", "CuteButton4", "CuteButton14"}) {
    ShowAt(name, 446);
  }
  for (const char* name : {"CuteButton3", "CuteButton5", "CuteButton6"}) ShowAt(name, 475);
  Show("CuteButton7", false);
  for (const char* name : {"CuteButton8", "CuteButton9", "CuteButton10"}) SetTop(name, 504);
  ShowAt("CuteButton12", 211);
  Show("CuteButton13", false);
  SetTop("CuteButton15", 235);
  ShowAt("CuteButton16", 211);
  SetTop("Label362", 420);
  SetTop("Label365", 187);
  SetTop("Label367", 214);
  SetTop("Label368", 238);
  SetTop("Label369", 267);
  ShowAt("ComboBox1", 211);
  ShowAt("ComboBox2", 235);
  Show("ComboBox3", false);
  Show("GroupBox1", false);
  ShowPlayerAids(false);
}

void FormShow() {
  TToolkit& tk = Toolkit();
  TDataModule1& dm = DataModule1();
  ClearBoard();
  ShowDojoScreen();
  ApplyCoordinatesSetting();
  tk.Control("CuteButton13").SetText("ヒント表示");
  ScreenKind = 1;
  dm.OpenProblemList(kRegisteredProblems);
  dm.RenumberProblems();
  dm.KuraQuery1.First();
  // An empty list loads nothing: the board stays empty.
  CurrentProblem = dm.KuraQuery1.IsEmpty()
                       ? 0
                       : static_cast<std::int32_t>(dm.KuraQuery1.Fields(mondai::kHNB).AsInteger());
  LoadProblem();
  tk.Control("ComboBox1").SetItemIndex(0);
  tk.Control("ComboBox2").SetItemIndex(0);
  PlayMode = 1;
  Timer1Timer();
  // The media player picks its device from each file's extension when it opens it.
}

void N2Click() {
  ScreenKind = 1;
  Toolkit().Control("Label364").SetText("道場画面");
  Toolkit().Control("Label365").SetText("ヒント");
  ShowDojoScreen();
}

void N3Click() {
  // The hint button is hidden on the edit screen: a hint left in the comment column there could
  // neither be put away nor told from a comment being typed.
  CancelHint();
  ScreenKind = 2;
  Toolkit().Control("Label364").SetText("編集画面");
  Toolkit().Control("Label365").SetText("ヒント入力");
  ShowEditScreen();
}

void AllhelpClick() {
  Toolkit().ShowHelpContents();
}

void VinfoClick() {
  Toolkit().ShowInformation(std::string(kVersionText));
}

void ApriendClick() {
  if (Toolkit().Confirm(std::string(kExitQuestion)) == TModalResult::No) return;
  Toolkit().Terminate();
}

void Timer1Timer() {
  Toolkit().SetStatusText(kStatusPanelClock,
                          FormatDateTime(std::string(kClockPattern), Toolkit().Now()));
}

void CuteButton11Click() {
  ClearBoard();
}

void CuteButton15Click() {
  TToolkit& tk = Toolkit();
  TControl& major = tk.Control("ComboBox1");
  TControl& minor = tk.Control("ComboBox2");
  if (major.ItemIndex() == -1) major.SetItemIndex(0);
  if (minor.ItemIndex() == -1) minor.SetItemIndex(0);
  SearchBySelectors(DataModule1(), major.ItemIndex(), major.Text(), minor.ItemIndex(),
                    minor.Text());
}

void CuteButton16Click() {
  Toolkit().Control("ComboBox1").SetItemIndex(0);
  Toolkit().Control("ComboBox2").SetItemIndex(0);
  ShowAllProblems(DataModule1());
}

void ComboBox3Change() {
  TDataModule1& dm = DataModule1();
  // An empty list has no row to mark.
  if (!dm.KuraQuery1.Active() || dm.KuraQuery1.IsEmpty()) return;
  StoreMark(dm, Toolkit().Control("ComboBox3").Text());
}

void DBGrid2CellClick() {
  ShowSequencePath();
  ClearHistory();
}

void ConnectHandlers(TToolkit& tk) {
  const auto click = [&tk](const std::string& sender, void (*handler)()) {
    tk.OnClick(sender, [handler](const std::string&) { handler(); });
  };
  tk.OnShow([](const std::string&) { FormShow(); });
  ConnectPlayerAids(tk);
  // After every event the board follows the problem list's current row, then the aids are
  // drawn from the state that leaves.
  tk.OnAfterEvent([] {
    FollowProblemList();
    RefreshPlayerAids();
  });
  click("N2", N2Click);
  click("N3", N3Click);
  click("Allhelp", AllhelpClick);
  click("Vinfo", VinfoClick);
  click("Apriend", ApriendClick);
  click("KenshoOne", CheckCurrentProblemClick);
  click("KenshoAll", CheckAllProblemsClick);
  click("SgfImport", SgfImportClick);
  click("SgfImportFolder", SgfImportFolderClick);
  click("SgfExport", SgfExportClick);
  tk.OnTimer("Timer1", [](const std::string&) { Timer1Timer(); });
  tk.OnTimer("Timer2", [](const std::string&) { Timer2Timer(); });
  click("RadioButton1", [] { PlayMode = 1; });
  click("RadioButton2", [] { PlayMode = 2; });
  click("RadioButton3", [] { PlayMode = 3; });

  using THandler = void (*)();
  const THandler buttons[] = {
      nullptr,           CuteButton1Click,  CuteButton2Click,  CuteButton3Click,  CuteButton4Click,
      CuteButton5Click,  CuteButton6Click,  CuteButton7Click,  CuteButton8Click,  CuteButton9Click,
      CuteButton10Click, CuteButton11Click, CuteButton12Click, CuteButton13Click, CuteButton14Click,
      CuteButton15Click, CuteButton16Click};
  for (int i = 1; i <= 16; ++i) click("CuteButton" + std::to_string(i), buttons[i]);

  tk.OnCellClick("DBGrid1", [](const std::string&) { DBGrid1CellClick(); });
  tk.OnDblClick("DBGrid1", [](const std::string&) { DBGrid1CellClick(); });
  tk.OnCellClick("DBGrid2", [](const std::string&) { DBGrid2CellClick(); });
  tk.OnChange("ComboBox3", [](const std::string&) { ComboBox3Change(); });
  for (int n = 1; n <= kPointCount; ++n) {
    tk.OnMouseDown("Label" + std::to_string(n),
                   [](const std::string& sender, TMouseButton button, TShiftState shift, int, int) {
                     Label1MouseDown(sender, button, shift);
                   });
  }
}

}  // namespace goramina
