// app/window — the main window's logic, without Qt: its controls, fixed texts and geometry, the
// two screens (道場画面 and 編集画面) and the switch between them, the menus, the clock, the
// problem search, the start-up step that builds the window on a toolkit and connects every
// handler, and the menu items that reach the SGF exchange and the problem check. It sits above
// every other folder but app/qt, which puts it on a real window.
#pragma once

#include <string_view>

#include "app/toolkit/form_spec.h"

namespace goramina {

class TToolkit;

// The window's caption, also the application's title.
inline constexpr std::string_view kApplicationTitle = "ゴラミナ";
// The help page, looked up next to the executable.
inline constexpr std::string_view kHelpFileName = "ゴラミナ.html";
// The version box: the title, a line break, the version.
inline constexpr std::string_view kVersionText = "ゴラミナ\r\nVersion 3.6";
// The question asked by the 終了 menu item.
inline constexpr std::string_view kExitQuestion = "「ゴラミナ」を終了していいですか？";
// The clock in status panel 2: "12/08  09:05 PM".
inline constexpr std::string_view kClockPattern = "mm/dd  hh:mm AM/PM";

// The panel of lists and buttons lies right of the board. Every control of it stands this far
// right of its design place, so the strip between the board and the panel holds the row
// coordinates with room to spare; the window is as much wider.
inline constexpr int kPanelShift = 16;

// The outer size of the window and its client area below the menu bar (the status bar lies at
// its foot, over the background). The board fills the left 536 x 536 pixels.
inline constexpr int kWindowWidth = 834 + kPanelShift;
inline constexpr int kWindowHeight = 611;
inline constexpr int kClientWidth = 834 + kPanelShift;
inline constexpr int kClientHeight = 573;
inline constexpr TColor kWindowColour = 16773360;  // RGB(240, 240, 255)

// Button face colours.
inline constexpr TColor kRegisterFace = 8576250;   // RGB(250, 220, 130)
inline constexpr TColor kSequenceFace = 12189570;  // RGB(130, 255, 185)
inline constexpr TColor kCream = 15793151;         // RGB(255, 251, 240), DBEdit1's background

// Start-up of the window on `toolkit`: sets the application's title, creates every control of
// MainFormSpec, points the help file at ProgramDir + "ゴラミナ.html" and connects the handlers.
// The unit (SetMainUnit) must already name this toolkit.
void CreateMainForm(TToolkit& toolkit);

// --- The window's handlers and screens -----------------------------------------------------------
// Every control, menu item, status panel, timer and media player of the main window.
TFormSpec MainFormSpec();
void ShowDojoScreen();
void ShowEditScreen();
void FormShow();
void N2Click();  // menu 道場画面
void N3Click();  // menu 編集画面
void AllhelpClick();
void VinfoClick();
void ApriendClick();
void Timer1Timer();
void CuteButton11Click();  // クリア
void CuteButton15Click();  // 問題検索
void CuteButton16Click();  // 全問表示
void ComboBox3Change();
void DBGrid2CellClick();
// Connects every handler above to the toolkit's events.
void ConnectHandlers(TToolkit& toolkit);

}  // namespace goramina
