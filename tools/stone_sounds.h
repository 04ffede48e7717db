// The two sounds of the trainer, synthesised so that no recording has to be shipped.
#pragma once

#include <cstdint>
#include <vector>

namespace goramina::tools {

// Peak level both sounds are scaled to, as a fraction of full scale: loud enough to hear over
// a quiet room, far enough below full scale that no sample clips.
constexpr double kPeakLevel = 0.70;

// A stone set down on a wooden board: a sharp contact transient over a few short-lived body
// modes of the board, about 80 ms, 44.1 kHz mono.
std::vector<std::int16_t> MakeStoneClick();

// The registered play has ended: two soft bell tones a fifth apart with a long decay,
// about 1.1 s, 44.1 kHz mono.
std::vector<std::int16_t> MakeEndChime();

}  // namespace goramina::tools
