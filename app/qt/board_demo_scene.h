// A board with a short game on it: set-up stones, numbered moves, a capture, a wrong move
// numbered in red and two choice marks. Shown by the board_demo program and checked by the
// rendering test.
#pragma once

#include <string>

#include "app/toolkit/form_spec.h"

namespace goramina {

class TToolkit;

// The demo window: the board and a status bar.
TFormSpec BoardDemoForm();

// Plays the demo game on the board (the view must be set). Returns the points of interest.
struct TBoardDemoPoints {
  int blackSetUp;  // black stone without a number
  int whiteSetUp;  // white stone without a number
  int captured;    // a white stone taken by a black move: empty again
  int redNumber;   // a wrong move: white stone, red number
  int greenMark;   // a green choice mark on an empty point
};
TBoardDemoPoints PlayBoardDemo();

}  // namespace goramina
