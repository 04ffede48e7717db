// Draws the black and white stone pictures of the board: shaded like a lens-shaped stone lit
// from the upper left, anti-aliased at the rim, transparent outside the stone. They are drawn
// several times larger than the 28-pixel board cell so they stay crisp when scaled.
#pragma once

#include "app/toolkit/bitmap.h"

namespace goramina {

enum class TStoneColour { Black, White };

// A square picture `size` pixels wide (at least 8) holding one stone centred in it.
TBitmap PaintStone(TStoneColour colour, int size);

}  // namespace goramina
