#include "dataset/data_set.h"

#include <algorithm>
#include <cstdlib>

#include "base/database_error.h"
#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/ascii_case.h"

namespace kura {

TDataSet::~TDataSet() {
  for (TDataSource* source : data_sources_) source->DataSetDestroyed();
}

void TDataSet::Open() {
  if (Active()) return;
  std::unique_ptr<TResultCursor> result = OpenResult();
  if (!result) throw EDatabaseError("Error creating table handle.");
  result_ = std::move(result);
  try {
    BuildFields();
    result_->First();
    TRecord values;
    if (result_->GetNextRecord(values) == TFetchResult::kOk) {
      TakeRow(std::move(values));
      ordinal_ = 1;
    } else {
      ClearCurrent();
    }
  } catch (...) {
    result_->Close();
    result_.reset();
    fields_.clear();
    ClearCurrent();
    throw;
  }
  state_ = TDataSetState::dsBrowse;
  bof_ = true;
  eof_ = !has_current_;
  InvalidateWindow();
  Notify(TDataEvent::kActiveChanged);
}

void TDataSet::Close() {
  if (!Active()) return;
  CallHook(BeforeScroll);
  // A pending edit or append is dropped, never stored: closing is not a way to post. An edit
  // gives its record lock back.
  if (state_ == TDataSetState::dsEdit) result_->CancelEdit();
  buffer_.clear();
  state_ = TDataSetState::dsInactive;
  result_->Close();
  result_.reset();
  fields_.clear();
  ClearCurrent();
  InvalidateWindow();
  bof_ = eof_ = true;
  AfterClose();
  Notify(TDataEvent::kActiveChanged);
}

void TDataSet::BuildFields() {
  fields_.clear();
  const std::vector<TFieldDef>& defs = result_->FieldDefs();
  for (std::size_t i = 0; i < defs.size(); ++i)
    fields_.push_back(std::make_unique<TField>(*this, static_cast<int>(i), defs[i]));
}

// ---- the current row and the result's position

void TDataSet::TakeRow(TRecord values) const {
  values.resize(fields_.size());
  current_.Values = std::move(values);
  current_.RecNo = result_->RecNo();
  current_.Bookmark = result_->GetBookmark();
  has_current_ = true;
  cursor_on_current_ = true;
}

void TDataSet::ClearCurrent() const {
  current_ = TRowBuffer{};
  current_.Values.assign(fields_.size(), TFieldValue::Null());
  has_current_ = false;
  cursor_on_current_ = false;
  ordinal_ = 0;
}

void TDataSet::TakeRowAfterChange() {
  TRecord values;
  const TFetchResult where = result_->GetCurrentRecord(values);
  if (where == TFetchResult::kOk) {
    TakeRow(std::move(values));
  } else if (where != TFetchResult::kEmpty &&
             result_->GetPriorRecord(values) == TFetchResult::kOk) {
    TakeRow(std::move(values));
  } else if (result_->GetNextRecord(values) == TFetchResult::kOk) {
    TakeRow(std::move(values));
  } else {
    ClearCurrent();
  }
  ordinal_ = has_current_ ? -1 : 0;
  InvalidateWindow();
}

void TDataSet::SyncCursor() const {
  if (cursor_on_current_ || !has_current_) return;
  result_->GotoBookmark(current_.Bookmark);
  cursor_on_current_ = true;
}

int TDataSet::Ordinal() const {
  if (!has_current_) return 0;
  if (ordinal_ >= 0) return ordinal_;
  // Counted by walking from the first row: the result's position numbers may skip rows.
  result_->First();
  cursor_on_current_ = false;
  TRecord values;
  int count = 0;
  while (result_->GetNextRecord(values) == TFetchResult::kOk) {
    ++count;
    if (result_->GetBookmark() == current_.Bookmark) {
      cursor_on_current_ = true;
      ordinal_ = count;
      return ordinal_;
    }
  }
  ordinal_ = 0;  // the row is gone from the result
  return ordinal_;
}

int TDataSet::Step(int count) const {
  const bool forward = count > 0;
  TRecord values;
  int moved = 0;
  while (moved != count) {
    const TFetchResult answer =
        forward ? result_->GetNextRecord(values) : result_->GetPriorRecord(values);
    if (answer != TFetchResult::kOk) break;
    moved += forward ? 1 : -1;
  }
  if (moved == 0) {
    cursor_on_current_ = false;  // on a crack next to the current row
    return 0;
  }
  // Stopped by a crack: come back to the last row read, which becomes current.
  if (moved != count && (forward ? result_->GetPriorRecord(values)
                                 : result_->GetNextRecord(values)) != TFetchResult::kOk) {
    cursor_on_current_ = false;
    return 0;
  }
  const int ordinal = ordinal_;
  TakeRow(std::move(values));
  ordinal_ = ordinal > 0 ? ordinal + moved : -1;
  return moved;
}

void TDataSet::MoveToOrdinal(int n) {
  const int count = RecordCount();
  const int known = Ordinal();
  const int from_current = known > 0 ? std::abs(n - known) : count;
  if (n - 1 <= from_current && n - 1 <= count - n) {
    result_->First();
    ordinal_ = 0;
    TRecord values;
    for (int i = 1; i <= n && result_->GetNextRecord(values) == TFetchResult::kOk; ++i)
      if (i == n) TakeRow(std::move(values));
    ordinal_ = n;
  } else if (count - n < from_current) {
    result_->Last();
    TRecord values;
    for (int i = count; i >= n && result_->GetPriorRecord(values) == TFetchResult::kOk; --i)
      if (i == n) TakeRow(std::move(values));
    ordinal_ = n;
  } else {
    SyncCursor();
    Step(n - known);
  }
}

void TDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

void TDataSet::Notify(TDataEvent event, const TField* field, int distance) {
  if (controls_disabled_ > 0) {
    if (event == TDataEvent::kDataSetScrolled)
      missed_scroll_ = true;
    else if (event != TDataEvent::kUpdateData)
      missed_change_ = true;
    return;
  }
  std::vector<TDataSource*> sources = data_sources_;
  for (TDataSource* source : sources)
    if (std::find(data_sources_.begin(), data_sources_.end(), source) != data_sources_.end())
      source->Notify(event, field, distance);
}

void TDataSet::EnableControls() {
  if (controls_disabled_ == 0) return;
  if (--controls_disabled_ > 0) return;
  const bool changed = missed_change_;
  const bool scrolled = missed_scroll_;
  missed_change_ = missed_scroll_ = false;
  if (changed)
    Notify(TDataEvent::kDataSetChanged);
  else if (scrolled)
    Notify(TDataEvent::kDataSetScrolled);
}

void TDataSet::AddDataSource(TDataSource* source) {
  data_sources_.push_back(source);
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  data_sources_.erase(std::remove(data_sources_.begin(), data_sources_.end(), source),
                      data_sources_.end());
}

void TDataSet::CallHook(const std::function<void()>& hook) {
  if (!hook || in_hook_ || !Active()) return;
  in_hook_ = true;
  try {
    hook();
  } catch (...) {
    in_hook_ = false;
    throw;
  }
  in_hook_ = false;
}

void TDataSet::SetState(TDataSetState state) {
  if (state == state_) return;
  state_ = state;
  Notify(TDataEvent::kStateChanged);
}

// ---- navigation

bool TDataSet::IsEmpty() const {
  return RecordCount() == 0;
}
int TDataSet::RecordCount() const {
  return Active() ? result_->RecordCount() : 0;
}

int TDataSet::RecNo() const {
  if (state_ == TDataSetState::dsInsert) return -1;
  if (!Active()) return 0;
  return Ordinal();
}

void TDataSet::NotifyScrollIfMoved(const TBookmark& before, int distance) {
  if (has_current_ && current_.Bookmark == before) return;
  InvalidateWindow();
  Notify(TDataEvent::kDataSetScrolled, nullptr, distance);
}

void TDataSet::First() {
  CallHook(BeforeScroll);
  CheckBrowseMode();
  const TBookmark before = current_.Bookmark;
  result_->First();
  TRecord values;
  if (result_->GetNextRecord(values) == TFetchResult::kOk) {
    TakeRow(std::move(values));
    ordinal_ = 1;
  } else {
    ClearCurrent();
  }
  bof_ = true;
  eof_ = !has_current_;
  NotifyScrollIfMoved(before, 0);
}

void TDataSet::Last() {
  CallHook(BeforeScroll);
  CheckBrowseMode();
  const TBookmark before = current_.Bookmark;
  result_->Last();
  TRecord values;
  if (result_->GetPriorRecord(values) == TFetchResult::kOk) {
    TakeRow(std::move(values));
    ordinal_ = result_->RecordCount();
  } else {
    ClearCurrent();
  }
  eof_ = true;
  bof_ = !has_current_;
  NotifyScrollIfMoved(before, 0);
}

void TDataSet::Next() {
  MoveBy(1);
}
void TDataSet::Prior() {
  MoveBy(-1);
}

int TDataSet::MoveBy(int distance) {
  CallHook(BeforeScroll);
  CheckBrowseMode();
  if (!has_current_) {
    bof_ = eof_ = true;
    return 0;
  }
  if (distance == 0) return 0;
  const TBookmark before = current_.Bookmark;
  SyncCursor();
  const int moved = Step(distance);
  if (distance > 0) {
    bof_ = false;
    eof_ = moved < distance;
  } else {
    eof_ = false;
    bof_ = moved > distance;
  }
  if (moved != 0) NotifyScrollIfMoved(before, moved);
  return moved;
}

void TDataSet::SetRecNo(int value) {
  CallHook(BeforeScroll);
  CheckBrowseMode();
  if (value < 1 || value > RecordCount()) return;
  const TBookmark before = current_.Bookmark;
  MoveToOrdinal(value);
  bof_ = eof_ = false;
  NotifyScrollIfMoved(before, 0);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  result_->Refresh();
  if (has_current_) result_->GotoBookmark(current_.Bookmark);
  TakeRowAfterChange();
  bof_ = eof_ = !has_current_;
  Notify(TDataEvent::kDataSetChanged);
}

TBookmark TDataSet::GetBookmark() const {
  return has_current_ && Active() ? current_.Bookmark : TBookmark{};
}

bool TDataSet::GotoBookmark(const TBookmark& bookmark) {
  CallHook(BeforeScroll);
  CheckBrowseMode();
  const TBookmark before = current_.Bookmark;
  const bool found = result_->GotoBookmark(bookmark);
  TakeRowAfterChange();
  bof_ = eof_ = !has_current_;
  NotifyScrollIfMoved(before, 0);
  return found;
}

bool TDataSet::Locate(std::string_view fieldName, const TFieldValue& value) {
  CallHook(BeforeScroll);
  CheckBrowseMode();
  const TField& field = FieldByName(fieldName);
  const TBookmark before = current_.Bookmark;
  TRecord values;
  if (!result_->Locate(field.Index(), value, values)) {
    cursor_on_current_ = false;  // the scan left the result elsewhere
    return false;
  }
  TakeRow(std::move(values));
  ordinal_ = -1;
  bof_ = eof_ = false;
  NotifyScrollIfMoved(before, 0);
  return true;
}

bool TDataSet::Locate(std::string_view fieldName, std::int64_t value) {
  CheckActive();
  const TField& field = FieldByName(fieldName);
  return Locate(fieldName, ValueFromInteger(field.DataType(), value, field.FieldName()));
}

bool TDataSet::Locate(std::string_view fieldName, std::string_view value) {
  CheckActive();
  const TField& field = FieldByName(fieldName);
  return Locate(fieldName, ValueFromString(field.DataType(), value, field.FieldName()));
}

// ---- fields

TField& TDataSet::Fields(int index) {
  CheckActive();
  if (index < 0 || index >= FieldCount())
    throw EDatabaseError("List index out of bounds (" + std::to_string(index) + ")");
  return *FieldAt(index);
}

TField* TDataSet::FindField(std::string_view name) {
  for (auto& field : fields_)
    if (EqualsIgnoringAsciiCase(field->FieldName(), name)) return field.get();
  return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) {
  CheckActive();
  TField* field = FindField(name);
  if (!field) throw EDatabaseError("Field '" + std::string(name) + "' not found");
  return *field;
}

TFieldValue TDataSet::GetFieldValue(int index) const {
  const TRecord& record = state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert
                              ? buffer_
                              : current_.Values;
  if (index < 0 || static_cast<std::size_t>(index) >= record.size()) return TFieldValue::Null();
  return record[static_cast<std::size_t>(index)];
}

void TDataSet::CheckFieldWritable(const TField& field) const {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
    throw EDatabaseError("Table is not in edit or insert mode.");
  if (field.ReadOnly()) throw EDatabaseError("Field " + field.FieldName() + " cannot be modified.");
}

void TDataSet::SetFieldValue(const TField& field, const TFieldValue& value) {
  CheckFieldWritable(field);
  const std::size_t index = static_cast<std::size_t>(field.Index());
  if (index >= buffer_.size()) buffer_.resize(fields_.size());
  buffer_[index] = value;
  Notify(TDataEvent::kRecordChanged, &field);
}

// ---- changes

void TDataSet::Edit() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (ReadOnly()) throw EDatabaseError("Cannot modify a read-only dataset.");
  if (!has_current_) throw EDatabaseError("Cannot perform this operation on an empty dataset");
  if (!result_->GotoBookmark(current_.Bookmark)) {
    cursor_on_current_ = false;
    RaiseEngineError(codes::kRecordChanged);  // deleted by someone else since it was read
  }
  cursor_on_current_ = true;
  // Edit the row as it stands now, not as it was last read.
  TRecord values;
  if (result_->GetCurrentRecord(values) == TFetchResult::kOk) {
    values.resize(fields_.size());
    current_.Values = values;
  }
  result_->BeginEdit(current_.Values);
  buffer_ = current_.Values;
  SetState(TDataSetState::dsEdit);
}

void TDataSet::Append() {
  CheckActive();
  CallHook(BeforeScroll);
  CheckBrowseMode();
  if (ReadOnly()) throw EDatabaseError("Cannot modify a read-only dataset.");
  buffer_ = result_->InitNewRecord();
  buffer_.resize(fields_.size());
  bof_ = false;
  eof_ = true;
  SetState(TDataSetState::dsInsert);
  Notify(TDataEvent::kDataSetChanged);
}

void TDataSet::Post() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
    throw EDatabaseError("データセットが編集または挿入モードではありません");
  CallHook(BeforePost);
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  Notify(TDataEvent::kUpdateData);
  if (state_ == TDataSetState::dsEdit) {
    SyncCursor();
    result_->PostEdit(buffer_);
  } else {
    result_->PostInsert(buffer_);
  }
  // Where the row went (still in the result, or out of it) the result stands now.
  buffer_.clear();
  TakeRowAfterChange();
  bof_ = eof_ = !has_current_;
  SetState(TDataSetState::dsBrowse);
  Notify(TDataEvent::kDataSetChanged);
}

void TDataSet::Cancel() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  const bool was_insert = state_ == TDataSetState::dsInsert;
  if (!was_insert) result_->CancelEdit();
  buffer_.clear();
  if (was_insert) eof_ = !has_current_;
  SetState(TDataSetState::dsBrowse);
  Notify(was_insert ? TDataEvent::kDataSetChanged : TDataEvent::kRecordChanged);
}

void TDataSet::Delete() {
  CheckActive();
  CallHook(BeforeScroll);
  if (state_ == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  Cancel();
  if (ReadOnly()) throw EDatabaseError("Cannot modify a read-only dataset.");
  if (!has_current_) throw EDatabaseError("Cannot perform this operation on an empty dataset");
  result_->GotoBookmark(current_.Bookmark);
  cursor_on_current_ = true;
  const int ordinal = ordinal_;
  result_->DeleteRecord(current_.Values);
  // The row that followed the deleted one becomes current, or the new last row.
  TRecord values;
  if (result_->GetCurrentRecord(values) == TFetchResult::kOk) {
    TakeRow(std::move(values));
    ordinal_ = ordinal;
  } else if (result_->GetPriorRecord(values) == TFetchResult::kOk) {
    TakeRow(std::move(values));
    ordinal_ = ordinal > 0 ? ordinal - 1 : -1;
  } else {
    ClearCurrent();
  }
  InvalidateWindow();
  bof_ = eof_ = !has_current_;
  Notify(TDataEvent::kDataSetChanged);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) Post();
}

std::unique_ptr<TBlobStream> TDataSet::CreateBlobStream(const TField& field, TBlobMode mode) {
  CheckActive();
  const bool pending = state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert;
  if (mode == TBlobMode::kReadWrite) CheckFieldWritable(field);
  TRecord& record = pending ? buffer_ : current_.Values;
  if (record.size() < fields_.size()) record.resize(fields_.size());
  return result_->OpenBlob(field.Index(), record, mode);
}

// ---- grid access

int TDataSet::DisplayRowCount() const {
  return RecordCount() + (state_ == TDataSetState::dsInsert ? 1 : 0);
}

int TDataSet::DisplayRow() const {
  return state_ == TDataSetState::dsInsert ? DisplayRowCount() : RecNo();
}

void TDataSet::FillWindow(int row) const {
  const int start = std::max(1, row - kWindowRows / 4);
  const int known = Ordinal();
  // Stand on ordinal start - 1 (0: the beginning crack), from the nearer of the first row and
  // the current one, then read the window in one block.
  if (known <= 0 || start - 1 <= std::abs(start - 1 - known)) {
    result_->First();
    cursor_on_current_ = false;
    TRecord values;
    for (int i = 1; i < start && result_->GetNextRecord(values) == TFetchResult::kOk; ++i) {
    }
  } else {
    SyncCursor();
    cursor_on_current_ = false;
    TRecord values;
    const int steps = start - 1 - known;
    for (int i = 0; i < std::abs(steps); ++i) {
      const TFetchResult answer =
          steps > 0 ? result_->GetNextRecord(values) : result_->GetPriorRecord(values);
      if (answer != TFetchResult::kOk) break;
    }
  }
  result_->GetNextRecords(kWindowRows, window_);
  window_first_ = start;
}

TFieldValue TDataSet::CellValue(int row, int field) const {
  if (!Active() || field < 0 || field >= FieldCount()) return TFieldValue::Null();
  const std::size_t index = static_cast<std::size_t>(field);
  if (row == DisplayRow() && row > 0) return GetFieldValue(field);
  if (row < 1 || row > RecordCount()) return TFieldValue::Null();
  if (window_.empty() || row < window_first_ ||
      row >= window_first_ + static_cast<int>(window_.size()))
    FillWindow(row);
  const int at = row - window_first_;
  if (at < 0 || at >= static_cast<int>(window_.size())) return TFieldValue::Null();
  const TRecord& values = window_[static_cast<std::size_t>(at)].Values;
  return index < values.size() ? values[index] : TFieldValue::Null();
}

}  // namespace kura
