// The dojo screen: loading a problem, the three play modes, the stored replies played by
// Timer2, stepping forward and back, the answer display, the continuation marks and the hint.
#include <stdexcept>
#include <string>

#include "app/board/board.h"
#include "app/collection/data_module.h"
#include "app/trainer/main_unit.h"
#include "app/trainer/player_aids.h"
#include "app/trainer/trainer_rows.h"

namespace goramina {
namespace {

// Status texts and the question, as the user sees them (some start with a blank).
constexpr const char* kPlayEndedAlready = " 登録手順は既に終了しています。";
constexpr const char* kGoOn = " 進めてください。";
constexpr const char* kPlayEnded = " 登録手順は終了です。";
constexpr const char* kPlayEndedStep = "登録手順は終了です。";
constexpr const char* kChooseMark = "緑丸か赤丸の一つを選んでください。";
constexpr const char* kCannotGoBack = "もう戻せません。";
constexpr const char* kSequenceBack = "１手順戻しました。";
constexpr const char* kNotRegistered =
    "登録手順にありません。\r\n打ち直すなら 「はい」\r\n登録手を表示するなら 「いいえ」\r\n"
    "を選んでください。";
constexpr const char* kReplaceStone =
    "この点には石があります。\r\n石を置き換えるなら 「はい」\r\nやめるなら 「いいえ」\r\n"
    "を選んでください。";

// The label of the set-up sequence: the parent of every first answer sequence.
constexpr int kSetUpLabel = 1;

constexpr const char* kHintButton = "CuteButton13";
constexpr const char* kShowHintCaption = "ヒント表示";
constexpr const char* kHideHintCaption = "ヒント消去";
constexpr TColor kShowHintFace = Rgb(130, 255, 185);
constexpr TColor kHideHintFace = Rgb(250, 220, 130);

constexpr const char* kReplyTimer = "Timer2";
constexpr const char* kMediaPlayer = "MediaPlayer1";

// ClassifyMove's answers besides a continuation's index.
constexpr int kNothingFollows = 0;
constexpr int kNextMoveMatches = 21;
constexpr int kNextMoveDiffers = 22;
constexpr int kNotTheOnlyContinuation = 23;
constexpr int kNoContinuationMatches = 24;

// Lesson, alternate and free play.
constexpr int kLesson = 1, kAlternate = 2, kFree = 3;

void Status(const char* text) {
  Toolkit().SetStatusText(0, text);
}

TBoardView& View() {
  TBoardView* view = BoardViewOrNull();
  if (view == nullptr) throw std::logic_error("The board view is not set");
  return *view;
}

void EnableReplyTimer(bool enabled) {
  Toolkit().SetTimerEnabled(kReplyTimer, enabled);
}

// Draws the current sequence row with its number, as a stored move of the play.
void DrawCurrentRow() {
  const int colour = SequenceField(tejun::kCOL);
  DrawStoredMove(SequenceField(tejun::kTES), colour, SequenceField(tejun::kPST), colour, 1);
}

// Shows the registered move of the current row in place of the user's (answered "No").
void ShowRegisteredMove() {
  ++HistoryTop;
  DrawCurrentRow();
  if (ColourToPlay == 1) {
    AutoPlay = 2;
    EnableReplyTimer(true);
  }
  ColourToPlay = ColourAfter(ColourToPlay);
  AdvanceStatus(1);
}

// The number of points holding a stone (positive code).
int StonesOnBoard() {
  int stones = 0;
  for (int p = 1; p <= kPointCount; ++p) stones += Board[p] > 0 ? 1 : 0;
  return stones;
}

void ChooseContinuation(int point) {
  for (int i = 1; i <= kMaxContinuations && Continuations[i].TNB != 0; ++i) {
    const TContinuation& choice = Continuations[i];
    if (choice.PST != point) continue;
    GoToRow(choice.TNB);
    DrawStoredMove(choice.TES, choice.COL, point, choice.COL, 1);
    ColourToPlay = ColourAfter(ColourToPlay);
    break;
  }
  EraseMarks();
  if (ColourToPlay == 2) {
    AutoPlay = 2;
    EnableReplyTimer(true);
  }
  AdvanceStatus(1);
}

// Compares a lesson move with the registered play and answers it.
void AnswerLessonMove(int point) {
  const int kind = ClassifyMove(point);
  if (kind == kNothingFollows) {
    BackOneMove();
    Status(kPlayEndedAlready);
  } else if (kind == kNextMoveMatches) {
    Sequences().Next();
    AutoPlay = 2;
    EnableReplyTimer(true);
  } else if (kind >= 1 && kind <= kMaxContinuations) {
    GoToRow(Continuations[kind].TNB);
    if (SequenceField(tejun::kCOL) < 0) {
      View().SetLabelColour(point, WrongMoveNumberColour(Board[point]));
    }
    AutoPlay = 2;
    EnableReplyTimer(true);
    AdvanceStatus(1);
  } else {
    const bool showRegistered = Toolkit().Confirm(kNotRegistered) == TModalResult::No;
    BackOneMove();
    if (showRegistered) {
      if (kind == kNextMoveDiffers) {
        Sequences().Next();
        ShowRegisteredMove();
      } else if (kind == kNotTheOnlyContinuation) {
        GoToRow(Continuations[1].TNB);
        ShowRegisteredMove();
      } else if (kind == kNoContinuationMatches) {
        ShowContinuationMarks();
      }
    }
  }
  // In lesson mode the history never holds more than the one move being answered.
  ClearHistory();
}

// In alternate and free play the user's move must be legal: not a suicide, not the immediate
// retake of a ko, and not on a stone unless the user confirms that the stone is to be replaced.
// A refused move changes nothing; the status says why, with the second sound. Lesson moves are
// judged against the stored play instead, and stored moves always stand as stored.
bool RefusedByTheRules(int colour, int point) {
  TLegality verdict = MoveLegalityHere(colour, point);
  if (verdict == TLegality::kOccupied && Toolkit().Confirm(kReplaceStone) == TModalResult::Yes)
    verdict = MoveLegalityHere(colour, point, true);
  if (verdict == TLegality::kLegal) return false;
  Status(LegalityText(verdict).c_str());
  PlaySound(1);
  return true;
}

void PlayMove(int point, TMouseButton button) {
  int colour = ColourToPlay;
  int labelMode = 0;
  if (PlayMode == kLesson) {
    labelMode = 1;
  } else if (PlayMode == kAlternate) {
    if (MoveNumber + 1 == 1) colour = 1;
  } else {
    colour = button == TMouseButton::Left ? 1 : 2;
  }
  if (colour == 0) colour = 1;
  if (PlayMode != kLesson && RefusedByTheRules(colour, point)) return;
  if (!MoveFits(colour, point, true)) return;  // the reason is in the status bar
  ++HistoryTop;
  ++MoveNumber;
  if (PlayMode == kAlternate && MoveNumber == 1) ColourToPlay = 1;
  NoteMoveBefore(MoveNumber, point);
  Board[point] = colour;
  MoveHistory[HistoryTop] = TMoveRecord{MoveNumber, colour, point};
  PlaceStone(MoveNumber, colour, point, labelMode);
  PlaySound(0);
  ColourToPlay = ColourAfter(colour);
  if (PlayMode == kLesson) AnswerLessonMove(point);
}

void SetHintButton(const char* caption, TColor face) {
  TToolkit* toolkit = ToolkitOrNull();
  TControl* button = toolkit != nullptr ? toolkit->FindControl(kHintButton) : nullptr;
  if (button == nullptr) return;
  button->SetText(caption);
  button->SetColor(face);
}

// The comment the hint stands in for, as stored (code page 932).
std::string hiddenComment;

}  // namespace

void PlaySound(int which) {
  TMediaPlayer& player = Toolkit().MediaPlayer(kMediaPlayer);
  player.SetFileName(Toolkit().ProgramDir() + (which == 0 ? "Oto1.wav" : "Oto2.wav"));
  if (!player.IsOpen()) player.Open();
  player.Play();
}

void LoadProblem() {
  // A set-up being entered for a new problem is kept.
  if (Registering == 1 && StonesOnBoard() == HistoryTop) return;
  ClearBoard();
  kura::TKuraQuery& problems = DataModule1().KuraQuery1;
  CurrentProblem = problems.Active() && problems.RecordCount() > 0
                       ? problems.Fields(mondai::kHNB).AsInteger()
                       : 0;
  DataModule1().OpenSequences(CurrentProblem);
  if (SequenceField(tejun::kHNB) == 0) return;  // the problem has no rows
  kura::TKuraQuery& q = Sequences();
  for (;;) {
    const int colour = SequenceField(tejun::kCOL);
    DrawStoredMove(SequenceField(tejun::kTES), colour, SequenceField(tejun::kPST), colour, 0);
    if (SequenceField(tejun::kBFR) > 0 || MoveNumber > 0 || q.RecNo() >= q.RecordCount()) break;
    q.Next();
  }
  WalkToSequenceEnd();
  ColourToPlay = 1;
  Status("");
}

void Label1MouseDown(const std::string& sender, TMouseButton button, TShiftState shift) {
  Status("");
  const TControl& label = Toolkit().Control(sender);
  const int point = PointFromLabel(label.Left(), label.Top(), Toolkit().HorizontalScrollPosition(),
                                   Toolkit().VerticalScrollPosition());
  if (point < 1 || point > kPointCount) return;
  const bool shiftRemoval = shift == (ssShift | ssLeft) || shift == (ssShift | ssRight);
  if (shiftRemoval && Board[point] > 0) {
    RemoveStoneByHand(point);
  } else if (View().GetLabel(point) == kChoiceMark) {
    ChooseContinuation(point);
  } else if (ScreenKind == 2) {
    RecordEditMove(point, button);
  } else {
    PlayMove(point, button);
  }
}

void AdvanceStatus(int withSound) {
  if (NextKind() > 0) {
    if (ScreenKind == 1) Status(kGoOn);
    if (withSound == 1) PlaySound(0);
  } else {
    Status(kPlayEnded);
    RecordPlayEnded();
    AutoPlay = 0;
    if (withSound == 1) PlaySound(1);
  }
}

void AdvanceOne() {
  const int kind = NextKind();
  if (kind == 0) {
    Status(kPlayEndedStep);
    RecordPlayEnded();
    AutoPlay = 0;
    PlaySound(1);
  } else if (kind == 1) {
    Sequences().Next();
    DrawCurrentRow();
    ColourToPlay = ColourAfter(ColourToPlay);
    AdvanceStatus(1);
  } else if (kind == 2) {
    const TContinuation only = Continuations[1];
    DrawStoredMove(only.TES, only.COL, only.PST, only.COL, 1);
    ColourToPlay = ColourAfter(ColourToPlay);
    GoToRow(only.TNB);
    AdvanceStatus(1);
  } else {
    ShowContinuationMarks();
  }
  if (AutoPlay == 1) {
    EnableReplyTimer(true);
  } else if (AutoPlay == 2) {
    AutoPlay = 0;
    EnableReplyTimer(false);
  }
}

void Timer2Timer() {
  if (AutoPlay != 0) {
    AdvanceOne();
  } else {
    EnableReplyTimer(false);
  }
}

void ShowContinuationMarks() {
  // The marks are drawn from the continuation table; the cursor does not move.
  TBoardView& view = View();
  for (int i = 1; i <= kMaxContinuations && Continuations[i].TNB > 0; ++i) {
    const TContinuation& choice = Continuations[i];
    if (!IsDrawableMove(choice.COL, choice.PST)) continue;
    ColourToPlay = choice.COL;
    view.SetLabel(choice.PST, kChoiceMark);
    view.SetLabelColour(choice.PST, choice.COL > 0 ? kGreenMarkColour : kWrongMoveColour);
  }
  Status(kChooseMark);
  PlaySound(0);
}

void EraseMarks() {
  TBoardView& view = View();
  for (int p = 1; p <= kPointCount; ++p) {
    if (Board[p] != 0) continue;
    view.ClearStone(p);
    view.SetLabel(p, "");
  }
  Status("");
}

void BackOneMove() {
  if (HistoryTop > 0) {
    BackState = 1;
    UndoLastMove();
    return;
  }
  BackState = 2;
  EraseMarks();
  if (Sequences().RecordCount() == 0) return;
  // Takes back the stored move of the current row. The position before it comes back as it
  // was, captured stones and a stone the move was played on included; only when that position
  // was never noted (the board was drawn another way) is the point simply cleared.
  // The move before it is now the last one, so the move played in its place takes its number.
  const int colour = SequenceField(tejun::kCOL);
  const int point = SequenceField(tejun::kPST);
  const int moveNumber = SequenceField(tejun::kTES);
  MoveNumber = moveNumber > 0 ? moveNumber - 1 : 0;
  if (colour != 0) ColourToPlay = colour;
  if (point >= 1 && point <= kPointCount && !RestorePositionBefore(moveNumber, point)) {
    View().ClearStone(point);
    View().SetLabel(point, "");
    Board[point] = 0;
  }
  if (SequenceField(tejun::kBFR) != 1) {
    StepBack();
    if (point >= 1 && point <= kPointCount) LastPoint = point;
  }
}

void DBGrid1CellClick() {
  LoadProblem();
}

void FollowProblemList() {
  kura::TKuraQuery& problems = DataModule1().KuraQuery1;
  if (!problems.Active() || Registering != 0) return;
  if (problems.State() != kura::TDataSetState::dsBrowse) return;
  const int listed = problems.IsEmpty() ? 0 : problems.Fields(mondai::kHNB).AsInteger();
  if (listed == CurrentProblem) return;
  const std::string message = Toolkit().StatusText(0);
  LoadProblem();
  Toolkit().SetStatusText(0, message);
}

void CuteButton7Click() {
  AutoPlay = 1;
  AdvanceOne();
}

void CuteButton8Click() {
  Status("");
  AdvanceOne();
  ClearHistory();
}

void CuteButton9Click() {
  if (BackState == 1 && HistoryTop == 0) {
    // The user's own moves are all taken back: this press only says so.
    BackState = 0;
    Status(kCannotGoBack);
    return;
  }
  if (HistoryTop == 0 && SequenceField(tejun::kBFR) == 1) {
    LoadProblem();
    Status(kCannotGoBack);
    PlaySound(0);
    return;
  }
  BackOneMove();
}

void CuteButton10Click() {
  Status("");
  const int startRow = SequenceField(tejun::kTNB);
  WalkToSequenceStart();
  const int parent = SequenceField(tejun::kBTO);
  MoveNumber = SequenceField(tejun::kTES);
  if (MoveNumber == 0) {
    // Already at the set-up: the walk must not leave the cursor on the set-up's first row,
    // where the right first move would no longer be found.
    if (startRow > 0) GoToRow(startRow);
    Status(kCannotGoBack);
    PlaySound(0);
    return;
  }
  if (parent == kSetUpLabel) {
    // Back to the set-up: the trainer stands exactly as after loading the problem.
    LoadProblem();
    Status(kSequenceBack);
    PlaySound(0);
    return;
  }
  // The end of the sequence the current one continues.
  kura::TKuraQuery& q = Sequences();
  q.First();
  while (SequenceField(tejun::kBFR) != parent && q.RecNo() < q.RecordCount()) q.Next();
  ShowSequencePath();
  // The choices at the end reached are collected afresh: the table may still hold those of
  // another branch point (or none, after the end of the play), whose marks would lead a
  // choice to rows that do not follow this position.
  CollectContinuations(parent);
  ShowContinuationMarks();
  Status(kSequenceBack);
  PlaySound(0);
}

void CuteButton13Click() {
  kura::TKuraQuery& problems = DataModule1().KuraQuery1;
  if (HintShown == 0) {
    // Only a problem row at rest can show its hint: a row being typed or appended is left be.
    if (!problems.Active() || problems.RecordCount() == 0 ||
        problems.State() != kura::TDataSetState::dsBrowse) {
      return;
    }
    problems.Edit();
    hiddenComment = problems.Fields(mondai::kCMT).AsString();
    // Both texts are stored alike, so the hint's bytes go over unchanged.
    problems.Fields(mondai::kCMT).SetAsString(problems.Fields(mondai::kHNT).AsString());
    HintShown = 1;
    SetHintButton(kHideHintCaption, kHideHintFace);
  } else {
    CancelHint();
  }
}

void CancelHint() {
  if (HintShown == 0) return;
  HintShown = 0;
  kura::TKuraQuery& problems = DataModule1().KuraQuery1;
  if (problems.State() == kura::TDataSetState::dsEdit) problems.Cancel();
  SetHintButton(kShowHintCaption, kShowHintFace);
}

void ForgetHintBeforePost() {
  if (HintShown == 0) return;
  HintShown = 0;
  kura::TKuraQuery& problems = DataModule1().KuraQuery1;
  if (problems.State() == kura::TDataSetState::dsEdit) {
    problems.Fields(mondai::kCMT).SetAsString(hiddenComment);
  }
  SetHintButton(kShowHintCaption, kShowHintFace);
}

}  // namespace goramina
