// app/trainer — the problem trainer on the dojo screen, and the main window's unit it shares with
// the editor: the state beyond the board position (app/board/board.h), the tree of stored
// sequences walked through KuraQuery2's cursor, loading a problem, lesson / alternate / free
// play with the stored replies, stepping forward and back, the answer display, the continuation
// marks, the hint and the player's aids. Like the board, this is module-level state: one main
// window, one loaded problem, one user-interface thread.
//
//   sequence_tree.cpp  the tree of stored sequences, walked through KuraQuery2's cursor
//   solving.cpp        the dojo screen: loading, lesson / alternate / free play, replies, hint
//   edit_moves.cpp     the board click of the edit screen (the click handler serves both screens)
//   player_aids.cpp    the player's aids beside the board
//
// The routines reach the window only through the toolkit and the tables only through the data
// module set by SetMainUnit. The edit screen's handlers are in app/editor/editing.h, the
// window's in app/window/main_form.h.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/common/problem_limits.h"
#include "app/toolkit/toolkit.h"

namespace goramina {

class TDataModule1;
class TBoardView;

// --- Environment, set once at start-up (tests set their own) --------------------------------
void SetMainUnit(TToolkit* toolkit, TDataModule1* dataModule, TBoardView* view);
TToolkit& Toolkit();
TDataModule1& DataModule1();

// --- Module-level state -----------------------------------------------------------------------
extern std::int32_t ScreenKind;      // 1 dojo screen 道場画面, 2 edit screen 編集画面
extern std::int32_t PlayMode;        // 1 lesson 教材, 2 alternate 交互, 3 free 自由
extern std::int32_t CurrentProblem;  // HNB of the loaded problem; 0 when none
extern std::int32_t HintShown;       // 1 while the hint stands in the comment column

// One continuation of a sequence end: the first row of a sequence that continues it.
struct TContinuation {
  std::int32_t TNB = 0;  // 0 ends the table
  std::int32_t TES = 0;
  std::int32_t COL = 0;
  std::int32_t PST = 0;
};
// The continuation table, entries 1..kMaxContinuations (entry 0 unused).
extern std::array<TContinuation, kMaxContinuations + 1> Continuations;

// --- Move-sequence tree (sequence_tree.cpp), all on KuraQuery2 and its current row ------------
void GoToRow(int tnb);  // first row, then tnb-1 rows forward
int WalkToSequenceEnd();
void WalkToSequenceStart();
void StepBack();
void RenumberMoves();
int CollectContinuations(int label);
int NextKind();
int ClassifyMove(int point);
void ShowSequencePath();
// Whether the line from the set-up down to the current row is a refutation: some sequence on
// it, the current row's own or one it continues, is a wrong sequence (its first row's colour is
// negative). Only a wrong sequence's first row carries the sign, so the row where play ends
// (often the refuting reply) cannot tell by itself. The current row is unchanged afterwards.
bool LineIsWrong();

// --- Solving (solving.cpp) ----------------------------------------------------------------------
void LoadProblem();
void PlaySound(int which);  // 0 Oto1.wav, otherwise Oto2.wav
void EraseMarks();
void BackOneMove();
void ShowContinuationMarks();
void AdvanceStatus(int withSound);
void AdvanceOne();
// Cancels the unposted hint edit of the problem row (and shows the hint button as unpressed),
// so that the hint is never stored as the comment. Called before the problem row changes.
void CancelHint();
void Label1MouseDown(const std::string& sender, TMouseButton button, TShiftState shift);
void DBGrid1CellClick();  // also the double click
// The problem list's current row is the selected problem: when it names another problem than
// the one on the board (after 全問表示, 問題検索, a deletion, a return from the edit screen),
// that problem is loaded, as a click on the row would. A list being typed into or a problem
// being registered is left alone; the message in status panel 0 stays.
void FollowProblemList();
void CuteButton7Click();   // 解答表示
void CuteButton8Click();   // 1手進む
void CuteButton9Click();   // １手戻す
void CuteButton10Click();  // １手順戻す
void CuteButton13Click();  // ヒント表示 / ヒント消去
void Timer2Timer();

// --- The board click of the edit screen (edit_moves.cpp) ---------------------------------------
// The edit screen's own handlers are in app/editor/editing.h.
// A click on the edit screen that is neither a choice mark nor a shift-removal.
void RecordEditMove(int point, TMouseButton button);
// 問題登録 usable alone while a problem is being registered; the other register and delete
// buttons otherwise.
void SetRegisteringButtons(bool registering);
// Whether the problem list holds the unposted new row of 登録要求.
bool NewProblemRowPending();
// Called before the problem list leaves its current row: a new row of 登録要求 still pending
// is dropped (never stored without 問題登録), the registration ends and the status says so.
void AbandonNewProblemRow();

}  // namespace goramina
