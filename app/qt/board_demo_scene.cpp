#include "app/qt/board_demo_scene.h"

#include "app/board/board.h"
#include "app/board/board_view.h"
#include "app/toolkit/toolkit.h"

namespace goramina {
namespace {

void SetUpStone(int colour, int point) {
  Board[point] = colour;
  PlaceStone(0, colour, point, 0);
}

// A numbered move, recorded on the history as a user's move would be.
void Move(int colour, int point) {
  if (!MoveFits(colour, point, true)) return;
  ++HistoryTop;
  ++MoveNumber;
  Board[point] = colour;
  MoveHistory[HistoryTop] = TMoveRecord{MoveNumber, colour, point};
  PlaceStone(MoveNumber, colour, point, 2);
}

}  // namespace

TFormSpec BoardDemoForm() {
  TFormSpec form;
  form.name = "TForm2";
  form.caption = "ゴラミナ";
  form.clientWidth = 536;
  form.clientHeight = 536;
  form.color = Rgb(240, 240, 255);
  form.font = TFont{kMsPGothic, 12, false, clBlack};
  form.controls = BoardControlSpecs();
  form.statusPanels = {{300}, {186}, {50, TAlignment::Center}};
  form.statusBold = true;
  return form;
}

TBoardDemoPoints PlayBoardDemo() {
  ClearBoard();
  // A corner position: black's wall, white's stones inside.
  const int blackSetUp = PointAt(2, 2);
  for (auto [c, r] : {std::pair{2, 2}, {3, 2}, {4, 3}, {2, 4}, {15, 3}, {16, 15}}) {
    SetUpStone(1, PointAt(c, r));
  }
  const int whiteSetUp = PointAt(3, 3);
  for (auto [c, r] : {std::pair{3, 3}, {3, 4}, {16, 3}, {15, 15}}) SetUpStone(2, PointAt(c, r));
  // White's lone stone at 4-5 is taken by black.
  const int captured = PointAt(10, 9);
  SetUpStone(2, captured);
  for (auto [c, r] : {std::pair{9, 9}, {11, 9}, {10, 8}}) SetUpStone(1, PointAt(c, r));
  Move(1, PointAt(10, 10));  // 1: captures
  Move(2, PointAt(9, 10));   // 2
  Move(1, PointAt(3, 5));    // 3
  Move(2, PointAt(4, 4));    // 4
  // A wrong-sequence reply: a white stone with a red number.
  const int redNumber = PointAt(13, 13);
  ++MoveNumber;
  Board[redNumber] = -2;
  PlaceStone(MoveNumber, -2, redNumber, 2);
  // Two continuations to choose from.
  const int greenMark = PointAt(5, 3);
  BoardViewOrNull()->SetLabel(greenMark, kChoiceMark);
  BoardViewOrNull()->SetLabelColour(greenMark, kGreenMarkColour);
  BoardViewOrNull()->SetLabel(PointAt(4, 5), kChoiceMark);
  BoardViewOrNull()->SetLabelColour(PointAt(4, 5), kWrongMoveColour);
  BoardViewOrNull()->Toolkit().SetStatusText(0, "緑丸か赤丸の一つを選んでください。");
  return {blackSetUp, whiteSetUp, captured, redNumber, greenMark};
}

}  // namespace goramina
