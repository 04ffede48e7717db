// The positions before the most recent moves, newest last. Taking a move back restores the
// position noted before it, so everything the move changed comes back: the stones it captured
// and a stone it was played on. The journal knows nothing of the view; the board redraws what
// differs (app/board.h).
//
// It holds the positions before the last kCapacity moves; noting one more forgets the oldest.
// A take-back is matched against the newest entry only (move number and point): a move the
// journal does not hold, or one that is not the newest, finds nothing and the caller falls
// back to clearing the point.
#pragma once

#include <array>
#include <cstdint>

#include "app/board/board_view.h"
#include "app/go/go_rules.h"

namespace goramina {

class TPositionJournal {
 public:
  // Room for a full board of stored moves and a full history of the player's own on top.
  static constexpr int kCapacity = 2 * kPointCount;
  // Point codes -2..2, indexed by point 1..361 (entry 0 unused).
  using TCodes = std::array<std::int8_t, kPointCount + 1>;
  using TBoardCodes = std::array<std::int32_t, kPointCount + 1>;

  void Clear();
  // Notes `board`, with the ko that stood on it, as the position before move `moveNumber` on
  // `point`.
  void Note(int moveNumber, int point, const TBoardCodes& board, TKo ko = {});
  // When the newest entry is move `moveNumber` on `point`, copies its position into `before`
  // (and its ko into `*ko` when given), removes the entry and answers true; otherwise changes
  // nothing and answers false.
  bool TakeNewest(int moveNumber, int point, TCodes& before, TKo* ko = nullptr);
  int Size() const { return size_; }

 private:
  struct TEntry {
    std::int32_t moveNumber = 0;
    std::int32_t point = 0;
    TCodes codes{};
    TKo ko;
  };
  // A ring: the newest entry at `newest_`, the older ones before it.
  std::array<TEntry, kCapacity> entries_{};
  int newest_ = kCapacity - 1;
  int size_ = 0;
};

}  // namespace goramina
