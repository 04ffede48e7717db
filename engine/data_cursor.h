// The engine's cursor: one ordered, positioned view of one table with its own current record,
// active index, range and record buffer. Cursors on one table share its TDataTable (files,
// caches, locks); position, index, range and field list are the cursor's own.
//
// ORDERS
//   index order         IndexNo 0 (primary), 1..30 (secondary), 31 ("Sys Deleted"): walked by
//                       a TIndexNavigator over the index's pages, read through the table's
//                       page cache.
//   record-number order IndexNo 255, or 0 while the table has no primary index of its own:
//                       a TRecordOrderNavigator over the Visible bitmap (the live records).
//
// EVERY NAVIGATION STEP runs between BeginRead and EndRead (EndRead always runs):
//   1. strict change detection: BeginRead takes the table's read lock, which re-reads the
//      file headers; lazy: no lock, the headers are re-read on the first index page or
//      record read of the step that misses the cache (the lock is then held to EndRead);
//   2. when the table reported a change or any of the three change counters differs from
//      the cursor's, the cursor stores the new counters, rebuilds its bitmaps and goes back
//      to its record by bookmark keeping the cracks;
//   3. the step runs; a page read that saw a change stops it before anything was committed,
//      and the cursor re-synchronises and runs it again; a record read that saw a change is
//      made once more.
// Exclusive cursors (not clones of exclusive cursors) and tables whose files are read-only
// by attribute skip change detection.
//
// ANSWERS: record operations answer 0, 8705 (beginning crack), 8706 (end crack), 8709 (no
// current record), 8710 (SyncToCursor: record not visible here) instead of raising; storage
// and lock errors raise and leave the position as it was before the step.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/engine_error.h"
#include "engine/calculated_fields.h"
#include "engine/cursor_blobs.h"
#include "engine/cursor_position.h"
#include "engine/filter.h"
#include "storage/field_descriptor.h"
#include "storage/index_key.h"
#include "storage/index_page.h"
#include "storage/index_text.h"
#include "storage/record_image.h"
#include "storage/record_sorter.h"
#include "storage/records_bitmap.h"

namespace kura {

class TDataDirectory;
class TDataTable;
struct TTableDefinition;
struct TIndexDefinition;
class TIndexNavigator;
class TRecordOrderNavigator;
class TCursorPageStore;
struct TTextIndexChange;
struct TRestructureOptions;
enum class TRestructurePath;
class TTableRestructure;
struct TKeyBatch;

inline constexpr std::uint8_t kRecordOrderIndexNo = 255;
inline constexpr std::size_t kMaxCursorTableName = 255;
inline constexpr std::size_t kMaxQualifiedFieldName = 100;
// A password hook that keeps answering true without adding a fitting password is asked this
// often before the open gives up with 10498.
inline constexpr int kMaxPasswordAsks = 64;

// One field of the cursor's field list.
struct TCursorField {
  TFieldDescriptor Descriptor;
  // "table.field", cut to 100 characters.
  std::string QualifiedName;
  // The directory's path, or for the in-memory directory its database name.
  std::string Origin;
  // A calculated field: its slot follows the table's record (calculated_fields.h).
  bool Calculated = false;
  std::string Expression;
};

// The three change counters a cursor compares (the BLOB one 0 without BLOB fields).
struct TChangeCounters {
  std::int32_t Data = 0;
  std::int32_t Index = 0;
  std::int32_t Blob = 0;
  bool operator==(const TChangeCounters&) const = default;
};

class TDataCursor {
 public:
  // Asked for a table password when the session holds none that fits: it adds one to the
  // session (AddPassword) and answers true, or answers false to give up.
  using TPasswordHook = std::function<bool(TDataCursor& cursor)>;

  explicit TDataCursor(TDataDirectory& directory);
  // Closes quietly (errors are dropped; call Close to see them).
  ~TDataCursor();
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  // --- Settings (10031 while open; an equal value does nothing) --------------------------
  // Any directory part is dropped and any extension removed; at most 255 characters.
  void SetTableName(std::string_view name);
  void SetExclusive(bool value);
  void SetReadOnly(bool value);
  void SetInMemory(bool value);
  // May open a table another cursor of the process holds exclusively (clones).
  void SetSharedFromExclusive(bool value);
  // Cursors the SQL layer opens on the tables a statement reads: record-number order.
  void SetSqlSource(bool value);
  // A temporary result table: its files are temporary and its buffers are dropped at close.
  void SetTemporary(bool value);
  void SetPasswordHook(TPasswordHook hook) { FPasswordHook = std::move(hook); }

  TDataDirectory& Directory() const { return FDirectory; }
  const std::string& TableName() const { return FTableName; }
  bool Exclusive() const { return FExclusive; }
  bool ReadOnly() const { return FReadOnly; }
  bool ReadOnlyFiles() const { return FReadOnlyFiles; }
  bool InMemory() const { return FInMemory; }
  bool SharedFromExclusive() const { return FSharedFromExclusive; }
  bool Temporary() const { return FTemporary; }
  bool IsOpen() const { return FTable != nullptr; }

  // For the layers above: nothing for code 0, else the engine error with the cursor's table
  // and database names and the text (or the field name).
  void RaiseError(std::uint16_t code, std::string_view text = {}) const;
  void RaiseFieldError(std::uint16_t code, std::string_view fieldName) const;
  TDataTable* Table() const { return FTable; }

  // --- Opening and closing ---------------------------------------------------------------
  // Opens the table (11010 missing, 11013 exclusivity conflict, 10498 no password), loads
  // the field list, rebuilds "Sys Deleted" after a recreated index file, selects the
  // primary index (record-number order for SQL sources) and goes to the beginning crack.
  // Any failure after the table was obtained releases it again.
  void Open();
  // Releases the table; closing a closed cursor does nothing.
  void Close();
  // A new open cursor on the same table with the same flags, index and range, copies of the
  // filters (the active ones active), on the same record.
  std::unique_ptr<TDataCursor> Clone();
  // To the record another cursor of the same table is on: 0, or 8710 when it is not
  // visible here.
  std::uint16_t SyncToCursor(TDataCursor& other);

  // --- Navigation ------------------------------------------------------------------------
  void First();
  void Last();
  // 0 and the current record; 8709 empty, 8705 beginning crack, 8706 end crack (the buffer
  // is zero-filled then). The buffer takes RecordSize() bytes.
  std::uint16_t GetCurrentRecord(std::span<std::uint8_t> buffer);
  std::uint16_t GetNextRecord(std::span<std::uint8_t> buffer);
  std::uint16_t GetPriorRecord(std::span<std::uint8_t> buffer);
  // GetNextRecord into consecutive buffers of RecordSize() bytes, at most count of them (and
  // as many as fit); stops at the first non-zero answer, which it answers, with the number
  // read in count.
  std::uint16_t GetNextRecords(int& count, std::span<std::uint8_t> buffers);
  std::int64_t RecNo();
  std::int64_t RecordCount();
  std::int32_t PhysicalRecordNo();
  // To position number n, reading the record; answers whether RecNo is n afterwards.
  bool SetRecNo(std::int64_t n);
  // Record-number order: to record r (the first visible at or after it, else the last
  // before it). Index order: nothing.
  void GotoPhysical(std::int64_t r);

  // --- Keys, ranges, indexes -------------------------------------------------------------
  // Key search in the active index: the key as given (keyIsBuilt) or built from a record
  // image. fieldCount > 0 below the index's field count, a partialLength, or a non-unique
  // index search the leading part only. Record-number order answers false without moving.
  // The record reached is copied into buffer (when it is not empty).
  bool FindKey(bool keyIsBuilt, std::span<const std::uint8_t> keyOrRecord,
               std::span<std::uint8_t> buffer, int partialLength, bool nearest, int fieldCount);
  // A range over the active index; an empty limit leaves that side open. Ignored in
  // record-number order.
  void SetRange(bool keyIsBuilt, std::span<const std::uint8_t> startKeyOrRecord,
                int startFieldCount, std::span<const std::uint8_t> endKeyOrRecord,
                int endFieldCount);
  void CancelRange();
  bool RangeActive() const;
  std::int64_t RangeFirst() const;
  std::int64_t RangeLast() const;
  // Changes the active index keeping the current record; 10022 for an unknown index.
  void SetIndexName(std::string_view name);
  // 0..30 defined indexes, 31 "Sys Deleted", 255 record-number order; 10022 otherwise.
  void SetIndexNo(int indexNo);
  int IndexNo() const { return FIndexNo; }
  const std::string& IndexName() const { return FIndexName; }
  bool RecordOrder() const { return FRecordOrder; }
  // The active index's key format (index order only).
  const TKeyFormat& KeyFormat() const;
  // The key of a record image in the active index.
  std::vector<std::uint8_t> BuildKeyOf(std::span<const std::uint8_t> record) const;

  // --- Bookmarks -------------------------------------------------------------------------
  int BookmarkSize() const;
  std::vector<std::uint8_t> GetBookmark();
  // Answers true with keepCracks, otherwise whether the bookmarked record was reached.
  bool GotoBookmark(std::span<const std::uint8_t> bookmark, bool keepCracks);
  int CompareBookmarks(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) const;

  // --- Changes made elsewhere ------------------------------------------------------------
  // Back to the current record (by its key in index order) and read it.
  void Resync();
  // Re-synchronises at once, whether or not a change was seen.
  void Refresh();
  // The bracket of a navigation step; brackets nest (only the outermost one acts).
  void BeginRead();
  void EndRead();
  const TChangeCounters& ChangeCounters() const { return FCounters; }

  // --- Text-index parameters ------------------------------------------------------------
  // The stop words and the space and include characters of the table's text index: loaded
  // from its parameter pages on first use (the defaults when it has none; 8965 for damaged
  // pages). A change is kept by the cursor and written back when it closes; a read-only
  // cursor refuses it with 11013.
  const TTextIndexParams& TextIndexParams();
  void SetTextIndexParams(TTextIndexParams params);
  // Forgets the parameters loaded, so that the next use reads them from the table again
  // (the SQL layer asks for this).
  void ReloadTextIndexParams();

  // --- BLOB fields (data_cursor_blobs.cpp) -------------------------------------------------
  // The open BLOB buffers of the cursor's record buffers (cursor_blobs.h has the rules and
  // the codes answered). fieldNo is 1..FieldCount; buffer is a record buffer of RecordSize
  // bytes. Buffers are freed when the cursor closes.
  std::uint16_t OpenBlob(int fieldNo, std::span<std::uint8_t> buffer, std::uint32_t& size,
                         TBlobOpenMode mode, bool releaseAfterPost = false);
  std::uint16_t ReadBlob(int fieldNo, std::span<const std::uint8_t> buffer, std::uint32_t offset,
                         std::uint32_t count, std::uint8_t* target, std::uint32_t& copied);
  std::uint16_t WriteBlob(int fieldNo, std::span<std::uint8_t> buffer, std::uint32_t offset,
                          std::uint32_t count, const std::uint8_t* source);
  std::uint16_t TruncateBlob(int fieldNo, std::span<std::uint8_t> buffer, std::uint32_t newSize);
  std::uint16_t GetBlobSize(int fieldNo, std::span<const std::uint8_t> buffer, std::uint32_t& size);
  std::uint16_t CloseBlob(int fieldNo, std::span<std::uint8_t> buffer);
  // Frees every buffer, or only those opened for release after the post.
  void FreeBlobs(bool onlyReleaseAfterPost = false);
  // The buffers themselves, for the post, the delete and the text index.
  TCursorBlobs& Blobs();

  // --- State -----------------------------------------------------------------------------
  bool AtBOF() const;
  bool AtEOF() const;
  // Whether the visible-record bitmap applies: always in record-number order, and in index
  // order while a filter is active.
  bool Filtered() const { return FFiltered; }
  // The record bitmaps, indexed by record number 1..highest record number, kept only while
  // Filtered (empty otherwise): Live the records not deleted; InRange the records inside the
  // range (empty without a range, and in record-number order, which has no ranges); Visible
  // the records the cursor visits, InRange (when there is a range) and Live and every active
  // filter. VisibleCount is the number of Visible's set bits.
  const TRecordsBitmap& VisibleRecords() const { return FVisible; }
  const TRecordsBitmap& InRangeRecords() const { return FInRange; }
  const TRecordsBitmap& LiveRecords() const { return FLive; }
  std::int64_t VisibleCount() const { return FVisibleCount; }
  // The current record image as last read (zeros without a current record).
  std::span<const std::uint8_t> Record() const { return FRecord; }

  // --- Filters (data_cursor_filters.cpp; engine/filter.h has the rules) --------------------
  // A new inactive filter of a compiled condition, or with condition null of the callback
  // (10051 "filter expression is invalid" without either); 9482 for a 65th filter. The layer
  // that knows the expression language compiles filter texts (sql/filter_condition.h).
  TFilter* AddFilter(std::unique_ptr<TFilterCondition> condition, TFilterCallback callback,
                     const TFilterFlags& flags);
  // Drops, activates or deactivates the filter, or every filter when it is null; 10050 for a
  // filter not in the list. The bitmaps follow and the cursor re-synchronises on its record.
  void DropFilter(TFilter* filter);
  void ActivateFilter(TFilter* filter);
  void DeactivateFilter(TFilter* filter);
  // A new condition for an active expression filter (10050 when it is not in the list, not
  // active or a callback filter).
  void ReplaceFilterExpression(TFilter* filter, std::unique_ptr<TFilterCondition> condition);
  // The optimisation level of a condition on this cursor's table, without installing it.
  int AnalyseCondition(TFilterCondition& condition, bool estimate, bool costRule);
  const std::vector<std::unique_ptr<TFilter>>& Filters() const { return FFilters; }
  // Records read so far to evaluate filters record by record (served conditions read none).
  std::int64_t FilterRecordsRead() const { return FFilterRecordsRead; }

  // --- Record modification ---------------------------------------------------------------
  // Every change runs inside the table's write lock and a lock on the record concerned, both
  // released on every path out; all key checks of all indexes come before the first write,
  // so a refused change (11013 read-only cursor, 9732/9730/9731 validation, 9729 duplicate
  // key naming the index, 8708 changed elsewhere, 10258 locked) leaves the table untouched.
  // Afterwards the cursor stores the new change counters, so that its own change does not
  // re-synchronise it while every other cursor and process notices.
  //
  // Zero-fills RecordSize bytes and stores every field default.
  void InitNewRecord(std::span<std::uint8_t> buffer);
  // A new record buffer with the non-NULL values of the current record (the record next to
  // a crack); the row number only with KeepRowIds. 8709 when the cursor is empty.
  std::uint16_t CopyCurrentRecord(std::span<std::uint8_t> buffer);
  // Raises the first failing required (9732), minimum (9730) or maximum (9731) check with
  // the field's name.
  void ValidateRecord(std::span<const std::uint8_t> buffer) const;
  // With lock: the start of an edit. Under the pessimistic protocol the current record is
  // locked; under either protocol it must still equal the caller's buffer (else 8708, and
  // the lock is given back). Then the buffer receives the current record.
  std::uint16_t GetCurrentRecord(std::span<std::uint8_t> buffer, bool lock);
  // Record n (0: the current record); nothing for exclusive and read-only-files cursors.
  // 10258 when it is locked through any cursor of the process, or by another process after
  // the session's retries. A change seen while locking re-synchronises the cursor.
  void LockRecord(std::int32_t n = 0);
  // Record n (0: the record this cursor locked). A cursor gives back only its own locks: a
  // record another cursor of the process holds raises 10242 and stays locked.
  void UnlockRecord(std::int32_t n = 0);
  std::int32_t LockedRecNo() const { return FLockedRecNo; }
  // The table's write lock around one change (re-synchronising when it saw a change).
  void BeginWrite();
  void EndWrite();
  // The table lock of a statement written WITH LOCKS.
  void LockTable();
  void UnlockTable();
  // Adds the record in the buffer; with resync the cursor moves onto it.
  void PostInsert(std::span<std::uint8_t> buffer, bool resync);
  // An append run, for filling a table nobody walks meanwhile (a result table): while it is
  // open, changes posted without resync keep the cursor's bitmaps up to date but leave its
  // counts and place as they were instead of counting afresh after every record; ending it
  // counts once and reads the current record again. Use TCursorAppendRun to bracket one.
  void BeginAppendRun();
  void EndAppendRun();
  // Replaces the current record by the buffer. Under the pessimistic protocol releaseLock
  // gives the edit lock back after a successful post; with resync the cursor moves onto
  // the record in its new place.
  void PostEdit(std::span<std::uint8_t> buffer, bool releaseLock, bool resync);
  // Ends an edit without posting: the edit lock goes, the optimistic conflict is forgotten.
  void CancelEdit();
  // Deletes the current record; buffer is the caller's copy of it (8708 when the record
  // changed meanwhile). With resync the cursor lands on the record that followed it.
  void DeleteRecord(std::span<const std::uint8_t> buffer, bool resync);
  // Inserted and edited records keep the row number they carry. Only tables with an
  // auto-increment field take it; elsewhere the setting stays off.
  void SetKeepRowIds(bool value);
  bool KeepRowIds() const { return FKeepRowIds; }
  // Set by an optimistic post that found the record changed; every further post of the
  // edit fails with 8708 until CancelEdit.
  bool OptimisticConflict() const { return FOptimisticConflict; }

  // --- Fields and index definitions ------------------------------------------------------
  int FieldCount() const { return static_cast<int>(FFields.size()); }
  std::uint16_t RecordSize() const { return FRecordSize; }
  // By field number 1..FieldCount, or by name without regard to case; 9985 when absent.
  const TCursorField& GetFieldDesc(int fieldNo) const;
  const TCursorField& GetFieldDesc(std::string_view name) const;
  // Whether the field of the current record is NULL; value receives its stored bytes.
  bool GetField(int fieldNo, std::span<std::uint8_t> value = {}) const;
  // Stores a value (nullptr: NULL) into a record image of RecordSize bytes.
  void SetField(int fieldNo, std::span<std::uint8_t> record, const void* value) const;
  bool HasAutoIncField() const { return FHasAutoInc; }
  bool HasValidityChecks() const { return FHasChecks; }
  bool HasDefaults() const { return FHasDefaults; }
  int SecondaryIndexCount() const;
  bool HasPrimaryIndex() const;

  // --- Calculated fields (data_cursor_calculated.cpp) -------------------------------------
  // Replaces the open cursor's field list: table fields by number and calculated fields, each
  // calculated one getting a slot after the record (offset RecordSize before it was added,
  // RecordSize growing by 1 + its stored size). Refused before anything changes: more than
  // 1023 fields 9492; a bad or duplicate name 10038; an unsound definition, an unknown table
  // field or a calculated BLOB field 10000; a RecordSize beyond 65535 9477; an expression the
  // evaluator refuses. Without an evaluator no expression is evaluated. The current record's
  // calculated fields are evaluated at once.
  void SetCalculatedFields(std::span<const TCursorFieldDefinition> fields,
                           std::unique_ptr<TCalculatedFieldEvaluator> evaluator);
  const std::vector<TCursorFieldDefinition>& CalculatedFieldDefinitions() const {
    return FFieldDefinitions;
  }
  // The whole value of a BLOB field of a record buffer: the contents of this cursor's buffer
  // when the slot holds its handle, else the stored value read from the table's BLOB file;
  // false when there is none (NULL, or a handle this cursor does not know).
  bool ReadStoredBlob(const TFieldDescriptor& field, std::span<const std::uint8_t> record,
                      std::string& value) const;
  // The table's language and sort order.
  TTableLocale Locale() const;

  // --- Table operations (data_cursor_table_ops.cpp) ----------------------------------------
  // Whole-table operations on the table the cursor's TableName and InMemory name; the codes
  // of their access rules: 10031 (must be closed), 10253 (must be exclusive), 11013 (must
  // not be read-only, or the table is open elsewhere in the process).
  //
  // Creates the table: exclusive, not read-only, open or closed. Every check of the
  // definition (table_definition_check.h) and 13060 for an existing table without overwrite
  // come before any file is made. lastAutoInc is where row numbers start (-1: 0); text
  // parameters, when given, are stored for the text index. The cursor is left closed.
  void CreateTable(const TTableDefinition& definition, bool overwrite,
                   std::int32_t lastAutoInc = -1, const TTextIndexParams* textParams = nullptr);
  // Closed cursor: the table's header is read (11010 missing) and an encrypted table's
  // password asked for (10498), then its files are deleted (11013 while open in the process).
  void DeleteTable();
  // As DeleteTable, then the files take the new name (13060 when that table exists).
  void RenameTable(std::string_view newName);
  // Open, exclusive, not read-only: no records, every index definition kept, the text
  // parameters written again at close; the cursor at the beginning crack.
  void EmptyTable();
  // Open, exclusive, not read-only: the index is defined and built from the records. A
  // failure (9729 for records with equal keys in a unique index, any file error) removes
  // it again, leaving the table as it was. The cursor at the beginning crack of its index.
  void AddIndex(const TIndexDefinition& definition);
  // Open, exclusive, not read-only: the secondary index by name (without regard to case;
  // 10022 when there is none) or by number 1..30 goes with its pages; the primary index
  // becomes current, at the beginning crack.
  void DeleteIndex(std::string_view name);
  void DeleteIndexNo(int indexNo);
  // Closed, exclusive, not read-only: every index (primary, secondary, "Sys Deleted", the
  // text index with its parameters, or the default ones when they cannot be read) is built
  // afresh from the records, whatever the index pages held: the repair of a damaged index
  // file whose header still reads. A failure (9729 for records whose keys collide in a unique
  // index, any file error) puts the index file back as it was from its copy ".IBK", which
  // goes afterwards either way.
  void RebuildIndexes();
  // Open, exclusive: a result table (no primary, secondary or text index) is rewritten in
  // the order of the sort description (record_sorter.h), its run files in the session's
  // private folder; any other table is left alone. The cursor at the beginning crack.
  void SortTable(TSortSpec spec);
  // The table's 127 header bytes: from the open table, or read from the closed table's data
  // file (11010 missing; a version other than 5 answers zeros with only the version byte;
  // an encrypted table's password is asked for, 10498).
  std::array<std::uint8_t, kDataHeaderSize> GetTableHeader();
  // Closed, exclusive, not read-only: the table gets the new definitions (table_restructure.h),
  // checked as CreateTable checks them. Field layout, locale, encryption or BLOB block size
  // changed: every record is copied into a new table under a temporary name, which then
  // takes the table's place (table_swap.h; the old files stay as ".DBK", ".IBK", ".BBK"
  // unless NoBackup or in memory). Only indexes changed: the index file is built again in
  // place, its copy kept as ".IBK" unless NoBackup. Otherwise only names, texts and header
  // values are rewritten. Any record or value the new definitions cannot hold (a value that
  // does not convert, a BLOB bound for a non-BLOB field: 10000 naming the field; a record a
  // new unique index or validity check refuses: 9729, 9730, 9731, 9732) stops the operation
  // with that error and leaves the table as it was. The cursor is left closed.
  TRestructurePath RestructureTable(const TRestructureOptions& options);
  // The definition of index slot 0..32; 10022 for another number.
  TIndexDescriptor ReadIndexDescriptor(int indexNo) const;

 private:
  friend class TCursorPageStore;
  friend class TFilterIndexAccess;
  friend class TTableRestructure;
  // Lets the tests switch the filtered state before the filters themselves exist.
  friend struct TDataCursorTestAccess;
  class TReadBracket;

  void RequireClosed() const;
  // Changes an opening setting: nothing when it already holds the value, 10031 while open.
  void SetWhileClosed(bool& setting, bool value);
  void RequireOpen() const;
  [[noreturn]] void Raise(std::uint16_t code) const;

  // Calculated fields: evaluates every one with an expression into the buffer (nothing while
  // an evaluation runs); the field list back to the table's.
  void EvaluateCalculatedFields(std::span<std::uint8_t> record) const;
  // A record read: without calculated fields the image goes into Record at once (answer
  // false); with them into a scratch buffer, which CalculateTakenRecord (called once the
  // record is released) evaluates and only then makes the cursor's Record, so that a failed
  // evaluation leaves Record as it was.
  bool TakeRecordImage(std::span<const std::uint8_t> image);
  void CalculateTakenRecord();
  void ForgetCalculatedFields();
  void CloneCalculatedFields(TDataCursor& clone) const;

  // Opening.
  void OpenSteps();
  void LoadFields();
  void RebuildSysDeleted();
  // Table operations: the access rules, the closed table's header with its password check,
  // the cursor back at the beginning crack of an index after the table changed under it.
  void RequireExclusive() const;
  void RequireWritableTable() const;
  std::array<std::uint8_t, kDataHeaderSize> ReadClosedTableHeader(bool checkPassword);
  // Asks the password hook (a few times at most) until the session knows password; raises
  // kPasswordRequired otherwise.
  void RequirePassword(const std::string& password);
  void RestartAt(int indexNo);
  void BuildIndex(int slot);
  // The tree of an empty index built bottom-up from its keys (9729 for equal keys).
  void BuildSlotFromKeys(int slot, const TKeyBatch& batch);
  void FreeIndexPages(int slot);
  // Builds the index file afresh from the records, after redefine (when given) has set its
  // new definitions; a failure puts the file back from its copy ".IBK", which is kept
  // afterwards only with keepBackup after a success.
  void RebuildIndexFile(const std::function<void()>& redefine = {}, bool keepBackup = false);
  void InsertEveryKey();
  void LoadIndex(int indexNo);
  void WriteBackTextIndexParams();

  // Change detection.
  bool ChecksChanges() const;
  bool Strict() const;
  TChangeCounters CurrentCounters() const;
  void DetectChanges();
  void Resynchronise();
  // A page or record read is about to miss the cache (lazy mode): take the read lock with
  // its header re-read; answers whether that saw a change.
  bool ReadMissesCache();
  bool ReadMissesCacheFor(int slot, std::int32_t pageNo);
  // Steps that move more than once or replace the navigator take the read lock up front.
  void TakeReadLockNow();
  // Live, InRange (withRange: over the active index's range) and Visible afresh, when
  // Filtered; built aside, so that a failed scan leaves them as they were.
  void RebuildBitmaps();
  void BuildBitmaps(bool withRange);
  void DropBitmaps();
  void ScanDeletedRecords(TRecordsBitmap& deleted);
  void ScanRange(TRecordsBitmap& inRange);
  // Filters: the bitmap of every active filter over the base records (Live, and InRange
  // with a range), built aside; the upkeep of one record after this cursor's own change.
  std::vector<TRecordsBitmap> BuildFilterBitmaps(const TRecordsBitmap& base);
  void EvaluateFilter(TFilter& filter, TRecordsBitmap& bitmap);
  // Analyses a condition under a filter's flags; answers its level.
  int AnalyseFor(TFilterCondition& condition, const TFilterFlags& flags,
                 TFilterIndexAccess& access);
  bool UpdateFilterBitsFor(std::uint32_t bit, std::span<const std::uint8_t> image);
  std::size_t FilterIndex(const TFilter* filter) const;
  bool AnyFilterActive() const;
  void CloneFilters(TDataCursor& clone) const;
  // After the filters were switched on or off (the filter layer calls this): Filtered
  // follows, the bitmaps are rebuilt and the cursor re-synchronises on its record.
  void FilterStateChanged(bool anyFilterActive);
  // A range change: the new limits, the bitmaps and the bounds, then back to the record; a
  // failure puts the old range back and has the next step re-synchronise.
  template <typename TChange>
  void ChangeRange(TChange change);
  // Rethrows the error being handled, giving an engine error that names no table the
  // cursor's table name: errors about damaged index pages (raised deep in the navigation
  // core), or any code with anyCode.
  [[noreturn]] void RethrowNamed(const EKuraEngineError& error, bool anyCode = false) const;

  // Runs one navigation step inside the read bracket, re-running it after a page read saw a
  // change. The step answers a value.
  template <typename TStep>
  auto RunStep(TStep step);
  // RunStep for the cursor's other source files (the template lives with the navigation).
  void RunStepOf(const std::function<void()>& step);

  // Reading the current record.
  void ReadCurrentRecord(bool forward);
  // Makes a record image read the cursor's Record (calculated fields evaluated).
  void TakeRecord(std::span<const std::uint8_t> image);
  // GetNextRecords in record order: the records are read in runs straight from the file.
  int ReadNextRecordRuns(int room, std::span<std::uint8_t> buffers, std::uint16_t& answer);
  std::uint16_t CopyCurrent(std::span<std::uint8_t> buffer) const;
  TNavigator& Nav() const;
  bool OutsideRange(const std::vector<std::uint8_t>& key) const;
  void PlaceLike(const TCursorPosition& before, const std::vector<std::uint8_t>& key,
                 std::int32_t recordNo);

  // Record modification (data_cursor_modify.cpp, data_cursor_locks.cpp).
  struct TIndexKeys;
  bool TakesRecordLocks() const;
  bool Pessimistic() const;
  void RequireWritable() const;
  void RequireRecordBuffer(std::span<const std::uint8_t> buffer) const;
  // The slots whose keys every live record has: the primary index (when the table has one
  // of its own), then the secondary indexes; "Sys Deleted" is kept apart.
  std::vector<int> KeySlots() const;
  std::vector<TIndexKeys> BuildKeys(std::span<const std::uint8_t> image) const;
  // 9729 naming the index.
  // An error about index slot `slot`, naming the index (9729 duplicate, 8965 missing key).
  [[noreturn]] void RaiseIndexError(std::uint16_t code, int slot) const;
  [[noreturn]] void RaiseDuplicate(int slot) const;
  [[noreturn]] void RaiseMissingKey(int slot) const;
  // Locks record n for this cursor (10258 when any cursor of the process holds it).
  void LockRecordNow(std::int32_t n);
  // 10258 when another cursor of the process holds record n locked.
  void RequireUnlockedInProcess(std::int32_t n) const;
  std::int32_t NextSlotNumber() const;
  void InsertSteps(std::span<std::uint8_t> buffer, std::int32_t recordNo);
  bool EditSteps(std::span<std::uint8_t> buffer, std::int32_t recordNo);
  void DeleteSteps(std::int32_t recordNo);
  // The bitmaps after record n was inserted or edited (image: its new image) or deleted
  // (image empty).
  void UpdateBitmapsFor(std::int32_t recordNo, std::span<const std::uint8_t> image);
  void ReplaceSysDeletedKey(std::span<const std::uint8_t> oldImage,
                            std::span<const std::uint8_t> newImage, std::int32_t recordNo);
  // Writes the change back (or, exclusive or in a transaction, only advances the change
  // counters) and stores the cursor's own new counters.
  void EndUpdate(bool keysChanged, bool blobsWritten);
  // After a change: the navigator counts afresh and goes back to its place; with onto set
  // it then moves onto that record (its key taken from Record()).
  void AfterChange(std::int32_t onto);
  // After a delete: on the record that followed the deleted one, or the end crack.
  void AfterDelete();
  // Runs body; whatever happens the cleanup steps run afterwards, and the first error is
  // raised (the body's before any of the cleanup's).
  template <typename TBody, typename TCleanup>
  void WithCleanup(TBody body, TCleanup cleanup);
  // BLOB values and text-index words of a change. Every BLOB slot of a posted buffer holds
  // a stored value or a handle of this cursor (8963 otherwise).
  void CheckBlobSlots(std::span<const std::uint8_t> buffer) const;
  // The text index's words to remove (the stored record oldImage) and to add (the buffer
  // being posted, its memo texts from its open BLOB buffers); worked out before any BLOB
  // value changes. Empty sides for an insert or a delete.
  TTextIndexChange TextWordsChange(std::span<const std::uint8_t> oldImage,
                                   std::span<const std::uint8_t> newBuffer);
  void ApplyTextWords(const TTextIndexChange& change, std::int32_t oldRowId, std::int32_t newRowId,
                      std::int32_t recordNo);
  // The BLOB part of a post, once every key check passed: the buffer takes the image's
  // header, the text index's words are taken (old: the stored record; empty for an
  // insert), the modified BLOB values are written (the post's first write, so that 8963
  // refuses it whole), and the image takes the buffer's fields with stored BLOB slots.
  // Answers whether BLOBs were written.
  bool WriteBlobsForPost(std::span<std::uint8_t> buffer, std::vector<std::uint8_t>& image,
                         std::span<const std::uint8_t> old, TTextIndexChange& words);
  // The slots a stored record keeps: handles of buffers still open replaced by their
  // first-block and change numbers.
  void StoreBlobSlots(std::span<std::uint8_t> image) const;

  TDataDirectory& FDirectory;
  TDataTable* FTable = nullptr;
  std::string FTableName;
  bool FExclusive = false;
  bool FSharedFromExclusive = false;
  bool FReadOnly = false;
  bool FReadOnlyRequested = false;
  bool FReadOnlyFiles = false;
  bool FInMemory = false;
  bool FSqlSource = false;
  bool FTemporary = false;
  TPasswordHook FPasswordHook;

  int FIndexNo = 0;
  std::string FIndexName;
  bool FRecordOrder = false;
  // The active index's key format (the navigator refers to it; null in record-number order).
  std::unique_ptr<TKeyFormat> FKeys;
  std::unique_ptr<TCursorPageStore> FStore;
  std::unique_ptr<TCursorPageStore> FDeletedStore;
  std::unique_ptr<TIndexNavigator> FIndexNav;
  std::unique_ptr<TRecordOrderNavigator> FRecordNav;
  // Counts the navigators made, so that a failed step restores a position only into the
  // navigator it came from.
  std::uint64_t FNavGeneration = 0;

  // Record-number order walks Visible; in index order the navigator passes over the entries
  // Visible lacks while Filtered. Live comes from "Sys Deleted", InRange from the active
  // index's range.
  bool FFiltered = false;
  bool FFiltersActive = false;
  TRecordsBitmap FVisible;
  TRecordsBitmap FInRange;
  TRecordsBitmap FLive;
  std::int64_t FVisibleCount = 0;
  // A change of range or filter state failed half-way: the next step re-synchronises.
  bool FStale = false;

  // The filter list in evaluation order (at most kMaxCursorFilters).
  std::vector<std::unique_ptr<TFilter>> FFilters;
  std::int64_t FFilterRecordsRead = 0;

  std::vector<TCursorField> FFields;
  std::uint16_t FRecordSize = 0;
  std::vector<std::uint8_t> FRecord;
  bool FHasAutoInc = false;
  bool FHasChecks = false;
  bool FHasDefaults = false;
  // The definitions of a field list set by SetCalculatedFields (empty: the table's fields).
  std::vector<TCursorFieldDefinition> FFieldDefinitions;
  std::unique_ptr<TCalculatedFieldEvaluator> FEvaluator;
  // Guards against an evaluation that sets a field and so asks for another evaluation.
  mutable bool FEvaluating = false;
  std::vector<std::uint8_t> FTakenRecord;

  std::optional<TTextIndexParams> FTextParams;
  bool FTextParamsChanged = false;

  std::int32_t FLockedRecNo = 0;
  bool FTookWriteLock = false;
  bool FKeepRowIds = false;
  bool FOptimisticConflict = false;

  // --- BLOB buffers (data_cursor_blobs.cpp) ---
  std::unique_ptr<TCursorBlobs> FBlobs;
  // The field of a BLOB call (nullptr when the number names none), for an open cursor and a
  // record buffer of at least RecordSize bytes (8962 otherwise).
  const TFieldDescriptor* BlobFieldDesc(int fieldNo, std::size_t bufferSize) const;
  // --- end of BLOB buffers ---

  TChangeCounters FCounters;
  int FReadDepth = 0;            // nesting of BeginRead
  bool FTookReadLock = false;    // the outermost bracket took the table's read lock
  bool FChangeReported = false;  // a lock's header re-read saw a change not yet caught up
  bool FAppendRun = false;       // inside BeginAppendRun .. EndAppendRun
  bool FAppendRunStale = false;  // a change in the run left the counts to be made afresh
};

// Brackets an append run: End() counts afresh (raising what that raises); a scope left
// without End(), by an error, ends the run quietly.
class TCursorAppendRun {
 public:
  explicit TCursorAppendRun(TDataCursor& cursor) : FCursor(&cursor) { cursor.BeginAppendRun(); }
  ~TCursorAppendRun() {
    if (FCursor == nullptr) return;
    try {
      FCursor->EndAppendRun();
    } catch (...) {  // the error that left the scope is the one to report
    }
  }
  TCursorAppendRun(const TCursorAppendRun&) = delete;
  TCursorAppendRun& operator=(const TCursorAppendRun&) = delete;

  void End() {
    TDataCursor* cursor = FCursor;
    FCursor = nullptr;
    cursor->EndAppendRun();
  }

 private:
  TDataCursor* FCursor;
};

}  // namespace kura
