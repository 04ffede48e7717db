// The rules of Go over a board of point codes: strings and their liberties, the stones a move
// captures, the ko a capture leaves and whether a move is legal. Free functions, so that the
// position model (go_position.h) and the trainer's board (app/board/board.h) share one reading
// of the rules. Codes are read by absolute value: a wrong-sequence stone (-1, -2) is a stone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/go/go_point.h"

namespace goramina {

enum class TColour : std::int8_t { kNone = 0, kBlack = 1, kWhite = 2 };

constexpr TColour Opponent(TColour colour) {
  return colour == TColour::kBlack   ? TColour::kWhite
         : colour == TColour::kWhite ? TColour::kBlack
                                     : TColour::kNone;
}
// The colour of a point code -2..2 (kNone for 0 and anything else).
constexpr TColour ColourOfCode(std::int32_t code) {
  const std::int32_t a = code < 0 ? -code : code;
  return a == 1 ? TColour::kBlack : a == 2 ? TColour::kWhite : TColour::kNone;
}
constexpr std::int32_t CodeOf(TColour colour) {
  return static_cast<std::int32_t>(colour);
}

// Why a move may not be played; kLegal when it may.
enum class TLegality {
  kLegal,
  kOffBoard,     // not a point 1..361
  kOccupied,     // a stone stands on the point
  kSuicide,      // the move captures nothing and leaves its own string without a liberty
  kKoRecapture,  // takes back a ko at once, before a move elsewhere
};

// The reason in Japanese, as a player reads it: a clause for a longer message
// ("コウはすぐには取り返せません"), and the same as a sentence for the status bar.
const char* LegalityReason(TLegality legality);
std::string LegalityText(TLegality legality);

// The point a ko forbids and the colour it forbids it to: the player whose single stone was just
// taken may not retake at once. No ko: point 0.
struct TKo {
  int point = 0;
  TColour barred = TColour::kNone;
  bool operator==(const TKo&) const = default;
};

// The stones of the string at `point` (one colour, connected), ascending; empty for an empty
// point.
std::vector<int> StringAt(const TPointCodes& codes, int point);
// The empty points next to the string at `point`, ascending.
std::vector<int> LibertiesOf(const TPointCodes& codes, int point);
bool StringHasLiberty(const TPointCodes& codes, int point);

// The stones that a stone of `colour` on `point` takes: every opposing string touching the
// point that has no liberty once the stone stands there. Ascending, each stone once. Whatever
// stands on `point` now is taken as replaced by the stone.
std::vector<int> CapturesOf(const TPointCodes& codes, TColour colour, int point);

// The ko left by a stone just placed on `point` (already written in `codes`, its captures
// already removed) that took the stones `captured`: one stone taken by a lone stone left with
// that single liberty.
TKo KoAfter(const TPointCodes& codes, int point, const std::vector<int>& captured);

// Whether `colour` may play on `point` in `codes` while `ko` stands.
TLegality MoveLegality(const TPointCodes& codes, TColour colour, int point, TKo ko);

}  // namespace goramina
