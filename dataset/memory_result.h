// The in-memory collection's result cursor: a TResultCursor over the rows of one in-memory
// table, so that the trainer runs on the same dataset machinery the engine binding will drive.
//
// Order. Rows are ordered by the ORDER BY column (descending when asked), rows of equal key by
// row number, which grows in append order; without ORDER BY, by row number alone. This is the
// order of an engine index whose non-unique keys end with the row number.
//
// A live result walks the table's own rows: its position numbers count the rows its WHERE
// hides (as a filtered cursor in index order does), and changes made through other results
// are noticed at the next step through the table's change counter, as the engine's change
// detection does. A canned result holds copies of the rows that met the condition, numbered
// 1..RecordCount, and never changes. Bookmarks carry the row's order key and row number, so a
// bookmark of a row deleted meanwhile still finds the row after it.
//
// What the application relies on here that the engine will not give (the binding must honour
// these, or the application must stop relying on them):
//  1. Every RequestLive SELECT is live whatever its ORDER BY. The engine makes a result with
//     ORDER BY live only when an existing index serves the ORDER BY (the leading key fields,
//     same directions, same case flag); otherwise the result is canned and read-only, and the
//     application's edits of it (the problem list "Order By HNB", the free-label scan
//     "order by BFR") would fail.
//  2. MaxRowCount trims live results too. The engine applies it only while filling canned
//     results.
//  3. Without ORDER BY, a live result comes in append order. The sequence rows of a problem
//     are read with "Where HNB = :HNB" and no ORDER BY, and the trainer takes a row's place in
//     that order for its TNB. The engine walks its primary index (or, without one, the record
//     numbers, which reuse the slots of deleted records), which is append order only when the
//     primary key grows with every append.
//  4. String comparisons in WHERE and ORDER BY compare bytes. The engine compares with the
//     table's locale (byte order only for language 0, the code page 932 tables).
//  5. Record locks are the process's own: nothing is locked against other processes, and a
//     lock is never waited for (the engine retries LockRetryCount times, LockWaitTime apart).
//  6. Only the statement shapes of memory_sql.h are understood.
//  7. There are no unique indexes, so nothing is refused as a key violation (9729). The
//     renumbering walks (TNB of tejun, MNB of mondai) pass through rows that briefly share a
//     number, and a new problem row is posted before its number is checked; a unique key on
//     those fields in the engine's tables would refuse them.
//  8. Field values are whole: a BLOB is kept in the record itself, and a value's size is not
//     checked against the field's declared size (an engine record holds the declared size only).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "dataset/result_cursor.h"

namespace kura {

struct TMemoryTable;
struct TMemoryRow;

// How a result is cut and ordered: the condition of its WHERE, its ORDER BY column (-1: none),
// the direction, whether it is live, and MaxRowCount (negative: no limit).
struct TMemoryResultShape {
  std::function<bool(const TRecord&)> Condition;
  int OrderColumn = -1;
  bool Descending = false;
  bool Live = false;
  int MaxRowCount = -1;
};

class TMemoryResult : public TResultCursor {
 public:
  TMemoryResult(std::shared_ptr<TMemoryTable> table, TMemoryResultShape shape);
  ~TMemoryResult() override;

  const std::vector<TFieldDef>& FieldDefs() const override;
  bool IsReadOnly() const override { return !shape_.Live; }

  void First() override;
  void Last() override;
  TFetchResult GetCurrentRecord(TRecord& record) override;
  TFetchResult GetNextRecord(TRecord& record) override;
  TFetchResult GetPriorRecord(TRecord& record) override;

  int RecNo() override;
  int RecordCount() override;
  bool SetRecNo(int recNo) override;

  TBookmark GetBookmark() override;
  bool GotoBookmark(const TBookmark& bookmark) override;
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override;

  void Refresh() override;

  TRecord InitNewRecord() override;
  void BeginEdit(const TRecord& image) override;
  void CancelEdit() override;
  TPostAnswer PostEdit(const TRecord& record) override;
  TPostAnswer PostInsert(const TRecord& record) override;
  void DeleteRecord(const TRecord& image) override;

  std::unique_ptr<TBlobStream> OpenBlob(int field, TRecord& buffer, TBlobMode mode) override;

  void Close() override;

 private:
  struct TKey;
  TKey KeyOf(const TMemoryRow& row) const;
  bool Before(const TKey& a, const TKey& b) const;
  TBookmark Encode(const TKey& key) const;
  TKey Decode(const TBookmark& bookmark) const;

  void Build();
  void DetectChanges();
  void Resync(bool hadCurrent, const TKey& key, bool atBeginning, bool atEnd);
  void NoteOwnChange();
  std::size_t EntryPlace(const TKey& key) const;
  std::size_t FirstVisibleFrom(std::size_t entry) const;
  void SetVisible(std::size_t entry, bool visible);
  TMemoryRow* CurrentRow();
  TMemoryRow& RowToChange();
  void CheckLive() const;
  void CheckImage(const TMemoryRow& row, const TRecord& image) const;
  void ReleaseLock();
  TPostAnswer Place(const std::shared_ptr<TMemoryRow>& row);

  std::shared_ptr<TMemoryTable> table_;
  TMemoryResultShape shape_;
  // Every row of the walk in order (for a canned result, the copies), and the positions in
  // `entries_` of the visible ones, increasing.
  std::vector<std::shared_ptr<TMemoryRow>> entries_;
  std::vector<std::size_t> visible_;
  // Index into visible_: -1 is the beginning crack, visible_.size() the end crack.
  long long pos_ = -1;
  std::uint64_t seen_changes_ = 0;
  std::uint64_t locked_row_ = 0;  // row number locked by BeginEdit; 0 when none
  bool closed_ = false;
};

}  // namespace kura
