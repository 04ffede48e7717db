#include "engine/filter_index_access.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/cursor_page_store.h"
#include "engine/data_cursor.h"
#include "engine/data_table.h"
#include "engine/leaf_chain_walk.h"
#include "engine/search_key.h"
#include "storage/field_types.h"
#include "storage/index_tree.h"

namespace kura {
namespace {

bool FirstFieldDescending(const TKeyFormat& format) {
  return format.Descending || (!format.Parts.empty() && format.Parts[0].Descending);
}

// The padded copy of key after `from` bytes.
std::vector<std::uint8_t> Padded(const TKeyFormat& format, std::vector<std::uint8_t> key, int from,
                                 bool highest) {
  PadKey(format, key, from, highest);
  return key;
}

}  // namespace

TKeyRange IntersectRanges(const TKeyFormat& format, const TKeyRange& a, const TKeyRange& b) {
  TKeyRange both = a;
  both.Count = -1;
  both.SkipNulls = a.SkipNulls || b.SkipNulls;
  if (b.HasLow) {
    const int order = a.HasLow ? CompareKeys(format, b.Low.data(), a.Low.data()) : 1;
    if (order > 0) {
      both.HasLow = true;
      both.Low = b.Low;
      both.LowExclusive = b.LowExclusive;
    } else if (order == 0) {
      both.LowExclusive = a.LowExclusive || b.LowExclusive;
    }
  }
  if (b.HasHigh) {
    const int order = a.HasHigh ? CompareKeys(format, b.High.data(), a.High.data()) : -1;
    if (order < 0) {
      both.HasHigh = true;
      both.High = b.High;
      both.HighExclusive = b.HighExclusive;
    } else if (order == 0) {
      both.HighExclusive = a.HighExclusive || b.HighExclusive;
    }
  }
  return both;
}

TFilterIndexAccess::TFilterIndexAccess(TDataCursor& cursor, bool useComplement)
    : FCursor(cursor), FUseComplement(useComplement) {}

std::int64_t TFilterIndexAccess::LiveCount() const {
  return FCursor.FTable->Index().LiveRecordCount();
}

std::uint32_t TFilterIndexAccess::Highest() const {
  return static_cast<std::uint32_t>(std::max(0, FCursor.FTable->Data().RecordCount()));
}

int TFilterIndexAccess::TableRecordSize() const {
  return FCursor.FTable->Data().RecordSize();
}

const TKeyFormat& TFilterIndexAccess::Format(int slot) const {
  return FCursor.FTable->Index().KeyFormat(slot);
}

int TFilterIndexAccess::KeyLength(int slot) const {
  return Format(slot).KeyLength;
}

int TFilterIndexAccess::ChooseIndex(int fieldNo, bool caseInsensitive, bool anyCase) const {
  TIndexFile& index = FCursor.FTable->Index();
  const auto serves = [&](int slot) {
    const TKeyFormat& format = index.KeyFormat(slot);
    if (format.Parts.empty() || format.Parts[0].Field.FieldNo != fieldNo) return false;
    if (anyCase || format.Parts[0].Field.FieldType != kFieldTypeString) return true;
    return format.CaseInsensitive == caseInsensitive;
  };
  if (!index.NoPrimaryIndex() && index.SlotInUse(kPrimaryIndexSlot) && serves(kPrimaryIndexSlot))
    return kPrimaryIndexSlot;
  for (int slot = 1; slot <= kMaxSecondaryIndexes; ++slot) {
    if (index.SlotInUse(slot) && serves(slot)) return slot;
  }
  return -1;
}

bool TFilterIndexAccess::TextIndexed(int fieldNo) const {
  TIndexFile& index = FCursor.FTable->Index();
  const TIndexDescriptor text = index.ReadIndexDescriptor(kSysTextSlot);
  for (int i = 0; i < text.KeyFieldCount && i < static_cast<int>(text.KeyFields.size()); ++i) {
    if (text.KeyFields[static_cast<std::size_t>(i)] == fieldNo) return true;
  }
  return false;
}

TKeyRange TFilterIndexAccess::RangeFor(int slot, TKeyCondition condition,
                                       std::span<const std::uint8_t> record, int partialLength) {
  const TKeyFormat& format = Format(slot);
  const auto length = static_cast<std::size_t>(format.KeyLength);
  TKeyRange range;
  range.Slot = slot;
  // The NULL key of the first field, from a record whose fields are all NULL.
  std::vector<std::uint8_t> nullRecord(static_cast<std::size_t>(TableRecordSize()), 0);
  std::vector<std::uint8_t> nullKey(length, 0);
  BuildKey(format, nullRecord, nullKey);
  range.NullLow = Padded(format, nullKey, 1, false);
  range.NullHigh = Padded(format, nullKey, 1, true);

  const bool blank = condition == TKeyCondition::Blank || condition == TKeyCondition::NotBlank;
  // The key is built from a full record of this table, whatever the caller handed in.
  std::vector<std::uint8_t> image(static_cast<std::size_t>(TableRecordSize()), 0);
  std::copy_n(record.begin(), std::min(record.size(), image.size()), image.begin());
  std::vector<std::uint8_t> key(length, 0);
  BuildKey(format, image, key);
  const int compared = blank ? 1 : LeadingKeyLength(format, 1, partialLength);
  const std::vector<std::uint8_t> low =
      blank ? range.NullLow : Padded(format, key, compared, false);
  const std::vector<std::uint8_t> high =
      blank ? range.NullHigh : Padded(format, key, compared, true);
  const bool descending = FirstFieldDescending(format);
  const bool isString =
      !format.Parts.empty() && format.Parts[0].Field.FieldType == kFieldTypeString;
  const auto from = [&](const std::vector<std::uint8_t>& k, bool exclusive) {
    range.HasLow = true;
    range.Low = k;
    range.LowExclusive = exclusive;
  };
  const auto to = [&](const std::vector<std::uint8_t>& k, bool exclusive) {
    range.HasHigh = true;
    range.High = k;
    range.HighExclusive = exclusive;
  };
  switch (condition) {
    case TKeyCondition::Blank:
    case TKeyCondition::Equal:
      from(low, false);
      to(high, false);
      break;
    case TKeyCondition::NotBlank:
    case TKeyCondition::NotEqual:
      from(low, false);
      to(high, false);
      range.Invert = true;
      break;
    case TKeyCondition::Greater:
      descending ? to(low, true) : from(high, true);
      break;
    case TKeyCondition::GreaterEqual:
      descending ? to(high, false) : from(low, false);
      break;
    case TKeyCondition::Less:
      descending ? from(high, true) : to(low, true);
      break;
    case TKeyCondition::LessEqual:
      descending ? from(low, false) : to(high, false);
      break;
  }
  const bool ordering = condition != TKeyCondition::Blank && condition != TKeyCondition::NotBlank &&
                        condition != TKeyCondition::Equal && condition != TKeyCondition::NotEqual;
  range.SkipNulls = ordering && !isString;
  return range;
}

template <typename TVisit>
void TFilterIndexAccess::WalkRange(int slot, bool hasLow, bool lowExclusive,
                                   const std::vector<std::uint8_t>& low, bool hasHigh,
                                   bool highExclusive, const std::vector<std::uint8_t>& high,
                                   TVisit visit) {
  TIndexFile& index = FCursor.FTable->Index();
  const TKeyFormat& format = index.KeyFormat(slot);
  if (hasLow && hasHigh) {
    const int order = CompareKeys(format, low.data(), high.data());
    if (order > 0 || (order == 0 && (lowExclusive || highExclusive))) return;
  }
  TCursorPageStore store(index.Store(slot), FCursor, slot);
  if (store.RootPage() == 0) return;
  TIndexTree tree(store, format, index.PageFormat(slot));
  std::vector<std::uint8_t> start(static_cast<std::size_t>(format.KeyLength), 0);
  if (hasLow) {
    start = low;
  } else {
    PadKey(format, start, 0, false);
  }
  const TTreePosition at = tree.SeekFirstGE(start.data());
  if (at.Path.empty()) return;
  const auto belowHigh = [&](const std::uint8_t* key) {
    if (!hasHigh) return true;
    const int order = CompareKeys(format, key, high.data());
    return order < 0 || (order == 0 && !highExclusive);
  };
  // Keys equal to an exclusive low come first; once past them no key is compared with low.
  bool pastLow = !(hasLow && lowExclusive);
  WalkLeafPages(store, at.Path.back().PageNo, at.Path.back().Position, 1, FCursor.TableName(),
                [&](const TPage& page, int from) {
                  // A page whose last key is inside the range is taken without comparing
                  // each key with the high end.
                  const bool wholePage = page.Count() >= 1 && belowHigh(page.Key(page.Count()));
                  for (int pos = std::max(from, 1); pos <= page.Count(); ++pos) {
                    const std::uint8_t* key = page.Key(pos);
                    if (!pastLow) {
                      if (CompareKeys(format, key, low.data()) <= 0) continue;
                      pastLow = true;
                    }
                    if (!wholePage && !belowHigh(key)) return false;
                    visit(key, page.ChildOrRecord(pos));
                  }
                  return true;
                });
}

std::int64_t TFilterIndexAccess::CountBetween(int slot, bool hasLow, bool lowExclusive,
                                              const std::vector<std::uint8_t>& low, bool hasHigh,
                                              bool highExclusive,
                                              const std::vector<std::uint8_t>& high) {
  TIndexFile& index = FCursor.FTable->Index();
  const TKeyFormat& format = index.KeyFormat(slot);
  if (hasLow && hasHigh) {
    const int order = CompareKeys(format, low.data(), high.data());
    if (order > 0 || (order == 0 && (lowExclusive || highExclusive))) return 0;
  }
  TCursorPageStore store(index.Store(slot), FCursor, slot);
  if (store.RootPage() == 0) return 0;
  TIndexTree tree(store, format, index.PageFormat(slot));
  // Keys below a key, and keys up to and including it.
  const auto below = [&](const std::vector<std::uint8_t>& k) { return tree.CountBelow(k.data()); };
  const auto upTo = [&](const std::vector<std::uint8_t>& k) {
    return tree.CountBelow(k.data()) + (tree.FindRecord(k.data()) != 0 ? 1 : 0);
  };
  const std::int64_t first = !hasLow ? 0 : (lowExclusive ? upTo(low) : below(low));
  const std::int64_t end = !hasHigh ? tree.KeyCount() : (highExclusive ? below(high) : upTo(high));
  return std::max<std::int64_t>(0, end - first);
}

std::int64_t TFilterIndexAccess::CountRange(const TKeyRange& range) {
  const std::int64_t count = CountBetween(range.Slot, range.HasLow, range.LowExclusive, range.Low,
                                          range.HasHigh, range.HighExclusive, range.High);
  if (!range.SkipNulls || count == 0) return count;
  // Less the NULL keys inside the range: the overlap of the range and the NULL keys.
  const TKeyFormat& format = Format(range.Slot);
  const bool lowInside =
      range.HasLow && CompareKeys(format, range.Low.data(), range.NullLow.data()) > 0;
  const bool highInside =
      range.HasHigh && CompareKeys(format, range.High.data(), range.NullHigh.data()) < 0;
  const std::int64_t nulls = CountBetween(
      range.Slot, true, lowInside && range.LowExclusive, lowInside ? range.Low : range.NullLow,
      true, highInside && range.HighExclusive, highInside ? range.High : range.NullHigh);
  return std::max<std::int64_t>(0, count - nulls);
}

void TFilterIndexAccess::ScanRange(const TKeyRange& range, TRecordsBitmap& out) {
  out.SetSize(Highest());
  out.ClearAll();
  const TKeyFormat& format = Format(range.Slot);
  const std::uint8_t nullByte = range.NullLow.empty() ? 0 : range.NullLow[0];
  const auto mark = [&](const std::uint8_t* key, std::int32_t recordNo) {
    if (range.SkipNulls && key[0] == nullByte) return;
    SetBitIfInside(out, recordNo);
  };
  // A wide range costs less the other way round: the keys outside it, inverted.
  bool complement = false;
  if (FUseComplement && format.Locale.LanguageId == 0 &&
      FCursor.FTable->Index().PageFormat(range.Slot).Counted) {
    complement = (range.Count >= 0 ? range.Count : CountRange(range)) * 2 > LiveCount();
  }
  if (!complement) {
    WalkRange(range.Slot, range.HasLow, range.LowExclusive, range.Low, range.HasHigh,
              range.HighExclusive, range.High, mark);
    if (range.Invert) out.Invert();
    return;
  }
  const auto set = [&](const std::uint8_t*, std::int32_t recordNo) {
    SetBitIfInside(out, recordNo);
  };
  if (range.HasLow)
    WalkRange(range.Slot, false, false, {}, true, !range.LowExclusive, range.Low, set);
  if (range.HasHigh)
    WalkRange(range.Slot, true, !range.HighExclusive, range.High, false, false, {}, set);
  if (range.SkipNulls)
    WalkRange(range.Slot, true, false, range.NullLow, true, false, range.NullHigh, set);
  if (!range.Invert) out.Invert();
}

void TFilterIndexAccess::ScanTextWord(int fieldNo, std::string_view word, bool prefix,
                                      TRecordsBitmap& out) {
  TIndexFile& index = FCursor.FTable->Index();
  std::array<std::uint8_t, kSysTextKeyLength> low{};
  BuildTextKey(static_cast<std::uint16_t>(fieldNo), word, std::numeric_limits<std::int32_t>::min(),
               FCursor.Locale(), low);
  // The word's bytes as the key holds them (upper-cased, zero-padded).
  constexpr std::size_t kWordStart = 3;
  std::size_t wordLength = 0;
  while (wordLength < kTextWordSize && low[kWordStart + wordLength] != 0) ++wordLength;
  const std::size_t compared = kWordStart + (prefix ? wordLength : kTextWordSize);
  const std::vector<std::uint8_t> lowKey(low.begin(), low.end());
  TCursorPageStore store(index.Store(kSysTextSlot), FCursor, kSysTextSlot);
  if (store.RootPage() == 0) return;
  TIndexTree tree(store, index.KeyFormat(kSysTextSlot), index.PageFormat(kSysTextSlot));
  const TTreePosition at = tree.SeekFirstGE(lowKey.data());
  if (at.Path.empty()) return;
  WalkLeafChain(store, at.Path.back().PageNo, at.Path.back().Position, 1, FCursor.TableName(),
                [&](const std::uint8_t* key, std::int32_t recordNo) {
                  if (std::memcmp(key, lowKey.data(), compared) != 0) return false;
                  SetBitIfInside(out, recordNo);
                  return true;
                });
}

void TFilterIndexAccess::EvaluateRecords(
    TRecordsBitmap& bitmap,
    const std::function<bool(std::span<const std::uint8_t> record, std::int32_t recordNo)>&
        passes) {
  const std::int32_t end = FCursor.FTable->Data().NextRecordNo();
  // The candidates are taken in batches of nearby record numbers: a batch of several is read
  // from the file in one piece, a lone record through the cache.
  std::vector<std::int32_t> batch;
  std::uint32_t recordNo = 0;
  std::int64_t ignored = 0;
  while (bitmap.FindNext(recordNo, 1, ignored).reached) {
    const auto n = static_cast<std::int32_t>(recordNo);
    if (n >= end) {
      bitmap.ClearBit(recordNo);
      continue;
    }
    if (!batch.empty() && n - batch.front() >= kEvaluationRun) {
      EvaluateBatch(batch, bitmap, passes);
      batch.clear();
    }
    batch.push_back(n);
  }
  if (!batch.empty()) EvaluateBatch(batch, bitmap, passes);
}

void TFilterIndexAccess::EvaluateBatch(
    const std::vector<std::int32_t>& batch, TRecordsBitmap& bitmap,
    const std::function<bool(std::span<const std::uint8_t> record, std::int32_t recordNo)>&
        passes) {
  TDataFile& data = FCursor.FTable->Data();
  const auto judge = [&](std::span<const std::uint8_t> image, std::int32_t n) {
    ++FRecordsRead;
    if (!passes(image, n)) bitmap.ClearBit(static_cast<std::uint32_t>(n));
  };
  const std::int32_t first = batch.front();
  const std::int32_t count = batch.back() - first + 1;
  // Few records far apart: each through the cache rather than reading the gaps.
  if (batch.size() * kSparseRun < static_cast<std::size_t>(count)) {
    for (const std::int32_t n : batch) EvaluateBatch({n}, bitmap, passes);
    return;
  }
  if (batch.size() == 1) {
    const std::int32_t n = first;
    // A read that misses the cache in lazy change detection may find another process's
    // change: the rebuild then starts again from a re-synchronised cursor.
    if (data.RecordCache().Peek(n) == nullptr && FCursor.ReadMissesCache()) throw TReadSawChange{};
    // The record stays pinned in the cache while it is evaluated.
    TRecord* record = data.GetRecord(n, TTravel::Forward);
    struct TRelease {
      TDataFile& Data;
      TRecord* Record;
      ~TRelease() { Data.ReleaseRecord(Record); }
    } release{data, record};
    judge(record->Image, n);
    return;
  }
  // The file is read past the cache: in lazy change detection that is a miss.
  if (!FCheckedFileReads) {
    if (FCursor.ReadMissesCache()) throw TReadSawChange{};
    FCheckedFileReads = true;
  }
  const auto size = static_cast<std::size_t>(data.RecordSize());
  FRun.resize(static_cast<std::size_t>(count) * size);
  data.CopyRecordImages(first, count, FRun);
  for (const std::int32_t n : batch) {
    judge(std::span<const std::uint8_t>(FRun).subspan(static_cast<std::size_t>(n - first) * size,
                                                      size),
          n);
  }
}

}  // namespace kura
