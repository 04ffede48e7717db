// The result of an executed query, in the terms of the table engine's cursor: the one
// interface the dataset machinery walks, reads and changes rows through. The in-memory
// collection implements it today (memory_result.h); the engine's binding implements it over
// TDataCursor, so nothing above the seam changes when the tables move to files.
//
// Position. A result is either on a row, at the beginning crack (before the first visible
// row), at the end crack (after the last) or empty. First and Last put it on a crack; the next
// GetNextRecord / GetPriorRecord reads the first / last row. End of data is an answer
// (kBeginning, kEnd, kEmpty: the engine's 8705, 8706, 8709), never an exception.
//
// Reading repositions. Every fetch moves the one position the result has; there is no random
// access to "row n". A caller that reads other rows (a grid filling its window, a Locate scan)
// and wants to come back keeps the bookmark of its row and goes to it again.
//
// Position numbers. RecNo is the result's own position number: 1-based in the result's order,
// but under a filter in index order it counts the hidden entries too, so the visible rows of a
// result with RecordCount 2 may have RecNo 2 and 3. Callers that want the ordinal among the
// visible rows count it themselves (TDataSet does). RecordCount is the number of visible rows.
//
// Changes (live results only; a read-only result raises engine error 11013 for each):
// BeginEdit locks the current row and checks that it still equals the image the caller read
// (8708 when it changed, 10258 when another result holds its lock); the lock lasts until
// PostEdit, CancelEdit, DeleteRecord or Close. PostEdit and PostInsert answer where the row
// now is: still in the result (the result is on it), or left the result because it no longer
// meets the query's condition (the result is on the row that followed it, or at the end
// crack). DeleteRecord checks the image the same way and leaves the result on the row that
// followed the deleted one (or at the end crack).
//
// Lifetimes. A result may share state with the statement that produced it (a live result is
// the statement's base cursor): it lives until its statement is unprepared, so the owner
// releases the result (Close, then destroy) before the statement. A BLOB stream lives no
// longer than the record buffer it was opened on and the result it came from.
//
// Threads: a result is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/field.h"

namespace kura {

// Answer of a fetch; the engine codes they stand for are in base/engine_codes.h.
enum class TFetchResult {
  kOk,         // a row was read
  kBeginning,  // 8705: at (or moved to) the beginning crack
  kEnd,        // 8706: at (or moved to) the end crack
  kEmpty,      // 8709: the result has no rows
};

// Identifies one row of one result: the full index key of its entry, or its physical record
// number in record order. Compared only through the result that produced it.
using TBookmark = std::vector<std::uint8_t>;

// A row as a block read or a dataset buffer holds it: the values, then the "info area" (the
// result's position number and the bookmark of the row).
struct TRowBuffer {
  TRecord Values;
  int RecNo = 0;
  TBookmark Bookmark;
};

// Where a posted row went.
enum class TPostAnswer {
  kInResult,    // the result stands on the posted row
  kLeftResult,  // the row no longer meets the condition: the result stands after it
};

enum class TBlobMode { kRead, kReadWrite };

// One BLOB field of one record buffer, read and written in pieces. Offsets are in bytes.
class TBlobStream {
 public:
  virtual ~TBlobStream() = default;
  virtual std::int64_t Size() = 0;
  // Copies up to `count` bytes from `offset` into `target`; answers the number copied (0 at or
  // past the end).
  virtual std::int64_t Read(std::int64_t offset, std::int64_t count, char* target) = 0;
  // Writes `data` at `offset`, growing the BLOB (a gap reads as zero bytes). Raises on a
  // stream opened for reading.
  virtual void Write(std::int64_t offset, std::string_view data) = 0;
  // Cuts or zero-extends the BLOB to `size` bytes. Raises on a stream opened for reading.
  virtual void Truncate(std::int64_t size) = 0;
};

class TResultCursor {
 public:
  virtual ~TResultCursor() = default;

  // ---- shape
  virtual const std::vector<TFieldDef>& FieldDefs() const = 0;
  // A read-only (canned) result refuses every change.
  virtual bool IsReadOnly() const = 0;

  // ---- navigation
  // To the beginning crack (empty when there are no rows).
  virtual void First() = 0;
  // To the end crack (empty when there are no rows).
  virtual void Last() = 0;
  // Reads the current row: kOk on a row; kBeginning / kEnd on a crack; kEmpty when empty.
  // `record` is filled only on kOk.
  virtual TFetchResult GetCurrentRecord(TRecord& record) = 0;
  // Moves one row forward (backward) and reads it; kEnd (kBeginning) when none follows: the
  // result is then on that crack.
  virtual TFetchResult GetNextRecord(TRecord& record) = 0;
  virtual TFetchResult GetPriorRecord(TRecord& record) = 0;
  // Block read: up to `count` GetNextRecord calls into `rows` (replaced), each with its RecNo
  // and bookmark; stops at the first answer other than kOk. Answers the number read.
  virtual int GetNextRecords(int count, std::vector<TRowBuffer>& rows);

  // ---- numbers
  // Position number of the current row (see above); 0 when empty or on a crack.
  virtual int RecNo() = 0;
  // Number of visible rows.
  virtual int RecordCount() = 0;
  // Goes to the row with position number `recNo` and answers whether it is there (0 and
  // numbers past the last row leave the result on the beginning / end crack).
  virtual bool SetRecNo(int recNo) = 0;

  // ---- bookmarks
  // The current row's bookmark; empty when there is no current row.
  virtual TBookmark GetBookmark() = 0;
  // Goes to the bookmarked row; answers whether it is still there and visible. When it is
  // not, the result stands on the nearest row after it in the result's order (or the end
  // crack, or empty).
  virtual bool GotoBookmark(const TBookmark& bookmark) = 0;
  // -1, 0 or 1 by the rows' order in the result.
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b) = 0;

  // ---- search
  // Moves to the first row (in the result's order) whose field `field` equals `value` and
  // answers true, filling `record`; answers false when none does, and the result's position
  // is then unspecified (callers go back by bookmark). The default scans from First.
  virtual bool Locate(int field, const TFieldValue& value, TRecord& record);

  // Sees changes made by others (other results, other processes) at once: the result
  // re-synchronises on its current row by bookmark, or on the row after it when it is gone.
  virtual void Refresh() = 0;

  // ---- changes (live results)
  // A new row with the table's defaults; starting an append makes no other call.
  virtual TRecord InitNewRecord() = 0;
  // Locks the current row and checks it against `image` (the row as the caller read it).
  virtual void BeginEdit(const TRecord& image) = 0;
  // Ends an edit without posting: releases the lock BeginEdit took. Nothing without one.
  virtual void CancelEdit() = 0;
  // Replaces the current (locked) row by `record`, releases the lock.
  virtual TPostAnswer PostEdit(const TRecord& record) = 0;
  // Adds `record` as a new row.
  virtual TPostAnswer PostInsert(const TRecord& record) = 0;
  // Deletes the current row after checking it against `image`.
  virtual void DeleteRecord(const TRecord& image) = 0;

  // ---- BLOB fields
  // Opens BLOB field `field` of `buffer` (a record read from this result, or the buffer of a
  // pending edit or append); kReadWrite only on a buffer that is being edited or appended.
  // The buffer must outlive the stream.
  virtual std::unique_ptr<TBlobStream> OpenBlob(int field, TRecord& buffer, TBlobMode mode) = 0;

  // ---- end
  // Releases what the result holds for its owner (the record lock of a pending edit, BLOB
  // buffers). Navigation after Close is not allowed. Closing twice does nothing.
  virtual void Close() = 0;
};

// Equality of two values of a field of type `type` (nulls equal only each other).
bool FieldValuesEqual(TFieldType type, const TFieldValue& a, const TFieldValue& b);

}  // namespace kura
