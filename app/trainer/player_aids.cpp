#include "app/trainer/player_aids.h"

#include <array>
#include <cstdint>
#include <cstdlib>

#include "app/board/board.h"
#include "app/board/board_view.h"
#include "app/collection/data_module.h"
#include "app/trainer/main_unit.h"
#include "app/trainer/trainer_rows.h"

namespace goramina {
namespace {

// Coordinates: letters in the strip below the board (the board ends at 536, the client area at
// 573), numbers in the strip between the board and the panel, which starts at 566 (the main
// window moves the panel right for them).
constexpr int kBoardEdge = 536;
constexpr int kCoordinatePixels = 9;
constexpr int kColumnCoordTop = kBoardEdge + 2;
constexpr int kColumnCoordWidth = 14;
constexpr int kRowCoordLeft = kBoardEdge + 2;
constexpr int kRowCoordWidth = 14;
constexpr int kCoordHeight = 10;
// The side to move and the verdict, below the letters.
constexpr int kAidRowTop = 553;
constexpr int kAidFontPixels = 13;
// The ring on the last move: a little smaller than a stone, centred on its intersection.
constexpr int kRingDiameter = 24;

constexpr char kColumnLetters[] = "ABCDEFGHJKLMNOPQRST";

// The verdict recorded at the end of a line, valid while the position it was given for stands:
// the same load of the board (a reload or another problem clears it) and the same stones.
struct TVerdictState {
  int verdict = 0;
  int problem = 0;
  int moveNumber = -1;
  std::uint64_t boardClears = 0;
  std::array<std::int32_t, kPointCount + 1> board{};
};
TVerdictState recorded;

bool RecordedPositionStands() {
  return recorded.problem == CurrentProblem && recorded.moveNumber == MoveNumber &&
         recorded.boardClears == BoardClearCount() && recorded.board == Board;
}

TControlSpec SmallLabel(const std::string& name, const std::string& text, int left, int top,
                        int width, int height, int pixels, bool bold) {
  TControlSpec c;
  c.kind = TControlKind::Label;
  c.name = name;
  c.text = text;
  c.left = left;
  c.top = top;
  c.width = width;
  c.height = height;
  c.alignment = TAlignment::Center;
  c.transparent = true;
  c.font = TFont{kMsPGothic, pixels, bold, clBlack};
  return c;
}

void SetTextIfChanged(TControl& control, const std::string& text) {
  if (control.Text() != text) control.SetText(text);
}

void SetFontColourIfChanged(TControl& control, TColor colour) {
  if (control.FontColor() != colour) control.SetFontColor(colour);
}

void SetVisibleIfChanged(TControl& control, bool visible) {
  if (control.Visible() != visible) control.SetVisible(visible);
}

void SetCoordinatesShown(bool shown) {
  TToolkit& tk = Toolkit();
  for (int k = 0; k < kBoardSize; ++k) {
    SetVisibleIfChanged(tk.Control(ColumnCoordinateName(k)), shown);
    SetVisibleIfChanged(tk.Control(RowCoordinateName(k)), shown);
  }
}

void CoordinatesItemClick() {
  const bool shown = Toolkit().MenuChecked(kCoordinatesItem);
  SetCoordinatesShown(shown);
  Toolkit().WriteSetting(kCoordinatesSetting, shown ? "1" : "0");
}

// The point of the last move on the board, or 0: the user's last recorded move, otherwise the
// stored move of the sequence query's current row when it is on the board.
int LastMovePoint() {
  if (HistoryTop > 0) {
    const int point = MoveHistory[HistoryTop].point;
    return point >= 1 && point <= kPointCount && Board[point] != 0 ? point : 0;
  }
  if (MoveNumber == 0 || !DataModule1().KuraQuery2.Active()) return 0;
  const int point = SequenceField(tejun::kPST);
  if (SequenceField(tejun::kTES) <= 0 || point < 1 || point > kPointCount) return 0;
  return Board[point] != 0 ? point : 0;
}

void RefreshLastMoveMark() {
  TControl& ring = Toolkit().Control(kLastMoveMark);
  const int point = ScreenKind == 1 ? LastMovePoint() : 0;
  if (point == 0) {
    SetVisibleIfChanged(ring, false);
    return;
  }
  const int left = kBoardOrigin + kCellPixels * ColumnOf(point) - kRingDiameter / 2;
  const int top = kBoardOrigin + kCellPixels * RowOf(point) - kRingDiameter / 2;
  if (ring.Left() != left || ring.Top() != top) {
    ring.SetLeft(left);
    ring.SetTop(top);
  }
  SetVisibleIfChanged(ring, true);
}

void RefreshVerdict() {
  TToolkit& tk = Toolkit();
  const int verdict = CurrentVerdict();
  TControl& label = tk.Control(kVerdictLabel);
  const char* text = verdict > 0 ? kCorrectVerdict : verdict < 0 ? kWrongVerdict : "";
  SetTextIfChanged(label, verdict > 0   ? std::string("○ ") + text
                          : verdict < 0 ? std::string("× ") + text
                                        : std::string());
  SetFontColourIfChanged(label, verdict > 0 ? kCorrectColour : kWrongColour);
  if (tk.StatusText(1) != text) tk.SetStatusText(1, text);
}

// Moves the problem list one row and loads that problem, as a click on the row would; only
// while the list is at rest (a problem being registered or a row being typed keeps it).
bool StepProblem(int direction) {
  kura::TKuraQuery& problems = DataModule1().KuraQuery1;
  if (!problems.Active() || problems.IsEmpty() || Registering != 0) return false;
  if (problems.State() != kura::TDataSetState::dsBrowse) return false;
  const int before = problems.RecNo();
  direction < 0 ? problems.Prior() : problems.Next();
  if (problems.RecNo() == before) return false;
  DBGrid1CellClick();
  return true;
}

}  // namespace

char ColumnLetter(int column) {
  return column >= 0 && column < kBoardSize ? kColumnLetters[column] : '?';
}

std::string PointName(int point) {
  if (point < 1 || point > kPointCount) return "?";
  return ColumnLetter(ColumnOf(point)) + std::to_string(kBoardSize - RowOf(point));
}

std::string ColumnCoordinateName(int column) {
  return "ColumnCoord" + std::to_string(column + 1);
}

std::string RowCoordinateName(int row) {
  return "RowCoord" + std::to_string(row + 1);
}

std::vector<TControlSpec> PlayerAidControlSpecs() {
  std::vector<TControlSpec> specs;
  for (int k = 0; k < kBoardSize; ++k) {
    const int centre = kBoardOrigin + kCellPixels * k;
    specs.push_back(SmallLabel(ColumnCoordinateName(k), std::string(1, ColumnLetter(k)),
                               centre - kColumnCoordWidth / 2, kColumnCoordTop, kColumnCoordWidth,
                               kCoordHeight, kCoordinatePixels, false));
    specs.push_back(SmallLabel(RowCoordinateName(k), std::to_string(kBoardSize - k), kRowCoordLeft,
                               centre - kCoordHeight / 2, kRowCoordWidth, kCoordHeight,
                               kCoordinatePixels, false));
  }
  TControlSpec side = SmallLabel(kSideToMoveLabel, kBlackToPlay, kBoardOrigin - 4, kAidRowTop, 40,
                                 kAidFontPixels + 3, kAidFontPixels, true);
  side.alignment = TAlignment::Left;
  specs.push_back(side);
  TControlSpec verdict = SmallLabel(kVerdictLabel, "", kBoardOrigin + 44, kAidRowTop, 160,
                                    kAidFontPixels + 3, kAidFontPixels, true);
  verdict.alignment = TAlignment::Left;
  specs.push_back(verdict);

  TControlSpec ring;
  ring.kind = TControlKind::Shape;
  ring.name = kLastMoveMark;
  ring.shape = TShapeKind::Ring;
  ring.width = kRingDiameter;
  ring.height = kRingDiameter;
  ring.color = kLastMoveColour;
  ring.penColor = kLastMoveColour;
  ring.visible = false;
  specs.push_back(ring);
  return specs;
}

std::vector<TMenuItemSpec> PlayerAidMenus() {
  TMenuItemSpec play{"NPlay", "操作", {}};
  play.items = {
      {"KeyForward", "1手進む", {}, "→"},
      {"KeyBack", "１手戻す", {}, "←"},
      {"KeySequenceBack", "１手順戻す", {}, "Backspace"},
      {"KeyAnswer", "解答表示", {}, "A"},
      {"KeyHint", "ヒント表示", {}, "H"},
      {"KeyPrevious", "前の問題", {}, "↑"},
      {"KeyNext", "次の問題", {}, "↓"},
  };
  TMenuItemSpec view{"NView", "表示", {}};
  view.items = {{kCoordinatesItem, "座標表示", {}, {}, true}};
  return {play, view};
}

void ConnectPlayerAids(TToolkit& tk) {
  tk.OnKeyDown([](TKey key) { return FormKeyDown(key); });
  tk.OnClick(kCoordinatesItem, [](const std::string&) { CoordinatesItemClick(); });
  const std::pair<const char*, TKey> keyItems[] = {
      {"KeyForward", TKey::Right}, {"KeyBack", TKey::Left}, {"KeySequenceBack", TKey::Backspace},
      {"KeyAnswer", TKey::A},      {"KeyHint", TKey::H},    {"KeyPrevious", TKey::Up},
      {"KeyNext", TKey::Down}};
  for (const auto& [item, key] : keyItems) {
    tk.OnClick(item, [key = key](const std::string&) { FormKeyDown(key); });
  }
}

void ApplyCoordinatesSetting() {
  const bool shown = Toolkit().ReadSetting(kCoordinatesSetting, "1") != "0";
  Toolkit().SetMenuChecked(kCoordinatesItem, shown);
  SetCoordinatesShown(shown);
}

void ShowPlayerAids(bool dojoScreen) {
  TToolkit& tk = Toolkit();
  SetVisibleIfChanged(tk.Control(kSideToMoveLabel), dojoScreen);
  SetVisibleIfChanged(tk.Control(kVerdictLabel), dojoScreen);
  if (!dojoScreen) SetVisibleIfChanged(tk.Control(kLastMoveMark), false);
}

void RecordPlayEnded() {
  if (SequenceField(tejun::kTES) <= 0) {
    // The play ended on the set-up: there is no line to judge.
    recorded = TVerdictState{};
    return;
  }
  recorded.verdict = LineIsWrong() ? -1 : 1;
  recorded.problem = CurrentProblem;
  recorded.moveNumber = MoveNumber;
  recorded.boardClears = BoardClearCount();
  recorded.board = Board;
}

int CurrentVerdict() {
  if (recorded.verdict == 0) return 0;
  if (!RecordedPositionStands()) {
    // Once the position has moved on the verdict is gone for good: coming back to the same
    // stones by another way is not the end of that line.
    recorded = TVerdictState{};
    return 0;
  }
  return ScreenKind == 1 ? recorded.verdict : 0;
}

void RefreshPlayerAids() {
  TToolkit* tk = ToolkitOrNull();
  if (tk == nullptr || tk->FindControl(kSideToMoveLabel) == nullptr) return;
  SetTextIfChanged(tk->Control(kSideToMoveLabel),
                   std::abs(ColourToPlay) == 2 ? kWhiteToPlay : kBlackToPlay);
  RefreshLastMoveMark();
  RefreshVerdict();
}

bool FormKeyDown(TKey key) {
  TToolkit& tk = Toolkit();
  switch (key) {
    case TKey::Left:
      return tk.DeliverClick("CuteButton9");
    case TKey::Right:
      return tk.DeliverClick("CuteButton8");
    case TKey::Backspace:
      return tk.DeliverClick("CuteButton10");
    case TKey::H:
      return tk.DeliverClick("CuteButton13");
    case TKey::A:
      return tk.DeliverClick("CuteButton7");
    case TKey::Up:
    case TKey::PageUp:
      return StepProblem(-1);
    case TKey::Down:
    case TKey::PageDown:
      return StepProblem(1);
    case TKey::Other:
      break;
  }
  return false;
}

}  // namespace goramina
