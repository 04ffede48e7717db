// app/board — the board the window shows: the board view (the shapes, stone images and number
// labels of the 19x19 board and the clicks on them) and the trainer's board position drawn
// through it, with the history and capture records that let a move be taken back exactly and the
// journal of positions before each move. It reads the rules of Go through app/go and draws through
// app/toolkit; it knows nothing of problems or tables.
//
// The Go position shown on the main window's board, as module-level state: the code of every
// point, the moves the user made since the history was last cleared, the stones removed by
// captures (so a move can be taken back), and the routines that place a stone, remove the
// opponent's groups left without a liberty, clear the board and undo the last move.
//
// Point codes: 0 empty, 1 black, 2 white; -1 and -2 are the same colours placed as a move of a
// wrong sequence (drawn alike, numbered in red). The capture rule uses absolute values only.
// Placing a stone applies no test for suicide, ko or an occupied point: the placed stone's own
// group always stays, and a point is simply overwritten, so stored moves stand as stored. The
// rules are read through app/go (the same reading the position model uses): the capture search
// is go's CapturesOf, and MoveLegalityHere answers, for the callers that refuse illegal moves,
// whether a move is legal on the board as it stands, the ko left by the last capture included.
//
// All state lives in fixed arrays; nothing is allocated per move. The history and the capture
// list hold 361 entries each; a move that would not fit is refused before anything changes
// (see MoveFits), with a message in status panel 0.
#pragma once

#include <array>
#include <cstdint>

#include "app/board/board_view.h"
#include "app/common/problem_limits.h"
#include "app/go/go_rules.h"

namespace goramina {

constexpr int kMaxCaptures = 361;
constexpr int kOffBoard = 3;  // neighbour colour of a side that lies off the board

inline constexpr const char* kHistoryFullMessage =
    "手順が長すぎます。これ以上の手は記録できません。";
inline constexpr const char* kCapturesFullMessage = "取り石が多すぎます。この手は記録できません。";

struct TMoveRecord {
  std::int32_t moveNumber = 0;
  std::int32_t colour = 0;
  std::int32_t point = 0;
  bool operator==(const TMoveRecord&) const = default;
};

struct TCaptureRecord {
  std::int32_t historyTop = 0;  // HistoryTop when the stone was removed
  std::int32_t colour = 0;      // 1 or 2
  std::int32_t point = 0;
  bool operator==(const TCaptureRecord&) const = default;
};

struct TNeighbour {
  std::int32_t colour = 0;  // |code| of the neighbour, or kOffBoard
  std::int32_t point = 0;   // 0 when off the board
};

// --- The position (indexes from 1; entry 0 is unused) -------------------------------------
extern std::array<std::int32_t, kPointCount + 1> Board;
extern std::int32_t MoveNumber;    // last move placed; 0 = none, set-up stones carry 0
extern std::int32_t ColourToPlay;  // 1 or 2; negative after a wrong-sequence move
extern std::array<TMoveRecord, kMaxHistory + 1> MoveHistory;
extern std::int32_t HistoryTop;  // entries 1..HistoryTop are in use
extern std::array<TCaptureRecord, kMaxCaptures + 1> CaptureList;
extern std::int32_t CaptureCount;             // records 1..CaptureCount are in use
extern std::int32_t LastPoint;                // point of the most recently placed stone
extern std::array<TNeighbour, 4> Neighbours;  // above, below, left, right

// Solving and editing flags, reset by ClearBoard.
extern std::int32_t AutoPlay;
extern std::int32_t BackState;
extern std::int32_t Registering;

// The view the routines draw on. Set once at start-up (tests set their own); the routines
// that draw throw std::logic_error while it is unset.
void SetBoardView(TBoardView* view);
TBoardView* BoardViewOrNull();

// Empties the position and the view: MoveNumber 0, ColourToPlay 1, HistoryTop 0,
// CaptureCount 0, the three flags 0, every stone image and label cleared, every point 0,
// history and capture list zeroed. LastPoint is kept.
void ClearBoard();

// Zeroes the history and HistoryTop. The capture records are zeroed too: each is tied to a
// history entry by number, and once the history restarts a later move would take that
// number and restore stones it never captured.
void ClearHistory();

// Fills Neighbours for point 1..361, in the order above, below, left, right.
void ComputeNeighbours(int point);

// True when a stone of `colour` on `point` can be recorded: when `recordsHistory`, the history
// has room for one more entry, and the captures it makes fit in the capture list. Otherwise
// puts the reason in status panel 0 and returns false; nothing changes either way. Callers
// check this before they write Board[point] for a move.
bool MoveFits(int colour, int point, bool recordsHistory);

// Applies the capture rule for the stone already written at `point`: removes each opposing
// group touching it that has no liberty (images, labels, Board), recording each removed
// stone in ascending point order as {HistoryTop, colour, point}. While the history is empty
// (set-up and stored moves) nothing is recorded: no undo could ever restore those stones. Returns
// false, changing nothing, when the records would not fit (the message is in status panel 0).
bool RemoveCaptures(int point);

// Draws the stone at `point` (the caller has written Board[point] := colour), numbers it by
// labelMode (0 stone only; 1 number and erase the previous number once the history holds more
// than one move; 2 number and keep every number), sets LastPoint and applies the capture rule.
// Returns false, drawing nothing, when the captures would not fit in the capture list.
bool PlaceStone(int moveNumber, int colour, int point, int labelMode);

// Takes back history entry HistoryTop and restores the stones its captures removed (drawn
// without numbers). When the position before that move was noted (NoteMoveBefore), the board
// goes back to exactly that position, so a stone the move was played on returns as well. Does
// nothing when the history is empty.
void UndoLastMove();

// Notes the position as it stands, before move `moveNumber` is written on `point`: callers
// that play or replay a move call it after MoveFits and before they write Board[point]. A
// ClearBoard forgets every noted position.
void NoteMoveBefore(int moveNumber, int point);

// Puts back the position noted before move `moveNumber` on `point` when that is the newest
// noted move: every point that differs is redrawn (stones without numbers) and takes its old
// code. Answers false, changing nothing, when the newest noted move is another one.
bool RestorePositionBefore(int moveNumber, int point);

// The number of ClearBoard calls so far: a position recorded under another count belongs to an
// earlier load of the board, even when the stones happen to stand alike.
std::uint64_t BoardClearCount();

// Whether a stone of `colour` (a code -2..2; the sign is ignored) may be played on `point` by the
// rules: not on a stone, not a suicide, not the immediate retake of the ko that stands. With
// `replacingTheStone`, a stone on the point counts as taken off first (a replacement the user
// confirmed), and only suicide and ko are left to refuse.
TLegality MoveLegalityHere(int colour, int point, bool replacingTheStone = false);

// Removes the stone at `point` without any rule or record (only when Board[point] > 0).
void RemoveStoneByHand(int point);

}  // namespace goramina
