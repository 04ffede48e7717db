#include "app/trainer/trainer_rows.h"

#include "app/board/board.h"
#include "app/collection/data_module.h"
#include "app/trainer/main_unit.h"

namespace goramina {

kura::TKuraQuery& Sequences() {
  return DataModule1().KuraQuery2;
}

std::int32_t SequenceField(int field) {
  kura::TKuraQuery& q = Sequences();
  if (q.RecordCount() == 0) return 0;
  return q.Fields(field).AsInteger();
}

bool IsDrawableMove(int colour, int point) {
  const int shade = colour < 0 ? -colour : colour;
  return point >= 1 && point <= kPointCount && (shade == 1 || shade == 2);
}

std::int32_t ColourAfter(std::int32_t colour) {
  return colour == 0 ? 1 : 2 / colour;
}

bool DrawStoredMove(int moveNumber, int colour, int point, int boardCode, int labelMode) {
  if (!IsDrawableMove(colour, point) || !MoveFits(colour, point, false)) return false;
  // Set-up stones are never taken back one by one: a take-back at the set-up reloads it.
  if (moveNumber > 0) NoteMoveBefore(moveNumber, point);
  MoveNumber = moveNumber;
  ColourToPlay = colour;
  Board[point] = boardCode;
  return PlaceStone(moveNumber, colour, point, labelMode);
}

TQuietWalk::TQuietWalk() {
  Sequences().DisableControls();
}

TQuietWalk::~TQuietWalk() {
  try {
    Sequences().EnableControls();
  } catch (...) {
    // A control that fails to redraw must not end the program from a destructor; the next
    // change redraws it.
  }
}

TGridDetach::TGridDetach(const char* gridName) {
  if (TToolkit* toolkit = ToolkitOrNull()) grid_ = toolkit->FindControl(gridName);
  if (grid_ != nullptr) grid_->DetachDataSource();
}

TGridDetach::~TGridDetach() {
  if (grid_ != nullptr) grid_->AttachDataSource();
}

}  // namespace goramina
