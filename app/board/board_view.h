// The 19x19 board drawn with ordinary controls of the main window: a background shape, line
// and star-point shapes, one stretched transparent image per point for the stone, and one
// transparent label per point above it for the move number or a choice mark. The labels also
// take the mouse presses on the board.
//
// Points are numbered 1..361 column by column: point n lies in column (n-1) div 19 and row
// (n-1) mod 19, counted from the top-left corner; its intersection is at
// (16 + 28 * column, 16 + 28 * row) in the window's client area.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/go/go_point.h"
#include "app/toolkit/bitmap.h"
#include "app/toolkit/form_spec.h"

namespace goramina {

class TToolkit;

constexpr int kCellPixels = 28;
constexpr int kBoardOrigin = 16;    // pixel of the first intersection
constexpr int kLabelLeftInset = 7;  // label left  = 7 + 28 * column
constexpr int kLabelTopInset = 11;  // label top   = 11 + 28 * row
constexpr int kLabelWidth = 20;
constexpr int kLabelHeight = 12;

// Board colour and label text colours.
constexpr TColor kBoardColour = 11986942;     // RGB(254, 231, 182)
constexpr TColor kNumberOnBlack = 16777215;   // white
constexpr TColor kNumberOnWhite = 0;          // black
constexpr TColor kWrongMoveColour = 255;      // red: the red choice mark on the bare board
constexpr TColor kGreenMarkColour = 3669815;  // RGB(55, 255, 55)
// The number of a wrong-sequence move is red in a shade that reads on its stone: pure red is
// too dark on a black stone and too light on a white one.
constexpr TColor kWrongNumberOnBlack = Rgb(255, 140, 140);
constexpr TColor kWrongNumberOnWhite = Rgb(130, 0, 0);
constexpr TColor WrongMoveNumberColour(int stoneColour) {
  return (stoneColour < 0 ? -stoneColour : stoneColour) == 1 ? kWrongNumberOnBlack
                                                             : kWrongNumberOnWhite;
}
inline constexpr const char* kChoiceMark = "●";

inline constexpr const char* kBlackStoneFile = "stB.bmp";
inline constexpr const char* kWhiteStoneFile = "stW.bmp";

// The controls of the board, in creation order (shapes, then images, then labels above
// them), ready to be added to the main window's description.
std::vector<TControlSpec> BoardControlSpecs();

// The point whose label lies at (labelLeft, labelTop) when the window is scrolled by
// (horizontalScroll, verticalScroll): column (left + hscroll - 7) div 28, row
// (top + vscroll - 11) div 28.
int PointFromLabel(int labelLeft, int labelTop, int horizontalScroll, int verticalScroll);

// The drawing operations on point n (1..361); each finds "Image<n>" or "Label<n>" by name.
class TBoardView {
 public:
  // `programDir` ends with a path separator; the stone pictures are read from there.
  TBoardView(TToolkit& toolkit, std::string programDir);

  // Shows stB.bmp in Image<n> when |colour| = 1, otherwise stW.bmp. Each picture is read from
  // disk once, at its first use, and then shared by every point. A missing or broken file
  // throws the toolkit's file error (EFOpenError or EInvalidGraphic) and leaves the point as
  // it was; the next stone of that colour tries the file again.
  void ShowStone(int point, int colour);
  // Removes Image<n>'s picture.
  void ClearStone(int point);
  void SetLabel(int point, const std::string& text);
  std::string GetLabel(int point) const;
  void SetLabelColour(int point, TColor colour);

  TToolkit& Toolkit() { return toolkit_; }
  const std::string& ProgramDir() const { return programDir_; }

 private:
  // The black or white stone's picture, read at the first call.
  const std::shared_ptr<const TBitmap>& StonePicture(bool black);

  TToolkit& toolkit_;
  std::string programDir_;
  std::shared_ptr<const TBitmap> blackStone_;
  std::shared_ptr<const TBitmap> whiteStone_;
};

}  // namespace goramina
