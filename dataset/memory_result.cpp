#include "dataset/memory_result.h"

#include <algorithm>
#include <cstring>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "dataset/memory_database.h"

namespace kura {

// A row's place in the order: its ORDER BY value (null when unordered) and its row number.
struct TMemoryResult::TKey {
  TFieldValue Value;
  std::uint64_t RowId = 0;
};

namespace {

// Bookmark layout: OFFSET SIZE DESCRIPTION
//                  0      8   row number, little-endian
//                  8      1   1 when an order value follows, else 0
//                  9      1   1 when the order value is null
//                  10     8   Integer (integer types) or the bits of Float (float types)
//                  18     n   Text (text types)
constexpr std::size_t kRowIdSize = 8;
constexpr std::size_t kHeaderSize = kRowIdSize + 2;

void PutU64(TBookmark& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t GetU64(const TBookmark& in, std::size_t at) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8 && at + static_cast<std::size_t>(i) < in.size(); ++i)
    value |= static_cast<std::uint64_t>(in[at + static_cast<std::size_t>(i)]) << (8 * i);
  return value;
}

int CompareValues(TFieldType type, const TFieldValue& a, const TFieldValue& b) {
  if (a.IsNull || b.IsNull) return a.IsNull == b.IsNull ? 0 : (a.IsNull ? -1 : 1);
  if (IsTextType(type)) {
    const int c = a.Text.compare(b.Text);  // byte order
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  if (IsFloatType(type)) return a.Float < b.Float ? -1 : (a.Float > b.Float ? 1 : 0);
  return a.Integer < b.Integer ? -1 : (a.Integer > b.Integer ? 1 : 0);
}

// A stream over one BLOB value of a record buffer: the stand-in keeps a BLOB whole in the
// value's Text.
class MemoryBlobStream : public TBlobStream {
 public:
  MemoryBlobStream(TFieldValue& value, bool writable) : value_(value), writable_(writable) {}

  std::int64_t Size() override {
    return value_.IsNull ? 0 : static_cast<std::int64_t>(value_.Text.size());
  }

  std::int64_t Read(std::int64_t offset, std::int64_t count, char* target) override {
    const std::int64_t size = Size();
    if (offset < 0 || count <= 0 || offset >= size) return 0;
    const std::int64_t n = std::min(count, size - offset);
    std::memcpy(target, value_.Text.data() + offset, static_cast<std::size_t>(n));
    return n;
  }

  void Write(std::int64_t offset, std::string_view data) override {
    CheckWritable();
    if (offset < 0) RaiseEngineError(codes::kInvalidBlobOffset);
    const std::size_t at = static_cast<std::size_t>(offset);
    if (value_.Text.size() < at + data.size()) value_.Text.resize(at + data.size(), '\0');
    value_.Text.replace(at, data.size(), data);
    value_.IsNull = false;
  }

  void Truncate(std::int64_t size) override {
    CheckWritable();
    if (size < 0) RaiseEngineError(codes::kInvalidBlobOffset);
    value_.Text.resize(static_cast<std::size_t>(size), '\0');
    value_.IsNull = size == 0;
  }

 private:
  void CheckWritable() const {
    if (!writable_) RaiseEngineError(codes::kInvalidBlobHandle);
  }

  TFieldValue& value_;
  bool writable_;
};

}  // namespace

TMemoryResult::TMemoryResult(std::shared_ptr<TMemoryTable> table, TMemoryResultShape shape)
    : table_(std::move(table)), shape_(std::move(shape)) {
  Build();
  seen_changes_ = table_->changes;
}

TMemoryResult::~TMemoryResult() {
  Close();
}

const std::vector<TFieldDef>& TMemoryResult::FieldDefs() const {
  return table_->fields;
}

// ---- order

TMemoryResult::TKey TMemoryResult::KeyOf(const TMemoryRow& row) const {
  TKey key;
  key.RowId = row.id;
  if (shape_.OrderColumn >= 0) key.Value = row.values[static_cast<std::size_t>(shape_.OrderColumn)];
  return key;
}

bool TMemoryResult::Before(const TKey& a, const TKey& b) const {
  if (shape_.OrderColumn >= 0) {
    const TFieldType type = table_->fields[static_cast<std::size_t>(shape_.OrderColumn)].DataType;
    const int c = CompareValues(type, a.Value, b.Value);
    if (c != 0) return shape_.Descending ? c > 0 : c < 0;
  }
  return a.RowId < b.RowId;
}

TBookmark TMemoryResult::Encode(const TKey& key) const {
  TBookmark out;
  PutU64(out, key.RowId);
  const bool ordered = shape_.OrderColumn >= 0;
  out.push_back(ordered ? 1 : 0);
  out.push_back(key.Value.IsNull ? 1 : 0);
  if (!ordered || key.Value.IsNull) return out;
  const TFieldType type = table_->fields[static_cast<std::size_t>(shape_.OrderColumn)].DataType;
  if (IsTextType(type)) {
    out.insert(out.end(), key.Value.Text.begin(), key.Value.Text.end());
  } else if (IsFloatType(type)) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &key.Value.Float, sizeof bits);
    PutU64(out, bits);
  } else {
    PutU64(out, static_cast<std::uint64_t>(key.Value.Integer));
  }
  return out;
}

TMemoryResult::TKey TMemoryResult::Decode(const TBookmark& bookmark) const {
  TKey key;
  key.RowId = GetU64(bookmark, 0);
  const bool ordered = bookmark.size() > kRowIdSize && bookmark[kRowIdSize] == 1;
  const bool null = bookmark.size() <= kRowIdSize + 1 || bookmark[kRowIdSize + 1] == 1;
  if (!ordered || null || shape_.OrderColumn < 0) return key;
  const TFieldType type = table_->fields[static_cast<std::size_t>(shape_.OrderColumn)].DataType;
  key.Value.IsNull = false;
  if (IsTextType(type)) {
    key.Value.Text.assign(bookmark.begin() + static_cast<long>(kHeaderSize), bookmark.end());
  } else if (IsFloatType(type)) {
    const std::uint64_t bits = GetU64(bookmark, kHeaderSize);
    std::memcpy(&key.Value.Float, &bits, sizeof bits);
  } else {
    key.Value.Integer = static_cast<std::int64_t>(GetU64(bookmark, kHeaderSize));
  }
  return key;
}

// ---- the walk

void TMemoryResult::Build() {
  entries_.clear();
  visible_.clear();
  for (const auto& row : table_->rows) {
    if (row->deleted) continue;
    if (shape_.Live) {
      entries_.push_back(row);
    } else if (!shape_.Condition || shape_.Condition(row->values)) {
      entries_.push_back(std::make_shared<TMemoryRow>(*row));
    }
  }
  std::stable_sort(entries_.begin(), entries_.end(),
                   [&](const auto& a, const auto& b) { return Before(KeyOf(*a), KeyOf(*b)); });
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (shape_.MaxRowCount >= 0 && visible_.size() >= static_cast<std::size_t>(shape_.MaxRowCount))
      break;
    if (!shape_.Live || !shape_.Condition || shape_.Condition(entries_[i]->values))
      visible_.push_back(i);
  }
  pos_ = -1;
}

void TMemoryResult::DetectChanges() {
  if (!shape_.Live || seen_changes_ == table_->changes) return;
  Refresh();
}

void TMemoryResult::Refresh() {
  const bool at_beginning = pos_ < 0;
  const bool at_end = !visible_.empty() && pos_ >= static_cast<long long>(visible_.size());
  TMemoryRow* row = CurrentRow();
  const TKey key = row != nullptr ? KeyOf(*row) : TKey{};
  if (shape_.Live) Build();
  seen_changes_ = table_->changes;
  Resync(row != nullptr, key, at_beginning, at_end);
}

void TMemoryResult::Resync(bool hadCurrent, const TKey& key, bool atBeginning, bool atEnd) {
  if (visible_.empty() || atBeginning) {
    pos_ = -1;
  } else if (atEnd || !hadCurrent) {
    pos_ = static_cast<long long>(visible_.size());
  } else {
    const std::size_t entry = FirstVisibleFrom(EntryPlace(key));
    pos_ = static_cast<long long>(std::lower_bound(visible_.begin(), visible_.end(), entry) -
                                  visible_.begin());
  }
}

void TMemoryResult::NoteOwnChange() {
  ++table_->changes;
  seen_changes_ = table_->changes;
}

std::size_t TMemoryResult::EntryPlace(const TKey& key) const {
  return static_cast<std::size_t>(
      std::lower_bound(entries_.begin(), entries_.end(), key,
                       [&](const auto& row, const TKey& k) { return Before(KeyOf(*row), k); }) -
      entries_.begin());
}

std::size_t TMemoryResult::FirstVisibleFrom(std::size_t entry) const {
  auto it = std::lower_bound(visible_.begin(), visible_.end(), entry);
  return it == visible_.end() ? entries_.size() : *it;
}

void TMemoryResult::SetVisible(std::size_t entry, bool visible) {
  auto it = std::lower_bound(visible_.begin(), visible_.end(), entry);
  const bool present = it != visible_.end() && *it == entry;
  if (visible && !present) visible_.insert(it, entry);
  if (!visible && present) visible_.erase(it);
}

TMemoryRow* TMemoryResult::CurrentRow() {
  if (pos_ < 0 || pos_ >= static_cast<long long>(visible_.size())) return nullptr;
  return entries_[visible_[static_cast<std::size_t>(pos_)]].get();
}

// ---- navigation

void TMemoryResult::First() {
  DetectChanges();
  pos_ = -1;
}

void TMemoryResult::Last() {
  DetectChanges();
  pos_ = visible_.empty() ? -1 : static_cast<long long>(visible_.size());
}

TFetchResult TMemoryResult::GetCurrentRecord(TRecord& record) {
  DetectChanges();
  if (visible_.empty()) return TFetchResult::kEmpty;
  if (pos_ < 0) return TFetchResult::kBeginning;
  if (pos_ >= static_cast<long long>(visible_.size())) return TFetchResult::kEnd;
  record = CurrentRow()->values;
  return TFetchResult::kOk;
}

TFetchResult TMemoryResult::GetNextRecord(TRecord& record) {
  DetectChanges();
  if (visible_.empty()) return TFetchResult::kEnd;
  if (pos_ < static_cast<long long>(visible_.size())) ++pos_;
  if (pos_ >= static_cast<long long>(visible_.size())) return TFetchResult::kEnd;
  record = CurrentRow()->values;
  return TFetchResult::kOk;
}

TFetchResult TMemoryResult::GetPriorRecord(TRecord& record) {
  DetectChanges();
  if (visible_.empty()) return TFetchResult::kBeginning;
  if (pos_ >= 0) --pos_;
  if (pos_ < 0) return TFetchResult::kBeginning;
  record = CurrentRow()->values;
  return TFetchResult::kOk;
}

int TMemoryResult::RecNo() {
  DetectChanges();
  if (CurrentRow() == nullptr) return 0;
  return static_cast<int>(visible_[static_cast<std::size_t>(pos_)]) + 1;
}

int TMemoryResult::RecordCount() {
  DetectChanges();
  return static_cast<int>(visible_.size());
}

bool TMemoryResult::SetRecNo(int recNo) {
  DetectChanges();
  if (visible_.empty()) {
    pos_ = -1;
    return false;
  }
  const long long entry = static_cast<long long>(recNo) - 1;
  if (entry < static_cast<long long>(visible_.front())) {
    pos_ = -1;
    return false;
  }
  if (entry > static_cast<long long>(visible_.back())) {
    pos_ = static_cast<long long>(visible_.size());
    return false;
  }
  auto it = std::lower_bound(visible_.begin(), visible_.end(), static_cast<std::size_t>(entry));
  pos_ = static_cast<long long>(it - visible_.begin());
  return static_cast<long long>(*it) == entry;
}

// ---- bookmarks

TBookmark TMemoryResult::GetBookmark() {
  TMemoryRow* row = CurrentRow();
  return row == nullptr ? TBookmark{} : Encode(KeyOf(*row));
}

bool TMemoryResult::GotoBookmark(const TBookmark& bookmark) {
  DetectChanges();
  if (bookmark.size() < kHeaderSize) return false;
  const TKey key = Decode(bookmark);
  Resync(true, key, false, false);
  const TMemoryRow* row = CurrentRow();
  return row != nullptr && row->id == key.RowId;
}

int TMemoryResult::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  const TKey ka = Decode(a);
  const TKey kb = Decode(b);
  return Before(ka, kb) ? -1 : (Before(kb, ka) ? 1 : 0);
}

// ---- changes

void TMemoryResult::CheckLive() const {
  if (!shape_.Live || closed_) RaiseTableError(codes::kAccessDenied, table_->name);
}

TMemoryRow& TMemoryResult::RowToChange() {
  CheckLive();
  DetectChanges();
  TMemoryRow* row = CurrentRow();
  if (row == nullptr) RaiseTableError(codes::kNoCurrentRecord, table_->name);
  return *row;
}

void TMemoryResult::CheckImage(const TMemoryRow& row, const TRecord& image) const {
  for (std::size_t i = 0; i < table_->fields.size(); ++i) {
    const TFieldValue none = TFieldValue::Null();
    const TFieldValue& seen = i < image.size() ? image[i] : none;
    if (!FieldValuesEqual(table_->fields[i].DataType, row.values[i], seen))
      RaiseTableError(codes::kRecordChanged, table_->name);
  }
}

TRecord TMemoryResult::InitNewRecord() {
  CheckLive();
  return TRecord(table_->fields.size(), TFieldValue::Null());
}

void TMemoryResult::BeginEdit(const TRecord& image) {
  TMemoryRow& row = RowToChange();
  if (locked_row_ == row.id) return;
  ReleaseLock();
  auto held = table_->locks.find(row.id);
  if (held != table_->locks.end() && held->second != this)
    RaiseTableError(codes::kRecordInUse, table_->name);
  CheckImage(row, image);
  table_->locks[row.id] = this;
  locked_row_ = row.id;
}

void TMemoryResult::CancelEdit() {
  ReleaseLock();
}

void TMemoryResult::ReleaseLock() {
  if (locked_row_ == 0) return;
  auto held = table_->locks.find(locked_row_);
  if (held != table_->locks.end() && held->second == this) table_->locks.erase(held);
  locked_row_ = 0;
}

// Puts `row` (already in the table) at its place in the walk and answers where it went.
TPostAnswer TMemoryResult::Place(const std::shared_ptr<TMemoryRow>& row) {
  const std::size_t at = EntryPlace(KeyOf(*row));
  entries_.insert(entries_.begin() + static_cast<long>(at), row);
  for (std::size_t& entry : visible_)
    if (entry >= at) ++entry;
  const bool meets = !shape_.Condition || shape_.Condition(row->values);
  SetVisible(at, meets);
  const std::size_t landing = meets ? at : FirstVisibleFrom(at);
  pos_ = static_cast<long long>(std::lower_bound(visible_.begin(), visible_.end(), landing) -
                                visible_.begin());
  return meets ? TPostAnswer::kInResult : TPostAnswer::kLeftResult;
}

TPostAnswer TMemoryResult::PostEdit(const TRecord& record) {
  TMemoryRow& row = RowToChange();
  auto held = table_->locks.find(row.id);
  if (held != table_->locks.end() && held->second != this)
    RaiseTableError(codes::kRecordInUse, table_->name);
  ReleaseLock();
  TRecord values = record;
  values.resize(table_->fields.size());
  // Take the row out of the walk, change it, and put it back where its new key belongs.
  const std::size_t entry = visible_[static_cast<std::size_t>(pos_)];
  std::shared_ptr<TMemoryRow> shared = entries_[entry];
  visible_.erase(visible_.begin() + static_cast<long>(pos_));
  for (std::size_t& e : visible_)
    if (e > entry) --e;
  entries_.erase(entries_.begin() + static_cast<long>(entry));
  shared->values = std::move(values);
  NoteOwnChange();
  return Place(shared);
}

TPostAnswer TMemoryResult::PostInsert(const TRecord& record) {
  CheckLive();
  DetectChanges();
  TRecord values = record;
  values.resize(table_->fields.size());
  std::shared_ptr<TMemoryRow> row = table_->AddRow(std::move(values));
  NoteOwnChange();
  return Place(row);
}

void TMemoryResult::DeleteRecord(const TRecord& image) {
  TMemoryRow& row = RowToChange();
  auto held = table_->locks.find(row.id);
  if (held != table_->locks.end() && held->second != this)
    RaiseTableError(codes::kRecordInUse, table_->name);
  if (locked_row_ != row.id) CheckImage(row, image);
  ReleaseLock();
  row.deleted = true;
  auto& rows = table_->rows;
  rows.erase(
      std::remove_if(rows.begin(), rows.end(), [&](const auto& r) { return r.get() == &row; }),
      rows.end());
  const std::size_t entry = visible_[static_cast<std::size_t>(pos_)];
  visible_.erase(visible_.begin() + static_cast<long>(pos_));
  for (std::size_t& e : visible_)
    if (e > entry) --e;
  entries_.erase(entries_.begin() + static_cast<long>(entry));
  NoteOwnChange();
  // pos_ now names the row that followed, or the end crack.
}

std::unique_ptr<TBlobStream> TMemoryResult::OpenBlob(int field, TRecord& buffer, TBlobMode mode) {
  if (field < 0 || static_cast<std::size_t>(field) >= table_->fields.size() ||
      !IsBlobType(table_->fields[static_cast<std::size_t>(field)].DataType))
    RaiseTableError(codes::kInvalidBlobField, table_->name);
  if (mode == TBlobMode::kReadWrite) CheckLive();
  if (buffer.size() < table_->fields.size()) buffer.resize(table_->fields.size());
  return std::make_unique<MemoryBlobStream>(buffer[static_cast<std::size_t>(field)],
                                            mode == TBlobMode::kReadWrite);
}

void TMemoryResult::Close() {
  if (closed_) return;
  ReleaseLock();
  closed_ = true;
}

}  // namespace kura
