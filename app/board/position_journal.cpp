#include "app/board/position_journal.h"

namespace goramina {

void TPositionJournal::Clear() {
  size_ = 0;
  newest_ = kCapacity - 1;
}

void TPositionJournal::Note(int moveNumber, int point, const TBoardCodes& board, TKo ko) {
  newest_ = (newest_ + 1) % kCapacity;
  TEntry& entry = entries_[newest_];
  entry.moveNumber = moveNumber;
  entry.point = point;
  entry.ko = ko;
  entry.codes[0] = 0;
  for (int p = 1; p <= kPointCount; ++p) {
    // Codes outside -2..2 never reach the board; kept as they are they would wrap.
    const std::int32_t code = board[p];
    entry.codes[p] = static_cast<std::int8_t>(code < -2 ? -2 : code > 2 ? 2 : code);
  }
  if (size_ < kCapacity) ++size_;
}

bool TPositionJournal::TakeNewest(int moveNumber, int point, TCodes& before, TKo* ko) {
  if (size_ == 0) return false;
  const TEntry& entry = entries_[newest_];
  if (entry.moveNumber != moveNumber || entry.point != point) return false;
  before = entry.codes;
  if (ko != nullptr) *ko = entry.ko;
  newest_ = (newest_ + kCapacity - 1) % kCapacity;
  --size_;
  return true;
}

}  // namespace goramina
