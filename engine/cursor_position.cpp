#include "engine/cursor_position.h"

#include <algorithm>
#include <cstring>

#include "base/engine_codes.h"

namespace kura {

std::shared_ptr<const TLeafCopy> TLeafCopy::Of(const TPage& page) {
  auto copy = std::make_shared<TLeafCopy>();
  copy->PageNo = page.PageNo();
  copy->PrevPage = page.PrevPage;
  copy->NextPage = page.NextPage;
  copy->KeyLength = page.Format().KeyLength;
  copy->Stride = page.EntryStride();
  copy->EntryCount = page.Count();
  const std::span<const std::uint8_t> entries = page.EntryImage();
  copy->Entries.assign(entries.begin(), entries.end());
  return copy;
}

bool TLeafCopy::LooksLike(const TPage& page, int pos) const {
  if (page.PageNo() != PageNo || page.PrevPage != PrevPage || page.NextPage != NextPage ||
      page.Count() != Count() || page.Format().KeyLength != KeyLength) {
    return false;
  }
  if (pos < 1 || pos > Count()) return true;
  return std::memcmp(page.Key(pos), Key(pos), static_cast<std::size_t>(KeyLength)) == 0 &&
         page.ChildOrRecord(pos) == Record(pos);
}

void TNavigator::First() {
  Commit([&](TCursorPosition& p) {
    GoFirst(p);
    // A step back from the first visible record fails and leaves the cursor on it.
    if (!p.Empty()) p.AtBOF = true;
  });
}

void TNavigator::Last() {
  Commit([&](TCursorPosition& p) {
    GoLast(p);
    if (!p.Empty()) p.AtEOF = true;
  });
}

std::uint16_t TNavigator::Current() const {
  if (FPos.Empty()) return codes::kNoCurrentRecord;
  if (FPos.AtBOF) return codes::kBeginningOfTable;
  if (FPos.AtEOF) return codes::kEndOfTable;
  return 0;
}

std::uint16_t TNavigator::Next() {
  Commit([&](TCursorPosition& p) {
    if (p.AtBOF) {
      GoFirst(p);
    } else {
      MoveBy(p, 1);
    }
  });
  return FPos.AtEOF ? codes::kEndOfTable : 0;
}

std::uint16_t TNavigator::Prior() {
  Commit([&](TCursorPosition& p) {
    if (p.AtEOF) {
      GoLast(p);
    } else {
      MoveBy(p, -1);
    }
  });
  return FPos.AtBOF ? codes::kBeginningOfTable : 0;
}

std::uint16_t TNavigator::NextRecords(std::span<std::int32_t> recordNos, int& read) {
  read = 0;
  for (std::int32_t& recordNo : recordNos) {
    std::uint16_t answer = Next();
    if (answer != 0) return answer;
    recordNo = PhysicalRecordNo();
    ++read;
  }
  return 0;
}

bool TNavigator::SetRecNo(std::int64_t n) {
  Commit([&](TCursorPosition& p) { SeekRecNo(p, n); });
  return RecNo() == n;
}

void TNavigator::Resynchronise() {
  std::vector<std::uint8_t> bookmark = Bookmark();
  Recount();
  GotoBookmark(bookmark, true);
}

void TNavigator::KeepCracks(TCursorPosition& p, const TCursorPosition& before) {
  if (before.Empty()) {
    // An empty cursor that finds records again starts at the beginning crack.
    GoFirst(p);
    if (!p.Empty()) p.AtBOF = true;
    return;
  }
  if (p.Empty()) return;
  if (before.AtBOF) {
    MoveBy(p, -1);
    if (!p.AtBOF) MoveBy(p, 1);
  } else {
    p.AtBOF = false;
  }
  if (p.Empty()) return;
  if (before.AtEOF) {
    MoveBy(p, 1);
    if (!p.AtEOF) MoveBy(p, -1);
  } else {
    p.AtEOF = false;
  }
}

}  // namespace kura
