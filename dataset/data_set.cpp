#include "dataset/data_set.h"

#include <algorithm>
#include <cctype>

#include "base/database_error.h"
#include "storage/ascii_case.h"

namespace kura {
namespace {

bool ValuesEqual(TFieldType type, const TFieldValue& a, const TFieldValue& b) {
  if (a.IsNull || b.IsNull) return a.IsNull && b.IsNull;
  if (type == TFieldType::ftString) return a.Text == b.Text;
  if (type == TFieldType::ftFloat) return a.Float == b.Float;
  return a.Integer == b.Integer;
}

}  // namespace

TDataSet::~TDataSet() {
  for (TDataSource* source : data_sources_) source->DataSetDestroyed();
}

void TDataSet::Open() {
  if (Active()) return;
  std::unique_ptr<TResultSet> result = OpenResult();
  if (!result) throw EDatabaseError("Error creating table handle.");
  result_ = std::move(result);
  BuildFields();
  state_ = TDataSetState::dsBrowse;
  current_ = result_->RecordCount() > 0 ? 1 : 0;
  bof_ = true;
  eof_ = current_ == 0;
  LoadCurrent();
  Notify(TDataEvent::kActiveChanged);
}

void TDataSet::Close() {
  if (!Active()) return;
  CallHook(BeforeScroll);
  // A pending edit or append is dropped, never stored: closing is not a way to post.
  buffer_.clear();
  state_ = TDataSetState::dsInactive;
  result_.reset();
  fields_.clear();
  current_record_.clear();
  current_ = 0;
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

void TDataSet::LoadCurrent() {
  current_record_.assign(fields_.size(), TFieldValue::Null());
  if (current_ > 0 && !result_->ReadRecord(current_, current_record_))
    current_record_.assign(fields_.size(), TFieldValue::Null());
  current_record_.resize(fields_.size());
}

void TDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

void TDataSet::Notify(TDataEvent event, const TField* field, int distance) {
  if (controls_disabled_ > 0) return;
  std::vector<TDataSource*> sources = data_sources_;
  for (TDataSource* source : sources)
    if (std::find(data_sources_.begin(), data_sources_.end(), source) != data_sources_.end())
      source->Notify(event, field, distance);
}

void TDataSet::EnableControls() {
  if (controls_disabled_ == 0) return;
  if (--controls_disabled_ == 0) Notify(TDataEvent::kDataSetChanged);
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
  return !Active() || result_->RecordCount() == 0;
}
int TDataSet::RecordCount() const {
  return Active() ? result_->RecordCount() : 0;
}

int TDataSet::RecNo() const {
  if (state_ == TDataSetState::dsInsert) return -1;
  return current_;
}

void TDataSet::MoveTo(int index, int distance) {
  if (index == current_) return;
  current_ = index;
  LoadCurrent();
  Notify(TDataEvent::kDataSetScrolled, nullptr, distance);
}

void TDataSet::First() {
  CallHook(BeforeScroll);
  CheckBrowseMode();
  MoveTo(RecordCount() > 0 ? 1 : 0, 0);
  bof_ = true;
  eof_ = RecordCount() == 0;
}

void TDataSet::Last() {
  CallHook(BeforeScroll);
  CheckBrowseMode();
  MoveTo(RecordCount(), 0);
  eof_ = true;
  bof_ = RecordCount() == 0;
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
  const int count = RecordCount();
  if (count == 0) {
    bof_ = eof_ = true;
    return 0;
  }
  int target = current_;
  if (distance > 0) {
    bof_ = false;
    target =
        static_cast<int>(std::min<long long>(count, static_cast<long long>(current_) + distance));
    eof_ = static_cast<long long>(current_) + distance > count;
  } else if (distance < 0) {
    eof_ = false;
    target = static_cast<int>(std::max<long long>(1, static_cast<long long>(current_) + distance));
    bof_ = static_cast<long long>(current_) + distance < 1;
  }
  const int moved = target - current_;
  MoveTo(target, moved);
  return moved;
}

void TDataSet::SetRecNo(int value) {
  CallHook(BeforeScroll);
  CheckBrowseMode();
  if (value < 1 || value > RecordCount()) return;
  MoveTo(value, 0);
  bof_ = eof_ = false;
}

bool TDataSet::Locate(std::string_view fieldName, const TFieldValue& value) {
  CallHook(BeforeScroll);
  CheckBrowseMode();
  const TField& field = FieldByName(fieldName);
  TRecord record;
  for (int row = 1; row <= RecordCount(); ++row) {
    if (!result_->ReadRecord(row, record)) continue;
    const std::size_t index = static_cast<std::size_t>(field.Index());
    if (index < record.size() && ValuesEqual(field.DataType(), record[index], value)) {
      MoveTo(row, 0);
      bof_ = eof_ = false;
      return true;
    }
  }
  return false;
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
                              : current_record_;
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
  if (current_ == 0) throw EDatabaseError("Cannot perform this operation on an empty dataset");
  result_->BeginEdit(current_);
  LoadCurrent();  // edit the row as it stands now, not as it was last read
  buffer_ = current_record_;
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
  int row = 0;
  if (state_ == TDataSetState::dsEdit)
    row = result_->PostEdit(current_, buffer_);
  else
    row = result_->PostInsert(buffer_);
  buffer_.clear();
  current_ = row;
  LoadCurrent();
  bof_ = eof_ = false;
  SetState(TDataSetState::dsBrowse);
  Notify(TDataEvent::kDataSetChanged);
}

void TDataSet::Cancel() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  const bool was_insert = state_ == TDataSetState::dsInsert;
  buffer_.clear();
  if (was_insert) eof_ = current_ == 0;
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
  if (current_ == 0) throw EDatabaseError("Cannot perform this operation on an empty dataset");
  result_->DeleteRecord(current_);
  const int count = result_->RecordCount();
  current_ = std::min(current_, count);
  LoadCurrent();
  bof_ = eof_ = count == 0;
  Notify(TDataEvent::kDataSetChanged);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) Post();
}

// ---- grid access

int TDataSet::DisplayRowCount() const {
  return RecordCount() + (state_ == TDataSetState::dsInsert ? 1 : 0);
}

int TDataSet::DisplayRow() const {
  return state_ == TDataSetState::dsInsert ? DisplayRowCount() : current_;
}

TFieldValue TDataSet::CellValue(int row, int field) const {
  if (!Active() || field < 0 || field >= FieldCount()) return TFieldValue::Null();
  const std::size_t index = static_cast<std::size_t>(field);
  if (row == DisplayRow() && row > 0) return GetFieldValue(field);
  TRecord record;
  if (row < 1 || row > RecordCount() || !result_->ReadRecord(row, record) || index >= record.size())
    return TFieldValue::Null();
  return record[index];
}

}  // namespace kura
