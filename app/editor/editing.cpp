// The edit screen: registering and cancelling a new problem, deleting a problem with all its
// rows, registering correct and wrong sequences from the moves clicked onto the board,
// deleting a sequence with everything that continues it, and storing the categories.
//
// The moves clicked on the board are kept on the history of the board position; a register
// button turns them into rows of the sequence query (KuraQuery2). Texts the user types into
// the problem grid, the hint edit and the move comment edit sit in a pending edit of their
// query until the row changes; closing a query would drop them, so every routine here posts
// a pending edit before it reopens a query.
#include "app/editor/editing.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/board/board.h"
#include "app/collection/data_module.h"
#include "app/collection/field_text.h"
#include "app/trainer/main_unit.h"

namespace goramina {
namespace {

// --- Texts -----------------------------------------------------------------------------------
constexpr const char* kStartRegistering = "問題図を並べ、問題リストに入力してください。";
constexpr const char* kNoSetUp = "問題図を並べてください";
constexpr const char* kRegistered = "登録しました。";
constexpr const char* kFinishRegistering = "問題登録をクリックしてください。";
constexpr const char* kDeleted = "削除しました。";
// Refusals that keep bad rows out of the tables.
constexpr const char* kNoProblemNumber = "個番を入力してください";
constexpr const char* kNoMovesToRegister =
    "登録する手がありません。盤上に手を並べてから登録してください。";
constexpr const char* kNoProblemLoaded = "手順を登録する問題がありません。問題を選んでください。";
constexpr const char* kTooManyContinuations =
    "この局面には既に10通りの継続手順があります。これ以上は登録できません。";
constexpr const char* kTreeTooLarge = "継続する手順が多すぎるため削除できません。";

constexpr int kSetUpStart = 9999;  // BTO of the set-up's first row
constexpr int kSetUpLabel = 1;     // BFR of the set-up's last row

// Pending-sequence list of a deletion: the TNB of the first row of each sequence still to be
// deleted, slots 1..361 (slot 0 unused). A deletion that would need more is refused before
// anything is deleted, so the list never overflows.
constexpr int kPendingSlots = 361;
std::array<int, kPendingSlots + 1> PendingSequences{};

kura::TKuraQuery& Problems() {
  return DataModule1().KuraQuery1;
}
kura::TKuraQuery& Moves() {
  return DataModule1().KuraQuery2;
}

int Read(kura::TKuraQuery& query, int field) {
  return query.Fields(field).AsInteger();
}

void Status(const std::string& text) {
  Toolkit().SetStatusText(0, text);
}

// Stores a pending edit or append (typed texts included) before the query moves or closes.
void PostPending(kura::TKuraQuery& query) {
  if (query.Active()) query.CheckBrowseMode();
}

// The hint stands in the comment column as an unposted edit of the problem row; it must not be
// stored by a post or an append of that query.
void DropHint() {
  if (HintShown != 0) CancelHint();
}

// Appends one tejun row; fields left out stay empty (read as 0).
void AppendMoveRow(int problem, int moveNumber, int colour, int point, int from, int label) {
  kura::TKuraQuery& moves = Moves();
  moves.Append();
  moves.Fields(tejun::kHNB).SetAsInteger(problem);
  moves.Fields(tejun::kTES).SetAsInteger(moveNumber);
  moves.Fields(tejun::kCOL).SetAsInteger(colour);
  moves.Fields(tejun::kPST).SetAsInteger(point);
  moves.Fields(tejun::kBFR).SetAsInteger(label);
  moves.Fields(tejun::kBTO).SetAsInteger(from);
}

// The set-up stones to store: the history entries whose stone is still on the board, each
// point once (its last entry). A stone removed by hand, captured, or clicked over is not part
// of the problem the user sees, and storing it would bring it back on every load.
std::vector<TMoveRecord> SetUpStones() {
  std::vector<TMoveRecord> stones;
  for (int i = 1; i <= HistoryTop; ++i) {
    const TMoveRecord& entry = MoveHistory[static_cast<std::size_t>(i)];
    if (entry.point < 1 || entry.point > kPointCount) continue;
    if (Board[static_cast<std::size_t>(entry.point)] != entry.colour) continue;
    bool clickedAgain = false;
    for (int j = i + 1; j <= HistoryTop && !clickedAgain; ++j)
      clickedAgain = MoveHistory[static_cast<std::size_t>(j)].point == entry.point;
    if (!clickedAgain) stones.push_back(entry);
  }
  return stones;
}

// One sequence of the loaded problem: the TNB of its first row, the label it continues (BTO)
// and its own label (BFR of its last row; 0 when the rows end before it).
struct TSequenceSpan {
  int first = 0;
  int parent = 0;
  int label = 0;
};

// Every sequence of the loaded problem, in row order. Moves the cursor.
std::vector<TSequenceSpan> ReadSequences() {
  kura::TKuraQuery& moves = Moves();
  std::vector<TSequenceSpan> spans;
  for (moves.First(); !moves.Eof(); moves.Next()) {
    const int from = Read(moves, tejun::kBTO);
    if (from != 0) spans.push_back({Read(moves, tejun::kTNB), from, 0});
    const int label = Read(moves, tejun::kBFR);
    if (label != 0 && !spans.empty() && spans.back().label == 0) spans.back().label = label;
  }
  return spans;
}

// The most entries the pending list will hold while the tree rooted at the sequence whose
// first row has TNB `root` is deleted: the deletion run on the list of sequences instead of the
// rows, last found first, each sequence taken once. Moves the cursor.
int PeakPending(int root) {
  const std::vector<TSequenceSpan> spans = ReadSequences();
  std::vector<bool> queued(spans.size(), false);
  std::vector<std::size_t> pending;
  for (std::size_t i = 0; i < spans.size(); ++i) {
    if (spans[i].first == root) {
      pending.push_back(i);
      queued[i] = true;
    }
  }
  std::size_t peak = pending.size();
  while (!pending.empty()) {
    const int label = spans[pending.back()].label;
    pending.pop_back();
    if (label == 0) continue;
    for (std::size_t i = 0; i < spans.size(); ++i) {
      if (queued[i] || spans[i].parent != label) continue;
      queued[i] = true;
      pending.push_back(i);
    }
    peak = std::max(peak, pending.size());
  }
  return static_cast<int>(peak);
}

// Puts a TNB into the lowest free pending slot; false when every slot is taken.
bool AddPending(int tnb) {
  for (int s = 1; s <= kPendingSlots; ++s) {
    if (PendingSequences[static_cast<std::size_t>(s)] == 0) {
      PendingSequences[static_cast<std::size_t>(s)] = tnb;
      return true;
    }
  }
  return false;
}

// The highest-numbered slot in use, 0 when none.
int HighestPendingSlot() {
  for (int s = kPendingSlots; s >= 1; --s)
    if (PendingSequences[static_cast<std::size_t>(s)] != 0) return s;
  return 0;
}

// Deletes rows from the current one on until a deleted row ended a sequence; answers that
// row's label, or 0 when the rows ran out first (the sequence had no end row).
int DeleteRowsToSequenceEnd() {
  kura::TKuraQuery& moves = Moves();
  while (!moves.IsEmpty()) {
    const int label = Read(moves, tejun::kBFR);
    const bool lastRow = moves.RecNo() == moves.RecordCount();
    moves.Delete();
    if (label > 0) return label;
    if (lastRow) break;  // the cursor now stands on an earlier row that is not ours
  }
  return 0;
}

// Queues the first row of every sequence that continues `label`, scanning from the current
// row to the end in row order. Unlike the continuation table this has no limit of ten, so a
// tree stored with more choices than the trainer offers is still deleted whole.
void QueueContinuations(int label) {
  kura::TKuraQuery& moves = Moves();
  for (; !moves.Eof(); moves.Next())
    if (Read(moves, tejun::kBTO) == label) AddPending(Read(moves, tejun::kTNB));
}

// Answers how many sequences continue the sequence end at the current row, the cursor and
// the continuation table (which the dojo screen reads) left as they were.
int ContinuationsOfCurrentEnd(int label) {
  const auto saved = Continuations;
  const int count = CollectContinuations(label);
  Continuations = saved;
  return count;
}

}  // namespace

// --- 登録要求 ------------------------------------------------------------------------------------
void CuteButton4Click() {
  DropHint();
  ClearBoard();
  Registering = 1;
  Problems().Append();
  SetRegisteringButtons(true);
  const int free = DataModule1().SmallestFreeProblem();
  Toolkit().ShowMessage("最小の空番は " + std::to_string(free) + "番です");
  Status(kStartRegistering);
}

// --- 問題登録 ------------------------------------------------------------------------------------
void CuteButton1Click() {
  const std::vector<TMoveRecord> stones = SetUpStones();
  if (stones.empty()) {
    Toolkit().ShowMessage(kNoSetUp);
    return;
  }
  kura::TKuraQuery& problems = Problems();
  TDataModule1& data = DataModule1();
  // The number typed into the new row must be free, in the problem list and among the stored
  // moves: set-up rows added under a number in use would merge two problems into one tree.
  const int number = Read(problems, mondai::kHNB);
  if (number <= 0) {
    Toolkit().ShowMessage(kNoProblemNumber);
    return;
  }
  if (data.ProblemNumberInUse(number) || data.SmallestFreeLabel(number) != kSetUpLabel) {
    Toolkit().ShowMessage("個番 " + std::to_string(number) + " の問題は既に登録されています");
    return;
  }
  PostPending(problems);
  CurrentProblem = number;
  data.OpenProblemList(kRegisteredProblems);
  data.RenumberProblems();
  problems.Locate("HNB", static_cast<std::int64_t>(number));

  PostPending(Moves());  // a comment typed on the previous problem's move
  data.OpenSequences(number);
  const std::size_t count = stones.size();
  for (std::size_t i = 0; i < count; ++i) {
    const int from = i == 0 ? kSetUpStart : 0;
    const int label = i + 1 == count ? kSetUpLabel : 0;
    AppendMoveRow(number, 0, stones[i].colour, stones[i].point, from, label);
  }
  Moves().Post();
  data.OpenSequences(number);
  RenumberMoves();  // leaves the cursor on the set-up's last row
  ClearHistory();
  MoveNumber = 0;
  ColourToPlay = 1;
  Registering = 0;
  SetRegisteringButtons(false);
  Status(kRegistered);
  PlaySound(0);
}

// --- キャンセル ----------------------------------------------------------------------------------
void CuteButton14Click() {
  kura::TKuraQuery& problems = Problems();
  // A hint shown in the comment is an edit of the row too: it goes with the cancel, and the
  // hint button must say so, or a later edit typed on the row would be taken for the hint.
  DropHint();
  if (problems.Active()) problems.Cancel();
  SetRegisteringButtons(false);
  ClearBoard();
}

// --- 問題削除 ------------------------------------------------------------------------------------
void CuteButton2Click() {
  kura::TKuraQuery& problems = Problems();
  // A row still being appended is no stored problem: its typed number may name another one.
  if (problems.IsEmpty() || problems.State() == kura::TDataSetState::dsInsert) return;
  DropHint();
  CurrentProblem = Read(problems, mondai::kHNB);
  const std::string question = "問題 " + std::to_string(CurrentProblem) +
                               " 番を削除していいですか？\r\n解答手順も全て削除" + "します。";
  // Only a plain Yes deletes: a box closed any other way keeps the problem.
  if (Toolkit().Confirm(question) != TModalResult::Yes) return;
  problems.Delete();
  if (CurrentProblem > 0) {
    kura::TKuraQuery& moves = Moves();
    PostPending(moves);
    DataModule1().OpenSequences(CurrentProblem);
    moves.First();
    while (!moves.IsEmpty()) moves.Delete();
  }
  ClearBoard();
}

// --- 正手順登録 / 悪手順登録 --------------------------------------------------------------------
void CuteButton5Click() {
  RegisterSequence(1);
}
void CuteButton6Click() {
  RegisterSequence(-1);
}

void RegisterSequence(int sign) {
  if (Registering == 1) {
    Status(kFinishRegistering);
    return;
  }
  const int count = HistoryTop;
  if (count == 0) {
    Status(kNoMovesToRegister);
    return;
  }
  kura::TKuraQuery& moves = Moves();
  if (CurrentProblem <= 0 || moves.IsEmpty()) {
    Status(kNoProblemLoaded);
    return;
  }
  WalkToSequenceEnd();
  const int from = Read(moves, tejun::kBFR);
  // The trainer offers at most ten choices at a sequence end; an eleventh could never be played.
  if (ContinuationsOfCurrentEnd(from) >= kMaxContinuations) {
    Status(kTooManyContinuations);
    return;
  }
  const int firstPoint = MoveHistory[1].point;
  const int firstColour = MoveHistory[1].colour;
  for (int i = 1; i <= count; ++i) {
    const TMoveRecord& entry = MoveHistory[static_cast<std::size_t>(i)];
    const bool first = i == 1;
    const bool last = i == count;
    // The label is looked up before the last row is appended: the lookup runs its own query.
    const int label = last ? DataModule1().SmallestFreeLabel(CurrentProblem) : 0;
    AppendMoveRow(CurrentProblem, entry.moveNumber, first ? entry.colour * sign : entry.colour,
                  entry.point, first ? from : 0, label);
    MoveNumber = entry.moveNumber;
    ColourToPlay = entry.colour;
  }
  moves.Post();
  ClearHistory();
  if (sign < 0 && BoardViewOrNull() != nullptr)
    BoardViewOrNull()->SetLabelColour(firstPoint, WrongMoveNumberColour(firstColour));
  RenumberMoves();  // leaves the cursor on the new sequence's last row
  ColourToPlay = MoveNumber == 0 ? 1 : 2 / std::abs(ColourToPlay);
  Status(kRegistered);
  PlaySound(0);
}

// --- 手順削除 ------------------------------------------------------------------------------------
void CuteButton3Click() {
  kura::TKuraQuery& moves = Moves();
  if (moves.IsEmpty()) return;
  // Read into a local: a question answered No must leave the numbering of the next move alone.
  const int moveNumber = Read(moves, tejun::kTES);
  if (moveNumber == 0) return;  // a set-up row
  const std::string question = "手数 " + std::to_string(moveNumber) +
                               " を含む手順と継続する全ての" + "手順を削除していいですか？";
  if (Toolkit().Confirm(question) != TModalResult::Yes) return;
  MoveNumber = moveNumber;
  DeleteSequenceTree();
}

void DeleteSequenceTree() {
  kura::TKuraQuery& moves = Moves();
  PendingSequences.fill(0);
  WalkToSequenceStart();
  const int root = Read(moves, tejun::kTNB);
  if (root <= 1) return;  // the set-up is never deleted this way
  if (PeakPending(root) > kPendingSlots) {
    GoToRow(root);
    Status(kTreeTooLarge);
    return;
  }
  GoToRow(root);
  PendingSequences[1] = root;
  moves.Prior();
  const int back = Read(moves, tejun::kTNB);

  // The most recently found continuation goes first, so rows not yet deleted never move in
  // front of a pending TNB; continuations always lie after `back`.
  for (int s = HighestPendingSlot(); s != 0; s = HighestPendingSlot()) {
    GoToRow(PendingSequences[static_cast<std::size_t>(s)]);
    const int label = DeleteRowsToSequenceEnd();
    PendingSequences[static_cast<std::size_t>(s)] = 0;
    RenumberMoves();
    GoToRow(back);
    if (label > 0) QueueContinuations(label);
  }
  GoToRow(back);
  ShowSequencePath();
  Status(kDeleted);
  PlaySound(0);
}

// --- 分類編集 ------------------------------------------------------------------------------------
void CuteButton12Click() {
  kura::TKuraQuery& problems = Problems();
  DropHint();
  problems.Edit();
  SetFieldText(problems.Fields(mondai::kKB1), Toolkit().Control("ComboBox1").Text());
  SetFieldText(problems.Fields(mondai::kKB2), Toolkit().Control("ComboBox2").Text());
  if (NewProblemRowPending()) {
    // The categories of a problem being registered are stored with it by 問題登録.
    Status(kFinishRegistering);
    return;
  }
  problems.Post();
  Status(kRegistered);
  PlaySound(0);
}

}  // namespace goramina
