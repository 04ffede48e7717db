// Helpers shared by the sequence tree and the solving routines: reading the current row of
// the sequence query, drawing a stored move, and the colour that follows a move.
#pragma once

#include <cstdint>

#include "app/toolkit/toolkit.h"

namespace kura {
class TKuraQuery;
}

namespace goramina {

// The toolkit set by SetMainUnit, or nullptr (the hint's hooks may run while none is set).
TToolkit* ToolkitOrNull();

// The sequence query (KuraQuery2) of the data module.
kura::TKuraQuery& Sequences();

// Field `field` (tejun::k...) of the sequence query's current row; 0 when the result is empty.
std::int32_t SequenceField(int field);

// True for a point 1..361 and a stored colour code -2, -1, 1 or 2: only such a row can be
// drawn. Rows that break this (hand-edited tables) are passed over, never drawn.
bool IsDrawableMove(int colour, int point);

// The colour after a move of `colour`: 2 div colour (1<->2, -1<->-2); black after no colour.
std::int32_t ColourAfter(std::int32_t colour);

// Draws a stored move as the routines that replay rows do: MoveNumber := moveNumber,
// ColourToPlay := colour, Board[point] := boardCode, PlaceStone(moveNumber, colour, point,
// labelMode). Does nothing and answers false when the row cannot be drawn.
bool DrawStoredMove(int moveNumber, int colour, int point, int boardCode, int labelMode);

// Detaches a data grid from its source for the life of the guard, so that a series of cursor
// moves is not drawn row by row. A window without that grid is left alone.
class TGridDetach {
 public:
  explicit TGridDetach(const char* gridName);
  ~TGridDetach();
  TGridDetach(const TGridDetach&) = delete;
  TGridDetach& operator=(const TGridDetach&) = delete;

 private:
  TControl* grid_ = nullptr;
};

// Keeps the sequence query's bound controls quiet for the life of the guard: a walk over the
// sequence rows moves the cursor many times, and the controls hear once, at the end, where
// it stopped.
class TQuietWalk {
 public:
  TQuietWalk();
  ~TQuietWalk();
  TQuietWalk(const TQuietWalk&) = delete;
  TQuietWalk& operator=(const TQuietWalk&) = delete;
};

// Installed on the problem query's BeforePost: keeps the hint out of a post of the problem
// row (the stored comment goes back into the row) and shows the hint button as unpressed.
void ForgetHintBeforePost();

}  // namespace goramina
