// Recording a move on the edit screen: every click adds a move to the history, drawn without
// a number and compared with nothing; the register buttons turn the history into rows. Also
// the state of a problem being registered that the problem list's hooks need.
#include <stdexcept>

#include "app/board/board.h"
#include "app/collection/data_module.h"
#include "app/trainer/main_unit.h"

namespace goramina {

void RecordEditMove(int point, TMouseButton button) {
  const int colour = button == TMouseButton::Left ? 1 : 2;
  if (!MoveFits(colour, point, true)) return;  // the reason is in the status bar
  TBoardView* view = BoardViewOrNull();
  if (view == nullptr) throw std::logic_error("The board view is not set");
  if (++HistoryTop == 1) {
    // The numbers of a sequence shown before the first recorded move go.
    for (int p = 1; p <= kPointCount; ++p) view->SetLabel(p, "");
  }
  ++MoveNumber;
  NoteMoveBefore(MoveNumber, point);
  Board[point] = colour;
  MoveHistory[HistoryTop] = TMoveRecord{MoveNumber, colour, point};
  PlaceStone(MoveNumber, colour, point, 0);
  ColourToPlay = 2 / colour;
}

void SetRegisteringButtons(bool registering) {
  TToolkit& toolkit = Toolkit();
  toolkit.Control("CuteButton1").SetEnabled(registering);
  for (const char* name :
       {"CuteButton2", "CuteButton3", "CuteButton4", "CuteButton5", "CuteButton6"})
    toolkit.Control(name).SetEnabled(!registering);
}

bool NewProblemRowPending() {
  return DataModule1().KuraQuery1.State() == kura::TDataSetState::dsInsert;
}

void AbandonNewProblemRow() {
  if (!NewProblemRowPending()) return;
  // Only 問題登録 stores the new row: leaving it half typed (its number possibly still empty,
  // which would hide it from every list) drops it and ends the registration.
  DataModule1().KuraQuery1.Cancel();
  SetRegisteringButtons(false);
  ClearBoard();
  Toolkit().SetStatusText(0, "問題の登録を取り消しました。");
}

}  // namespace goramina
