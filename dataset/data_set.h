// The generic dataset: a result cursor walked row by row, with a current row, browse / edit /
// insert states, field objects, and data sources that keep bound controls up to date.
//
// Navigation follows the usual rules: after Open and First the cursor is on row 1 with Bof
// set; Next on the last row sets Eof and stays; Prior on the first row sets Bof and stays; an
// empty result has both set. Every move first posts a pending edit or append. Closing cancels
// a pending edit or append (releasing the record lock of an edit).
//
// The dataset keeps the current row in a record buffer with its info area (the result's
// position number and the row's bookmark), and finds its way back to it by bookmark after
// anything else moved the result (a grid filling its window, a Locate scan). RecNo is the
// row's ordinal among the result's visible rows, 1..RecordCount, counted by the dataset
// itself: the result's own position numbers may skip the rows a filter hides. A window of
// buffers, filled by block reads, serves a grid's cells for rows other than the current one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/data_source.h"
#include "dataset/field.h"
#include "dataset/query_provider.h"

namespace kura {

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

class TDataSet {
 public:
  TDataSet() = default;
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;
  // Derived classes close in their own destructor; this one only leaves the data sources.
  virtual ~TDataSet();

  // ---- open and close
  // Runs the result (OpenResult) and goes to its first row. Does nothing when open.
  void Open();
  // Cancels a pending edit or append, then releases the result. Does nothing when closed.
  void Close();
  bool Active() const { return state_ != TDataSetState::dsInactive; }
  void SetActive(bool value) { value ? Open() : Close(); }
  TDataSetState State() const { return state_; }

  // ---- navigation (each posts a pending edit or append first)
  void First();
  void Last();
  void Next();
  void Prior();
  // Moves up to `distance` rows (negative: backwards); answers how far it moved. Hitting
  // either end sets Eof or Bof.
  int MoveBy(int distance);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty() const;
  int RecordCount() const;
  // 1-based number of the current row; 0 when empty, -1 on a row being appended.
  int RecNo() const;
  // Moves to row `value`; a number outside 1..RecordCount() leaves the cursor where it is.
  void SetRecNo(int value);
  // Posts a pending change, then sees changes made by others: stays on the current row, or
  // moves to the row after it when it is gone. Tells the controls DataSetChanged.
  void Refresh();
  // The current row's bookmark (empty when there is none), and going back to one: answers
  // false when that row is gone (the dataset is then on the row after it).
  TBookmark GetBookmark() const;
  bool GotoBookmark(const TBookmark& bookmark);
  // Moves to the first row whose field equals the value (compared as the field's type);
  // answers false and stays put when none does. Unknown field names raise.
  bool Locate(std::string_view fieldName, const TFieldValue& value);
  bool Locate(std::string_view fieldName, std::int64_t value);
  bool Locate(std::string_view fieldName, std::string_view value);

  // ---- fields
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // Field `index` (0-based, in the order of the result); raises when out of range or closed.
  TField& Fields(int index);
  // By name, without regard to case; FieldByName raises "Field '%s' not found".
  TField* FindField(std::string_view name);
  TField& FieldByName(std::string_view name);

  // ---- changes
  // Starts editing the current row; does nothing in edit or insert state. Raises on a
  // read-only dataset or when there is no current row.
  void Edit();
  // Posts any pending change, then starts a new row at the end.
  void Append();
  // Stores the pending edit or new row. In browse state raises
  // "データセットが編集または挿入モードではありません".
  void Post();
  // Drops the pending edit or new row; does nothing in browse state.
  void Cancel();
  // Deletes the current row (cancelling a pending append instead); the next row becomes
  // current, or the new last row when the last one went.
  void Delete();
  // Posts a pending edit or append; does nothing in browse state.
  void CheckBrowseMode();

  // A stream over BLOB field `field` of the current row (of the pending row in edit or insert
  // state). kReadWrite only in edit or insert state ("Table is not in edit or insert mode.").
  // The stream must not outlive the state it was opened in.
  std::unique_ptr<TBlobStream> CreateBlobStream(const TField& field, TBlobMode mode);

  // Forbids changes when set. A result that its provider marks read-only also forbids them.
  bool ReadOnly() const { return read_only_ || (result_ && result_->IsReadOnly()); }
  void SetReadOnly(bool value) { read_only_ = value; }
  bool CanModify() const { return Active() && !ReadOnly(); }

  // ---- bound controls
  // While disabled (counted), data sources hear nothing; enabling tells them what they
  // missed: DataSetChanged when rows, state or the result changed, DataSetScrolled when the
  // cursor only moved, nothing when nothing happened.
  void DisableControls() { ++controls_disabled_; }
  void EnableControls();
  bool ControlsDisabled() const { return controls_disabled_ > 0; }

  // ---- notifications to the dataset's owner
  // Called before the cursor may leave the current row (First, Last, Next, Prior, MoveBy,
  // RecNo, Locate, Append, Delete) and before the dataset closes, while a pending edit is still
  // pending: the owner can drop an edit that must never be stored. Not called for Post,
  // Cancel or Edit. The handler must not move this dataset's cursor; a call made while the
  // handler runs does not call it again.
  std::function<void()> BeforeScroll;
  // Called at the start of Post, while the pending edit or new row can still be changed. A
  // handler that cancels the edit leaves nothing to store, and Post then stores nothing.
  std::function<void()> BeforePost;

  // ---- reading rows for a grid
  // Rows a grid shows: the result's rows, plus the row being appended.
  int DisplayRowCount() const;
  // The row a grid highlights (1-based); the appended row is the last one.
  int DisplayRow() const;
  // Value of field `field` in display row `row`; the row being edited shows its pending
  // values. Out of range answers null.
  TFieldValue CellValue(int row, int field) const;

  // ---- used by TField
  TFieldValue GetFieldValue(int index) const;
  void CheckFieldWritable(const TField& field) const;
  void SetFieldValue(const TField& field, const TFieldValue& value);

 protected:
  // Runs the result. Called by Open; exceptions leave the dataset closed.
  virtual std::unique_ptr<TResultCursor> OpenResult() = 0;
  // Called by Close after the result is released.
  virtual void AfterClose() {}
  // Raises "Cannot perform this operation on a closed dataset" when closed.
  void CheckActive() const;
  // Tells every data source (unless controls are disabled).
  void Notify(TDataEvent event, const TField* field = nullptr, int distance = 0);

 private:
  friend class TDataSource;
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  void BuildFields();
  // Takes the row the result stands on (just read into `values`) as the current row.
  void TakeRow(TRecord values) const;
  void ClearCurrent() const;
  // Reads the row the result stands on after a change; the row before it at the end.
  void TakeRowAfterChange();
  // Puts the result back on the current row when something else moved it.
  void SyncCursor() const;
  // The current row's ordinal among the visible rows, counted when not known.
  int Ordinal() const;
  // Moves the result to ordinal `n` (1..RecordCount) and takes that row.
  void MoveToOrdinal(int n);
  // Steps `count` rows (negative: backwards); answers the number of rows moved.
  int Step(int count) const;
  void FillWindow(int row) const;
  void InvalidateWindow() const { window_.clear(); }
  void NotifyScrollIfMoved(const TBookmark& before, int distance);
  void SetState(TDataSetState state);
  void CallHook(const std::function<void()>& hook);
  TField* FieldAt(int index) { return fields_[static_cast<std::size_t>(index)].get(); }

  // Rows a grid's window holds: a grid showing 20 rows reads them in one block.
  static constexpr int kWindowRows = 32;

  std::unique_ptr<TResultCursor> result_;
  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<TDataSource*> data_sources_;
  TDataSetState state_ = TDataSetState::dsInactive;
  // The current row: values and info area. The result may stand elsewhere
  // (cursor_on_current_ false) after a window fill or a failed search.
  mutable TRowBuffer current_;
  mutable bool has_current_ = false;
  mutable bool cursor_on_current_ = false;
  mutable int ordinal_ = 0;  // 1-based among the visible rows; 0 none; -1 not yet counted
  bool bof_ = true;
  bool eof_ = true;
  TRecord buffer_;  // pending values in edit or insert state
  mutable std::vector<TRowBuffer> window_;
  mutable int window_first_ = 0;  // ordinal of window_[0]
  bool read_only_ = false;
  int controls_disabled_ = 0;
  // What the data sources missed while controls were disabled.
  bool missed_scroll_ = false;
  bool missed_change_ = false;
  bool in_hook_ = false;
};

}  // namespace kura
