#include "app/board/board.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "app/board/position_journal.h"
#include "app/toolkit/toolkit.h"

namespace goramina {

std::array<std::int32_t, kPointCount + 1> Board{};
std::int32_t MoveNumber = 0;
std::int32_t ColourToPlay = 1;
std::array<TMoveRecord, kMaxHistory + 1> MoveHistory{};
std::int32_t HistoryTop = 0;
std::array<TCaptureRecord, kMaxCaptures + 1> CaptureList{};
std::int32_t CaptureCount = 0;
std::int32_t LastPoint = 0;
std::array<TNeighbour, 4> Neighbours{};
std::int32_t AutoPlay = 0;
std::int32_t BackState = 0;
std::int32_t Registering = 0;

namespace {

TBoardView* view = nullptr;

// The positions before the moves played since the last ClearBoard, for exact take-backs.
TPositionJournal journal;
std::uint64_t clearCount = 0;

// The stones the last capture search marked for removal, indexed by point.
std::array<std::uint8_t, kPointCount + 1> removalMark{};
// The ko left by the last stone placed.
TKo ko;

TBoardView& View() {
  if (view == nullptr) throw std::logic_error("The board view is not set");
  return *view;
}

int Abs(int v) {
  return v < 0 ? -v : v;
}

void CheckPoint(int point) {
  if (point < 1 || point > kPointCount) {
    throw std::out_of_range("Board point " + std::to_string(point) + " is outside 1..361");
  }
}

void Refuse(const char* message) {
  View().Toolkit().SetStatusText(0, message);
}

// Sets the removal mark of every stone the stone at p captures (each opposing group touching
// it that is left without a liberty, found once however often it touches); returns the
// opposing colour and the stones marked, ascending.
std::vector<int> MarkCaptures(int p, int& opp) {
  opp = 2 / Abs(Board[p]);
  removalMark.fill(0);
  std::vector<int> taken = CapturesOf(Board, ColourOfCode(Board[p]), p);
  for (int q : taken) removalMark[q] = 1;
  return taken;
}

// Whether `count` more capture records fit; nothing is recorded while the history is empty.
bool CapturesFit(int historyTop, int count) {
  return historyTop == 0 || CaptureCount + count <= kMaxCaptures;
}

}  // namespace

void SetBoardView(TBoardView* boardView) {
  view = boardView;
}

TBoardView* BoardViewOrNull() {
  return view;
}

void ClearBoard() {
  MoveNumber = 0;
  ColourToPlay = 1;
  HistoryTop = 0;
  CaptureCount = 0;
  AutoPlay = 0;
  BackState = 0;
  Registering = 0;
  TBoardView& v = View();
  for (int p = 1; p <= kPointCount; ++p) {
    v.ClearStone(p);
    v.SetLabel(p, "");
    Board[p] = 0;
    removalMark[p] = 0;
  }
  MoveHistory.fill(TMoveRecord{});
  CaptureList.fill(TCaptureRecord{});
  ko = {};
  journal.Clear();
  ++clearCount;
}

void ClearHistory() {
  MoveHistory.fill(TMoveRecord{});
  HistoryTop = 0;
  CaptureList.fill(TCaptureRecord{});
  CaptureCount = 0;
}

void ComputeNeighbours(int n) {
  CheckPoint(n);
  Neighbours[0] =
      (n - 1) % kBoardSize > 0 ? TNeighbour{Abs(Board[n - 1]), n - 1} : TNeighbour{kOffBoard, 0};
  Neighbours[1] =
      n % kBoardSize > 0 ? TNeighbour{Abs(Board[n + 1]), n + 1} : TNeighbour{kOffBoard, 0};
  Neighbours[2] = n - kBoardSize > 0 ? TNeighbour{Abs(Board[n - kBoardSize]), n - kBoardSize}
                                     : TNeighbour{kOffBoard, 0};
  Neighbours[3] = n + kBoardSize <= kPointCount
                      ? TNeighbour{Abs(Board[n + kBoardSize]), n + kBoardSize}
                      : TNeighbour{kOffBoard, 0};
}

bool MoveFits(int colour, int point, bool recordsHistory) {
  CheckPoint(point);
  if (colour == 0) throw std::invalid_argument("MoveFits: a move needs a colour");
  if (recordsHistory && HistoryTop >= kMaxHistory) {
    Refuse(kHistoryFullMessage);
    return false;
  }
  const std::int32_t previous = Board[point];
  Board[point] = colour;
  int opp = 0;
  const int captured = static_cast<int>(MarkCaptures(point, opp).size());
  Board[point] = previous;
  if (!CapturesFit(recordsHistory ? HistoryTop + 1 : HistoryTop, captured)) {
    Refuse(kCapturesFullMessage);
    return false;
  }
  return true;
}

bool RemoveCaptures(int p) {
  CheckPoint(p);
  if (Board[p] == 0) throw std::logic_error("RemoveCaptures: no stone at the placed point");
  int opp = 0;
  const std::vector<int> taken = MarkCaptures(p, opp);
  const int captured = static_cast<int>(taken.size());
  if (!CapturesFit(HistoryTop, captured)) {
    Refuse(kCapturesFullMessage);
    return false;
  }
  if (captured == 0) {
    ko = {};
    return true;
  }
  TBoardView& v = View();
  for (int q = 1; q <= kPointCount; ++q) {
    if (removalMark[q] == 0) continue;
    v.ClearStone(q);
    v.SetLabel(q, "");
    Board[q] = 0;
    if (HistoryTop > 0) CaptureList[++CaptureCount] = TCaptureRecord{HistoryTop, opp, q};
  }
  ko = KoAfter(Board, p, taken);
  return true;
}

bool PlaceStone(int moveNumber, int colour, int p, int labelMode) {
  CheckPoint(p);
  if (!MoveFits(colour, p, false)) return false;
  TBoardView& v = View();
  v.ShowStone(p, colour);
  if (labelMode > 0) {
    v.SetLabel(p, moveNumber > 0 ? std::to_string(moveNumber) : std::string());
    v.SetLabelColour(p, colour <= 0   ? WrongMoveNumberColour(colour)
                        : colour == 1 ? kNumberOnBlack
                                      : kNumberOnWhite);
  }
  if (labelMode == 1 && HistoryTop > 1 && LastPoint >= 1 && LastPoint <= kPointCount) {
    v.SetLabel(LastPoint, "");
  }
  LastPoint = p;
  return RemoveCaptures(p);
}

void UndoLastMove() {
  if (HistoryTop <= 0) return;
  TBoardView& v = View();
  for (int i = 1; i <= kMaxCaptures; ++i) {
    TCaptureRecord& r = CaptureList[i];
    if (r.historyTop != HistoryTop || r.point == 0) continue;
    Board[r.point] = r.colour;
    v.ShowStone(r.point, r.colour);
    r = TCaptureRecord{};
    --CaptureCount;
  }
  const TMoveRecord taken = MoveHistory[HistoryTop];
  ColourToPlay = taken.colour;
  MoveHistory[HistoryTop] = TMoveRecord{};
  --HistoryTop;
  --MoveNumber;
  if (taken.point >= 1 && taken.point <= kPointCount) {
    v.ClearStone(taken.point);
    v.SetLabel(taken.point, "");
    Board[taken.point] = 0;
  }
  if (HistoryTop > 0) {
    const TMoveRecord& last = MoveHistory[HistoryTop];
    if (last.colour != 0) ColourToPlay = 2 / Abs(last.colour);
    LastPoint = last.point;
  } else {
    LastPoint = taken.point;
  }
  // Without the position noted before the move, no ko is known to stand.
  if (!RestorePositionBefore(taken.moveNumber, taken.point)) ko = {};
}

void NoteMoveBefore(int moveNumber, int point) {
  CheckPoint(point);
  journal.Note(moveNumber, point, Board, ko);
}

bool RestorePositionBefore(int moveNumber, int point) {
  TPositionJournal::TCodes before{};
  if (!journal.TakeNewest(moveNumber, point, before, &ko)) return false;
  TBoardView& v = View();
  for (int p = 1; p <= kPointCount; ++p) {
    if (Board[p] == before[p]) continue;
    if (before[p] == 0) {
      v.ClearStone(p);
    } else {
      v.ShowStone(p, before[p]);
    }
    v.SetLabel(p, "");
    Board[p] = before[p];
  }
  return true;
}

std::uint64_t BoardClearCount() {
  return clearCount;
}

TLegality MoveLegalityHere(int colour, int point, bool replacingTheStone) {
  if (!replacingTheStone || !IsBoardPoint(point) || Board[point] == 0)
    return MoveLegality(Board, ColourOfCode(colour), point, ko);
  TPointCodes emptied = Board;
  emptied[point] = 0;
  return MoveLegality(emptied, ColourOfCode(colour), point, ko);
}

void RemoveStoneByHand(int p) {
  CheckPoint(p);
  if (Board[p] <= 0) return;
  ko = {};
  TBoardView& v = View();
  v.ClearStone(p);
  v.SetLabel(p, "");
  Board[p] = 0;
}

}  // namespace goramina
