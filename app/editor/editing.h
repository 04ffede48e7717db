// app/editor — the edit screen. The owner of the collection sets up a new problem by clicking
// stones onto the board and registers it (登録要求, 問題登録, キャンセル), records correct and
// wrong answer sequences from the moves clicked after it (正手順登録, 悪手順登録), deletes a
// problem or a sequence with everything that continues it (問題削除, 手順削除), and files the
// problem under its categories (分類編集). The board click itself is shared with the dojo screen
// and lives in the trainer (app/trainer/main_unit.h); everything here runs without Qt, through
// the toolkit and the data module.
#pragma once

namespace goramina {

void RegisterSequence(int sign);  // 1 correct, -1 wrong
void DeleteSequenceTree();
void CuteButton1Click();   // 問題登録
void CuteButton2Click();   // 問題削除
void CuteButton3Click();   // 手順削除
void CuteButton4Click();   // 登録要求
void CuteButton5Click();   // 正手順登録
void CuteButton6Click();   // 悪手順登録
void CuteButton12Click();  // 分類編集
void CuteButton14Click();  // キャンセル

}  // namespace goramina
