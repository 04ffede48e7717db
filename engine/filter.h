// The filters of a cursor. A cursor shows only the records inside its range that pass every
// active filter of its list; each active filter keeps the bitmap of the records it lets
// through, and the cursor ands them into Visible.
//
// A filter is either a compiled condition (TFilterCondition, made by the layer that knows
// the expression language) or a callback asked once per record. Conditions are answered
// from indexes where they can be (TFilterIndexAccess scans key ranges into bitmaps without
// reading a record) and record by record elsewhere.
//
// LIST ORDER: a filter added with AfterOthers goes to the end; any other filter goes before
// the first one that has AfterOthers. A filter with AfterOthers sees only the records that
// passed the active filters before it. At most 64 filters (9482 for the 65th).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "storage/records_bitmap.h"

namespace kura {

class TDataCursor;
class TFilterIndexAccess;

inline constexpr std::size_t kMaxCursorFilters = 64;

// Optimisation levels of a condition.
inline constexpr int kLevelRecords = 0;  // evaluated record by record
inline constexpr int kLevelPartly = 1;   // an AND whose served side narrows the records read
inline constexpr int kLevelServed = 2;   // answered from indexes alone

// How a filter is installed.
struct TFilterFlags {
  // Compare = and <> of strings without regard to case (filter texts only).
  bool CaseInsensitive = false;
  // A trailing "*" of a string constant is a literal asterisk (filter texts only).
  bool NoPartialCompare = false;
  // Index scans may count first and scan the smaller complement of a wide key range.
  bool UseComplement = false;
  // Analysis counts the matching keys of served conditions (estimates and costs).
  bool Estimate = false;
  // Evaluated only on the records the active filters before it passed; kept after them.
  bool AfterOthers = false;
};

// A compiled condition of a filter. The cursor owns it through its filter.
class TFilterCondition {
 public:
  virtual ~TFilterCondition() = default;
  // The optimisation level (kLevel...) on the cursor's indexes; with estimate the served
  // parts count their matching keys; costRule applies the 90 % rule.
  virtual int Analyse(TFilterIndexAccess& access, bool estimate, bool costRule) = 0;
  // Narrows bitmap (holding the candidate records) to the records that pass: served parts
  // from index scans, the rest by reading each candidate.
  virtual void Evaluate(TFilterIndexAccess& access, TRecordsBitmap& bitmap) = 0;
  // Whether one record image (the cursor's RecordSize bytes) passes.
  virtual bool Passes(TDataCursor& cursor, std::span<const std::uint8_t> record) = 0;
  // An independent copy for a clone of the cursor (it is analysed again there).
  virtual std::unique_ptr<TFilterCondition> Copy() const = 0;
};

// Asked per record by a callback filter: whether the record passes.
using TFilterCallback = std::function<bool(
    TDataCursor& cursor, std::span<const std::uint8_t> record, std::int32_t recordNo)>;

// One filter of a cursor's list. Created inactive; its bitmap means something only while it
// is active and the cursor open.
class TFilter {
 public:
  TFilter(std::unique_ptr<TFilterCondition> condition, TFilterCallback callback,
          const TFilterFlags& flags)
      : FCondition(std::move(condition)), FCallback(std::move(callback)), FFlags(flags) {}

  bool Active() const { return FActive; }
  bool IsCallback() const { return FCondition == nullptr; }
  int OptimizeLevel() const { return FLevel; }
  const TFilterFlags& Flags() const { return FFlags; }
  bool AfterOthers() const { return FFlags.AfterOthers; }
  const TRecordsBitmap& Bitmap() const { return FBitmap; }
  TFilterCondition* Condition() const { return FCondition.get(); }
  const TFilterCallback& Callback() const { return FCallback; }

 private:
  friend class TDataCursor;

  std::unique_ptr<TFilterCondition> FCondition;
  TFilterCallback FCallback;
  TFilterFlags FFlags;
  TRecordsBitmap FBitmap;
  bool FActive = false;
  int FLevel = kLevelRecords;
};

}  // namespace kura
