// The tree of stored sequences of the loaded problem, walked through the cursor of the
// sequence query. Rows come in append order and TNB is a row's position, so a row is reached
// by going to the first row and then TNB-1 rows forward.
//
// The walks stop at either end of the result, so rows that break the tree's rules (a
// sequence without its end row, a parent label nobody carries, a chain that loops) end a walk
// early instead of running on or reading past the rows.
#include <algorithm>
#include <vector>

#include "app/board/board.h"
#include "app/collection/data_module.h"
#include "app/trainer/main_unit.h"
#include "app/trainer/trainer_rows.h"

namespace goramina {
namespace {

// Sequences the path of ShowSequencePath holds: the deepest chain a board of 361 moves allows.
constexpr int kMaxPathSequences = kPointCount;

// The set-up sequence's first row carries this parent label; no sequence has it as label.
constexpr int kSetUpStart = 9999;
// The set-up sequence's label.
constexpr int kSetUpLabel = 1;

bool OnLastRow() {
  const kura::TKuraQuery& q = Sequences();
  return q.RecordCount() == 0 || q.RecNo() >= q.RecordCount();
}

// Moves to the first row whose BFR is `label`; false (on the last row) when none has it.
bool FindSequenceEnd(int label) {
  TQuietWalk quiet;
  kura::TKuraQuery& q = Sequences();
  q.First();
  while (SequenceField(tejun::kBFR) != label) {
    if (OnLastRow()) return false;
    q.Next();
  }
  return true;
}

// Draws the sequence starting at row `tnb` up to and including its end row (or the last row).
void DrawSequence(int tnb, int labelMode) {
  TQuietWalk quiet;
  GoToRow(tnb);
  for (;;) {
    const int colour = SequenceField(tejun::kCOL);
    DrawStoredMove(SequenceField(tejun::kTES), colour, SequenceField(tejun::kPST),
                   colour < 0 ? -colour : colour, labelMode);
    if (SequenceField(tejun::kBFR) > 0 || OnLastRow()) return;
    Sequences().Next();
  }
}

}  // namespace

void GoToRow(int tnb) {
  TQuietWalk quiet;
  kura::TKuraQuery& q = Sequences();
  q.First();
  if (tnb > 1) q.MoveBy(tnb - 1);
}

int WalkToSequenceEnd() {
  TQuietWalk quiet;
  int visited = 1;
  while (SequenceField(tejun::kBFR) == 0 && !OnLastRow()) {
    Sequences().Next();
    ++visited;
  }
  return visited;
}

void WalkToSequenceStart() {
  TQuietWalk quiet;
  kura::TKuraQuery& q = Sequences();
  while (SequenceField(tejun::kBTO) == 0 && q.RecNo() > 1) q.Prior();
}

void StepBack() {
  TQuietWalk quiet;
  const int parent = SequenceField(tejun::kBTO);
  if (parent == 0) {
    Sequences().Prior();
    return;
  }
  if (FindSequenceEnd(parent)) return;
  // No sequence ends with that label (the set-up's start row): the end of the set-up.
  Sequences().First();
  WalkToSequenceEnd();
}

void RenumberMoves() {
  TGridDetach detach("DBGrid2");
  kura::TKuraQuery& q = Sequences();
  q.First();
  for (int position = 1; !q.Eof() && q.RecordCount() > 0; ++position) {
    q.Edit();
    q.Fields(tejun::kTNB).SetAsInteger(position);
    q.Next();  // moving on posts the edit
  }
}

int CollectContinuations(int label) {
  TQuietWalk quiet;
  Continuations.fill(TContinuation{});
  const int start = SequenceField(tejun::kTNB);
  int found = 0;
  kura::TKuraQuery& q = Sequences();
  if (q.RecordCount() == 0) return 0;
  // Only the first kMaxContinuations continuations are offered; later ones are left out.
  for (;;) {
    if (SequenceField(tejun::kBTO) == label) {
      Continuations[++found] =
          TContinuation{SequenceField(tejun::kTNB), SequenceField(tejun::kTES),
                        SequenceField(tejun::kCOL), SequenceField(tejun::kPST)};
      if (found == kMaxContinuations) break;
    }
    if (OnLastRow()) break;
    q.Next();
  }
  GoToRow(start);
  return found;
}

int NextKind() {
  const int label = SequenceField(tejun::kBFR);
  if (label == 0) {
    // A sequence whose end row is missing ends with the rows: nothing follows its last row.
    return OnLastRow() ? 0 : 1;
  }
  const int found = CollectContinuations(label);
  return found == 0 ? 0 : found == 1 ? 2 : 3;
}

int ClassifyMove(int point) {
  TQuietWalk quiet;
  const int kind = NextKind();
  if (kind == 0) return 0;
  if (kind == 1) {
    kura::TKuraQuery& q = Sequences();
    q.Next();
    const int next = SequenceField(tejun::kPST);
    q.Prior();
    return next == point ? 21 : 22;
  }
  for (int i = 1; i <= kMaxContinuations && Continuations[i].TNB != 0; ++i) {
    if (Continuations[i].PST == point) return i;
  }
  return kind == 2 ? 23 : 24;
}

bool LineIsWrong() {
  TQuietWalk quiet;
  kura::TKuraQuery& q = Sequences();
  if (q.RecordCount() == 0) return false;
  const int start = q.RecNo();
  bool wrong = false;
  // From the current row's sequence up through its parents to the one after the set-up; the
  // walk ends early where ShowSequencePath's does (a label nobody carries, a loop).
  std::vector<int> seen;
  for (;;) {
    WalkToSequenceStart();
    if (SequenceField(tejun::kCOL) < 0) {
      wrong = true;
      break;
    }
    const int parent = SequenceField(tejun::kBTO);
    const int first = SequenceField(tejun::kTNB);
    if (parent == 0 || parent == kSetUpStart || parent == kSetUpLabel) break;
    if (std::find(seen.begin(), seen.end(), first) != seen.end()) break;
    if (static_cast<int>(seen.size()) == kMaxPathSequences) break;
    seen.push_back(first);
    if (!FindSequenceEnd(parent)) break;
  }
  q.SetRecNo(start);
  return wrong;
}

void ShowSequencePath() {
  TQuietWalk quiet;
  ClearBoard();
  TGridDetach detach("DBGrid2");
  const int selected = SequenceField(tejun::kTNB);
  WalkToSequenceEnd();
  const int lastMove = SequenceField(tejun::kTES);
  LoadProblem();
  if (lastMove == 0) return;  // the selected row belongs to the set-up

  // The chain of sequences from the selected one up to the one that follows the set-up,
  // deepest last. It ends early at a parent label nobody carries, at the rows' first row, at
  // a sequence met twice (a loop) or when the path is full.
  std::vector<int> path;
  std::vector<int> seen;
  GoToRow(selected);
  for (;;) {
    WalkToSequenceStart();
    const int parent = SequenceField(tejun::kBTO);
    const int first = SequenceField(tejun::kTNB);
    if (parent == 0 || parent == kSetUpStart) break;
    if (std::find(seen.begin(), seen.end(), first) != seen.end()) break;
    seen.push_back(first);
    path.push_back(first);
    if (parent == kSetUpLabel || static_cast<int>(path.size()) == kMaxPathSequences) break;
    StepBack();
  }

  // Ancestors first, without numbers; only the selected sequence shows its move numbers.
  for (std::size_t i = path.size(); i-- > 0;) DrawSequence(path[i], i == 0 ? 2 : 0);
  MoveNumber = lastMove;
  GoToRow(selected);
  ColourToPlay = MoveNumber == 0 ? 1 : ColourAfter(ColourToPlay < 0 ? -ColourToPlay : ColourToPlay);
}

}  // namespace goramina
