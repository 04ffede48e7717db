// app/go — the Go position. A position is a value: the stone on every point, the side to move,
// the ko, the prisoners, and the moves played on it, each with what it removed, so a take-back
// puts back exactly the position before. A move is checked before it is played: an occupied
// point, a suicide or an immediate ko recapture is answered as a reason (TLegality) and
// changes nothing. Stored moves of a problem, which must stand as stored even where the rules
// would refuse them, go through PlayAsStored. Everything that reads or plays positions (the
// trainer's board, the SGF import, the problem checker) uses this folder; it knows nothing of
// tables, views or the window.
#pragma once

#include <cstdint>
#include <vector>

#include "app/go/go_point.h"
#include "app/go/go_rules.h"

namespace goramina {

// One move on a position and everything needed to take it back.
struct TPlayedMove {
  TColour colour = TColour::kNone;
  int point = 0;
  TColour replaced = TColour::kNone;  // the stone a stored move was played on, if any
  std::vector<int> captured;          // opposing stones it removed, ascending
  TKo koBefore;
  TColour toPlayBefore = TColour::kNone;
  bool operator==(const TPlayedMove&) const = default;
};

class TGoPosition {
 public:
  // The empty board, Black to play.
  TGoPosition() = default;

  // The stone on a point 1..361; throws std::out_of_range for any other point.
  TColour At(int point) const;
  const TPointCodes& Codes() const { return codes_; }
  TColour ToPlay() const { return toPlay_; }
  TKo Ko() const { return ko_; }
  // Stones `capturer` has taken by the moves on the history.
  int Prisoners(TColour capturer) const;
  const std::vector<TPlayedMove>& Moves() const { return moves_; }

  // Whether `colour` may play on `point` now.
  TLegality Legality(TColour colour, int point) const;
  // Plays the move when it is legal (then the other colour is to play) and answers kLegal;
  // otherwise changes nothing and answers the reason.
  TLegality Play(TColour colour, int point);
  // Plays a stored move as it stands, whatever the rules say: a stone on the point is
  // replaced, the opposing strings left without a liberty are taken, the move's own string
  // stays even without a liberty, and a ko is not enforced. The point must be 1..361.
  // Answers what the rules would have said of it.
  TLegality PlayAsStored(TColour colour, int point);
  // Takes back the newest move, restoring the position before it exactly; false when no move
  // has been played.
  bool TakeBack();

  // A set-up edit: a stone put without any rule and without a history entry. It clears the
  // ko. A take-back after a set-up edit restores the points its move changed.
  void AddStone(TColour colour, int point);

  bool operator==(const TGoPosition&) const = default;

 private:
  void CheckPoint(int point) const;
  TLegality Apply(TColour colour, int point, TLegality verdict);

  TPointCodes codes_{};
  TColour toPlay_ = TColour::kBlack;
  TKo ko_;
  int prisonersOfBlack_ = 0;  // white stones Black has taken
  int prisonersOfWhite_ = 0;
  std::vector<TPlayedMove> moves_;
};

}  // namespace goramina
