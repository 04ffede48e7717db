// Recording a move on the edit screen: every click adds a move to the history, drawn without
// a number and compared with nothing; the register buttons turn the history into rows.
#include <stdexcept>

#include "app/board.h"
#include "app/main_unit.h"

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
  Board[point] = colour;
  MoveHistory[HistoryTop] = TMoveRecord{MoveNumber, colour, point};
  PlaceStone(MoveNumber, colour, point, 0);
  ColourToPlay = 2 / colour;
}

}  // namespace goramina
