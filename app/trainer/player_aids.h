// What a Go player expects around the board beyond the stored play: coordinates in the board's
// margin (columns A-T without I, rows 1-19 from the bottom), the side to move, a ring on the
// last move, the verdict when the stored play of a line ends, and keys for the dojo screen's
// buttons. None of it moves a control of the window; everything goes through the toolkit, so
// the headless tests drive it as the window does.
#pragma once

#include <string>
#include <vector>

#include "app/toolkit/form_spec.h"
#include "app/toolkit/toolkit.h"

namespace goramina {

// Menu items and the setting that remembers the coordinates' state.
inline constexpr const char* kCoordinatesItem = "ShowCoordinates";
inline constexpr const char* kCoordinatesSetting = "board/coordinates";

// Controls of the aids, names as used by the tests.
inline constexpr const char* kSideToMoveLabel = "SideToMove";
inline constexpr const char* kVerdictLabel = "Verdict";
inline constexpr const char* kLastMoveMark = "LastMoveMark";
std::string ColumnCoordinateName(int column);  // column 0..18: "ColumnCoord1".."ColumnCoord19"
std::string RowCoordinateName(int row);        // row 0..18 from the top: "RowCoord1".."RowCoord19"

// Texts the player sees.
inline constexpr const char* kBlackToPlay = "黒番";
inline constexpr const char* kWhiteToPlay = "白番";
inline constexpr const char* kCorrectVerdict = "正解です！";
inline constexpr const char* kWrongVerdict = "不正解です…";
inline constexpr TColor kCorrectColour = Rgb(0, 160, 0);
inline constexpr TColor kWrongColour = Rgb(224, 0, 0);
inline constexpr TColor kLastMoveColour = Rgb(240, 30, 30);  // reads on both stones

// The letter of board column 0..18 (A..T without I) and the name of a point ("A19" is point 1).
char ColumnLetter(int column);
std::string PointName(int point);

// The aids' controls (created after the board, so the ring lies above the stones; shapes let
// the mouse through to the point below) and their menus (操作 with the keys shown, 表示).
std::vector<TControlSpec> PlayerAidControlSpecs();
std::vector<TMenuItemSpec> PlayerAidMenus();

// Registers the key handler and the menu handlers. RefreshPlayerAids is the window's to call
// after every event (ConnectHandlers does).
void ConnectPlayerAids(TToolkit& toolkit);
// Shows the coordinates as the setting says (on unless turned off) and checks the menu item.
void ApplyCoordinatesSetting();
// Shows or hides the aids that belong to the dojo screen.
void ShowPlayerAids(bool dojoScreen);

// Called where the stored play of a line ends: the verdict of the line that ends at the
// sequence query's current row, a refutation when any sequence on its way from the set-up is a
// wrong one (LineIsWrong). It stays shown while the position stands; any change of the stones,
// a move taken back, a reload of the problem or another problem clears it for good.
void RecordPlayEnded();
// The verdict shown now: 1 correct, -1 a refutation, 0 none (also on the edit screen).
int CurrentVerdict();

// Draws the side to move, the last-move ring and the verdict from the trainer's state. Runs
// after every event; cheap when nothing changed.
void RefreshPlayerAids();

// The key handler: ← １手戻す, → 1手進む, ↑/PageUp and ↓/PageDown the previous and next problem,
// H ヒント表示, A 解答表示, Backspace １手順戻す. A key whose button is hidden or disabled on the
// current screen does nothing; answers whether the key did something.
bool FormKeyDown(TKey key);

}  // namespace goramina
