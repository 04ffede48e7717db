// Calculated fields of a cursor: replacing the field list, laying out the calculated slots
// after the table's record, evaluating them after reads and SetField, and reading stored BLOBs
// for the expressions that name memo fields.
#include <algorithm>
#include <string>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/cursor_page_store.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_table.h"
#include "storage/ascii_case.h"
#include "storage/blob_file.h"
#include "storage/field_types.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

// The field list holds at most this many fields, the table's and the calculated ones.
constexpr std::size_t kMaxCursorFields = 1023;

// The descriptors of a new field list, numbered 1..n: table fields as the table has them
// (under their new names), calculated fields checked as a table's would be and given slots
// from recordSize on, which grows past each.
std::vector<TFieldDescriptor> LayOutFieldList(const TDataCursor& cursor,
                                              std::span<const TCursorFieldDefinition> definitions,
                                              std::span<const TFieldDescriptor> tableFields,
                                              std::size_t& recordSize) {
  std::vector<TFieldDescriptor> fields;
  fields.reserve(definitions.size());
  for (const TCursorFieldDefinition& definition : definitions) {
    TFieldDescriptor field = definition.Descriptor;
    field.FieldName = std::string(TrimAsciiBlanks(field.FieldName).substr(0, kMaxFieldNameLength));
    if (definition.TableFieldNo != 0) {
      if (definition.TableFieldNo < 0 ||
          static_cast<std::size_t>(definition.TableFieldNo) > tableFields.size())
        cursor.RaiseFieldError(codes::kInvalidFieldDefinition, field.FieldName);
      const std::string name = field.FieldName;
      field = tableFields[static_cast<std::size_t>(definition.TableFieldNo - 1)];
      if (!name.empty()) field.FieldName = name;
    } else {
      // A BLOB reference would name blocks of no BLOB file; strings and bytes take 1..250.
      const bool sized = field.FieldType == kFieldTypeString ||
                         field.FieldType == kFieldTypeBytes ||
                         field.FieldType == kFieldTypeVarBytes;
      if (field.FieldType == kFieldTypeBlob || (sized && field.FieldSize == 0))
        cursor.RaiseFieldError(codes::kInvalidFieldDefinition, field.FieldName);
      RecomputePhysicalSize(field);
      field.Computed = true;
      field.FieldOffset = static_cast<std::uint16_t>(std::min<std::size_t>(recordSize, 0xFFFF));
      recordSize += 1 + field.PhysicalSize;
    }
    field.FieldNo = static_cast<std::uint16_t>(fields.size() + 1);
    fields.push_back(std::move(field));
    if (!FieldNameIsSound(fields, fields.size() - 1))
      cursor.RaiseFieldError(codes::kInvalidFieldName, fields.back().FieldName);
    if (definition.TableFieldNo == 0 && !FieldDefinitionIsSound(fields, fields.size() - 1))
      cursor.RaiseFieldError(codes::kInvalidFieldDefinition, fields.back().FieldName);
  }
  return fields;
}

// The cursor's entries of the laid-out list: table fields named by their origin.
std::vector<TCursorField> CursorFieldsOf(std::span<const TCursorFieldDefinition> definitions,
                                         std::vector<TFieldDescriptor> fields,
                                         std::span<const TFieldDescriptor> tableFields,
                                         const std::string& tableName, const std::string& origin) {
  std::vector<TCursorField> list;
  list.reserve(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TCursorField entry;
    entry.Calculated = definitions[i].TableFieldNo == 0;
    if (entry.Calculated) {
      entry.Expression = definitions[i].Expression;
    } else {
      const TFieldDescriptor& base =
          tableFields[static_cast<std::size_t>(definitions[i].TableFieldNo - 1)];
      entry.QualifiedName = (tableName + "." + base.FieldName).substr(0, kMaxQualifiedFieldName);
      entry.Origin = origin;
    }
    entry.Descriptor = std::move(fields[i]);
    list.push_back(std::move(entry));
  }
  return list;
}

}  // namespace

TTableLocale TDataCursor::Locale() const {
  RequireOpen();
  const TDataFile& data = FTable->Data();
  return TTableLocale{static_cast<std::uint16_t>(data.LanguageId()),
                      static_cast<std::uint16_t>(data.SortId())};
}

void TDataCursor::SetCalculatedFields(std::span<const TCursorFieldDefinition> definitions,
                                      std::unique_ptr<TCalculatedFieldEvaluator> evaluator) {
  RequireOpen();
  if (definitions.size() > kMaxCursorFields) Raise(codes::kFieldLimits);
  const TDataFile& data = FTable->Data();
  std::size_t recordSize = data.RecordSize();
  std::vector<TFieldDescriptor> fields =
      LayOutFieldList(*this, definitions, data.Descriptors(), recordSize);
  if (recordSize > kMaxStorableRecordSize) Raise(codes::kRecordSizeExceeded);
  if (evaluator) evaluator->Prepare(*this, fields, definitions);
  std::vector<TCursorField> list =
      CursorFieldsOf(definitions, std::move(fields), data.Descriptors(), FTable->TableName(),
                     FDirectory.IsInMemory() ? FDirectory.DatabaseName() : FDirectory.Path());

  // The current record's values are computed on a copy before the new list is kept: a failed
  // evaluation leaves the old list and record in place.
  std::vector<std::uint8_t> record(recordSize, 0);
  std::copy_n(FRecord.begin(), std::min<std::size_t>(data.RecordSize(), FRecord.size()),
              record.begin());
  std::swap(FFields, list);
  std::swap(FEvaluator, evaluator);
  const std::uint16_t oldSize = FRecordSize;
  FRecordSize = static_cast<std::uint16_t>(recordSize);
  try {
    if (RecordNoOrNextFree(record) > 0) EvaluateCalculatedFields(record);
  } catch (...) {
    std::swap(FFields, list);
    std::swap(FEvaluator, evaluator);
    FRecordSize = oldSize;
    throw;
  }
  FFieldDefinitions.assign(definitions.begin(), definitions.end());
  FRecord = std::move(record);
}

void TDataCursor::ForgetCalculatedFields() {
  FFieldDefinitions.clear();
  FEvaluator.reset();
}

void TDataCursor::CloneCalculatedFields(TDataCursor& clone) const {
  if (FFieldDefinitions.empty()) return;
  clone.SetCalculatedFields(FFieldDefinitions, FEvaluator ? FEvaluator->NewInstance() : nullptr);
}

void TDataCursor::EvaluateCalculatedFields(std::span<std::uint8_t> record) const {
  if (!FEvaluator || FEvaluating || record.size() < FRecordSize) return;
  FEvaluating = true;
  struct TGuard {
    bool& Flag;
    ~TGuard() { Flag = false; }
  } guard{FEvaluating};
  const TTableLocale locale = Locale();
  std::vector<std::uint8_t> value;
  for (const TCursorField& field : FFields) {
    if (!field.Calculated || field.Expression.empty()) continue;
    const TFieldDescriptor& descriptor = field.Descriptor;
    value.assign(static_cast<std::size_t>(descriptor.PhysicalSize) + 1, 0);
    const bool present =
        FEvaluator->Evaluate(*this, descriptor.FieldNo, record,
                             std::span<std::uint8_t>(value.data(), descriptor.PhysicalSize));
    kura::SetField(record, descriptor, present ? value.data() : nullptr, true, locale);
  }
}

bool TDataCursor::TakeRecordImage(std::span<const std::uint8_t> image) {
  const bool calculated = FEvaluator != nullptr;
  std::vector<std::uint8_t>& target = calculated ? FTakenRecord : FRecord;
  if (calculated) target.resize(FRecord.size());
  const std::size_t taken = std::min(image.size(), target.size());
  std::copy_n(image.begin(), taken, target.begin());
  // Slots of calculated fields without an expression start NULL for every record.
  std::fill(target.begin() + static_cast<std::ptrdiff_t>(taken), target.end(), std::uint8_t{0});
  return calculated;
}

void TDataCursor::CalculateTakenRecord() {
  EvaluateCalculatedFields(FTakenRecord);
  FRecord.swap(FTakenRecord);
}

bool TDataCursor::ReadStoredBlob(const TFieldDescriptor& field,
                                 std::span<const std::uint8_t> record, std::string& value) const {
  RequireOpen();
  value.clear();
  if (field.FieldType != kFieldTypeBlob || field.Computed) return false;
  const std::size_t offset = field.FieldOffset;
  if (offset + 1 + 2 * kBlobFirstBlockSize > record.size() || record[offset] == 0) return false;
  const std::int32_t firstBlock = GetI32LE(record.data() + offset + 1);
  // A negative value is the handle of a BLOB buffer open on the record: its contents, as
  // being edited, are the value.
  if (firstBlock < 0) {
    const TCursorBlob* open = FBlobs ? FBlobs->Find(firstBlock) : nullptr;
    if (open == nullptr || open->Buffer.FieldNo != field.FieldNo) return false;
    value.assign(open->Buffer.Data.begin(), open->Buffer.Data.end());
    return true;
  }
  if (firstBlock == 0 || !FTable->HasBlobFields() || !FTable->Blob().IsOpen()) return false;
  TBlobBuffer buffer;
  buffer.FieldNo = field.FieldNo;
  buffer.FirstBlock = firstBlock;
  buffer.BlobChange = GetI32LE(record.data() + offset + 1 + kBlobFirstBlockSize);
  // Outside a navigation step that holds it, the read lock keeps a writer of another process
  // from changing the chain half-way through the read. A step that has not taken it yet (lazy
  // change detection) and now sees a change runs again from its record's key, as it does
  // when a page read sees one.
  const bool lock = ChecksChanges() && !FTable->ReadLocked();
  if (lock && FTable->AcquireReadLock() && FReadDepth > 0) {
    if (FTable->ReadLocked()) FTable->ReleaseReadLock();
    throw TReadSawChange{};
  }
  try {
    FTable->Blob().ReadBlob(buffer);
  } catch (...) {
    if (lock && FTable->ReadLocked()) FTable->ReleaseReadLock();
    throw;
  }
  if (lock && FTable->ReadLocked()) FTable->ReleaseReadLock();
  value.assign(buffer.Data.begin(), buffer.Data.end());
  return true;
}

}  // namespace kura
