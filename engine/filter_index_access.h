// What a filter condition may ask of its cursor's table while it is analysed and evaluated:
// which index serves a field, the key range of a comparison on that index, counts of key
// ranges from the subtree counts, scans of key ranges and of text-index words into record
// bitmaps (no record is read), and the record-by-record evaluation of candidates.
//
// KEY RANGES are kept in index order. For a comparison of the index's first key field with a
// value v, "low" is v's key padded with the lowest sort values after the compared length and
// "high" the same padded with the highest, so the keys equal to v over the compared length
// are exactly low..high. A field that sorts descending reverses what "greater" means:
//
//   condition   ascending first field          descending first field
//   = v         low .. high                    low .. high
//   > v         after high .. end              start .. before low
//   >= v        low .. end                     start .. high
//   < v         start .. before low            after high .. end
//   <= v        start .. high                  low .. end
//   <> v        the complement of = v
//   blank       the NULL keys                  (same)
//   not blank   the complement of blank
//
// Ordering comparisons of non-string fields leave NULL keys out (a NULL number is neither
// above nor below a value); NULL strings order as the empty string, below every value, as
// the evaluator has it. The complements include deleted slots; the cursor ands every filter
// bitmap with the live records.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "storage/index_key.h"
#include "storage/records_bitmap.h"

namespace kura {

class TDataCursor;

enum class TKeyCondition {
  Blank,
  NotBlank,
  Equal,
  NotEqual,
  Greater,
  GreaterEqual,
  Less,
  LessEqual
};

// The keys of one index a served comparison selects.
struct TKeyRange {
  int Slot = -1;
  bool HasLow = false;  // without it the range starts at the first key
  bool LowExclusive = false;
  std::vector<std::uint8_t> Low;
  bool HasHigh = false;  // without it the range runs to the last key
  bool HighExclusive = false;
  std::vector<std::uint8_t> High;
  // Keys whose first field is NULL are not part of the range.
  bool SkipNulls = false;
  // The NULL keys of the first field (the range of "blank").
  std::vector<std::uint8_t> NullLow;
  std::vector<std::uint8_t> NullHigh;
  // The selected records are the complement of the range's.
  bool Invert = false;
  // The number of keys in the range when counted already (CountRange), else -1. Only the
  // choice of the cheaper scan depends on it.
  std::int64_t Count = -1;
};

// The keys both ranges select (neither inverted, both on the same index), so that a BETWEEN
// is one scan of its keys rather than two scans of everything above and below.
TKeyRange IntersectRanges(const TKeyFormat& format, const TKeyRange& a, const TKeyRange& b);

class TFilterIndexAccess {
 public:
  // useComplement: wide key ranges may be scanned the cheaper way round.
  TFilterIndexAccess(TDataCursor& cursor, bool useComplement);

  TDataCursor& Cursor() const { return FCursor; }
  // The table's live records and its highest record number (the size of every bitmap).
  std::int64_t LiveCount() const;
  std::uint32_t Highest() const;
  // The table's record size (the records handed to conditions).
  int TableRecordSize() const;

  // The index serving a condition on table field fieldNo: the primary index (when the table
  // has one), then the secondary indexes, the first whose first key field is the field and,
  // for a string field, whose case-insensitivity equals caseInsensitive (anyCase: any, for
  // blank tests). -1 when none serves.
  int ChooseIndex(int fieldNo, bool caseInsensitive, bool anyCase) const;
  // Whether the text index holds field fieldNo.
  bool TextIndexed(int fieldNo) const;
  int KeyLength(int slot) const;
  const TKeyFormat& Format(int slot) const;

  // The range of a comparison on index slot's first key field; record is a table record
  // image holding the value in that field (NULL for blank tests), partialLength > 0 compares
  // only that many leading bytes of a string.
  TKeyRange RangeFor(int slot, TKeyCondition condition, std::span<const std::uint8_t> record,
                     int partialLength = 0);
  // The number of keys in the range (before any inversion), from the subtree counts.
  std::int64_t CountRange(const TKeyRange& range);
  // The records the range selects, as a bitmap of Highest() bits.
  void ScanRange(const TKeyRange& range, TRecordsBitmap& out);
  // The records whose text-indexed field fieldNo holds the word (prefix: a word starting
  // with it), or-ed into out.
  void ScanTextWord(int fieldNo, std::string_view word, bool prefix, TRecordsBitmap& out);

  // Reads every record set in bitmap in record-number order and clears those passes denies.
  // Nearby records are read from the file together rather than one cache lookup each.
  void EvaluateRecords(TRecordsBitmap& bitmap,
                       const std::function<bool(std::span<const std::uint8_t> record,
                                                std::int32_t recordNo)>& passes);

  // Records read by EvaluateRecords since this object was made.
  std::int64_t RecordsRead() const { return FRecordsRead; }

 private:
  // Calls visit(key, recordNo) for every key of the range in order (defined and used in the
  // implementation file only).
  template <typename TVisit>
  void WalkRange(int slot, bool hasLow, bool lowExclusive, const std::vector<std::uint8_t>& low,
                 bool hasHigh, bool highExclusive, const std::vector<std::uint8_t>& high,
                 TVisit visit);
  std::int64_t CountBetween(int slot, bool hasLow, bool lowExclusive,
                            const std::vector<std::uint8_t>& low, bool hasHigh, bool highExclusive,
                            const std::vector<std::uint8_t>& high);

  // Candidates at most this many record numbers apart are read in one piece.
  static constexpr std::int32_t kEvaluationRun = 1024;
  // A batch is read in one piece when at least one record in this many is a candidate.
  static constexpr std::size_t kSparseRun = 8;

  void EvaluateBatch(const std::vector<std::int32_t>& batch, TRecordsBitmap& bitmap,
                     const std::function<bool(std::span<const std::uint8_t> record,
                                              std::int32_t recordNo)>& passes);

  TDataCursor& FCursor;
  bool FUseComplement;
  std::int64_t FRecordsRead = 0;
  bool FCheckedFileReads = false;  // the read lock was checked before reading the file
  std::vector<std::uint8_t> FRun;  // the records of one batch
};

}  // namespace kura
