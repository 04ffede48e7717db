// Keeping the text index in step with the records; see text_index_upkeep.h.
#include "engine/text_index_upkeep.h"

#include <algorithm>
#include <array>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/cursor_blobs.h"
#include "engine/data_table.h"
#include "storage/field_types.h"
#include "storage/index_key.h"
#include "storage/record_image.h"

namespace kura {
namespace {

using TTextKey = std::array<std::uint8_t, kSysTextKeyLength>;

// Where the word lies in a text key: after the 1 and the field number.
constexpr std::size_t kTextWordOffset = 1 + 2;

TTableLocale LocaleOf(TDataTable& table) {
  return TTableLocale{static_cast<std::uint16_t>(table.Data().LanguageId()),
                      static_cast<std::uint16_t>(table.Data().SortId())};
}

bool IsMemoField(const TFieldDescriptor& field) {
  return field.FieldType == kFieldTypeBlob &&
         (field.FieldSubType == kSubTypeMemo || field.FieldSubType == kSubTypeFormattedMemo);
}

// The text of a string field: its characters up to the terminating zero.
std::string StringText(const TFieldDescriptor& field, std::span<const std::uint8_t> record) {
  std::vector<std::uint8_t> value(field.PhysicalSize, 0);
  if (GetField(record, field, value)) return {};
  const auto end = std::find(value.begin(), value.end(), std::uint8_t{0});
  return std::string(value.begin(), end);
}

// The text of a memo field: an open buffer of the record buffer, else the stored value.
std::string MemoText(TDataTable& table, const TFieldDescriptor& field,
                     std::span<const std::uint8_t> record, const TCursorBlobs* blobs) {
  const std::int32_t slotValue = BlobSlotFirstBlock(field, record);
  if (slotValue < 0) {
    const TCursorBlob* blob = blobs != nullptr ? blobs->Find(slotValue) : nullptr;
    if (blob == nullptr || blob->Buffer.FieldNo != field.FieldNo)
      RaiseTableError(codes::kBlobBuffersCorrupt, table.TableName());
    return std::string(blob->Buffer.Data.begin(), blob->Buffer.Data.end());
  }
  if (slotValue == 0) return {};
  TBlobBuffer stored;
  stored.FieldNo = field.FieldNo;
  stored.FirstBlock = slotValue;
  stored.BlobChange = BlobSlotChange(field, record);
  table.Blob().ReadBlob(stored);
  return std::string(stored.Data.begin(), stored.Data.end());
}

// The word of a key as the index holds it (upper-cased, at most 60 characters).
std::string KeyWord(const TTextKey& key) {
  const auto* word = key.data() + kTextWordOffset;
  const auto* end = std::find(word, word + kTextWordSize, std::uint8_t{0});
  return std::string(word, end);
}

TTextKey TextKey(std::uint16_t fieldNo, std::string_view word, std::int32_t rowId,
                 TTableLocale locale) {
  TTextKey key{};
  BuildTextKey(fieldNo, word, rowId, locale, key);
  return key;
}

void AddKeys(TDataTable& table, const TRecordWords& words, std::int32_t rowId,
             std::int32_t recordNo) {
  const TTableLocale locale = LocaleOf(table);
  TIndexTree tree = table.Index().Tree(kSysTextSlot);
  for (const auto& [fieldNo, fieldWords] : words) {
    for (const std::string& word : fieldWords) {
      const TTextKey key = TextKey(fieldNo, word, rowId, locale);
      // A key that is there already (left by a damaged earlier change) is what we want.
      tree.Insert(key.data(), recordNo);
    }
  }
}

void RemoveKeys(TDataTable& table, const TRecordWords& words, std::int32_t rowId) {
  const TTableLocale locale = LocaleOf(table);
  TIndexTree tree = table.Index().Tree(kSysTextSlot);
  for (const auto& [fieldNo, fieldWords] : words) {
    for (const std::string& word : fieldWords) {
      const TTextKey key = TextKey(fieldNo, word, rowId, locale);
      if (!tree.Delete(key.data()))
        RaiseEngineError(codes::kIndexPagesCorrupt, {}, {}, {}, table.TableName(), {},
                         kSysTextName);
    }
  }
}

// The words of `from` that `other` lacks, field by field.
TRecordWords WordsMissingFrom(const TRecordWords& from, const TRecordWords& other) {
  TRecordWords missing;
  for (const auto& [fieldNo, fieldWords] : from) {
    const auto found = other.find(fieldNo);
    for (const std::string& word : fieldWords) {
      if (found == other.end() || !found->second.contains(word)) missing[fieldNo].insert(word);
    }
  }
  return missing;
}

}  // namespace

std::vector<TFieldDescriptor> TextIndexFields(TDataTable& table) {
  const TIndexDescriptor d = table.Index().ReadIndexDescriptor(kSysTextSlot);
  const std::span<const TFieldDescriptor> tableFields = table.Data().Descriptors();
  std::vector<TFieldDescriptor> fields;
  for (int i = 0; i < d.KeyFieldCount && i < kMaxKeyFields; ++i) {
    const std::uint16_t number = d.KeyFields[static_cast<std::size_t>(i)];
    if (number == 0 || number > tableFields.size())
      RaiseTableError(codes::kHeaderCorrupt, table.TableName());
    const TFieldDescriptor& field = tableFields[number - 1];
    if (field.FieldType != kFieldTypeString && !IsMemoField(field))
      RaiseTableError(codes::kHeaderCorrupt, table.TableName());
    fields.push_back(field);
  }
  return fields;
}

TRecordWords RecordWords(TDataTable& table, const TTextIndexParams& params,
                         std::span<const std::uint8_t> record, const TCursorBlobs* blobs) {
  const TTableLocale locale = LocaleOf(table);
  TRecordWords words;
  for (const TFieldDescriptor& field : TextIndexFields(table)) {
    const std::string text = field.FieldType == kFieldTypeString
                                 ? StringText(field, record)
                                 : MemoText(table, field, record, blobs);
    for (const std::string& word : TextIndexWords(text, params, locale)) {
      // The key's own form of the word (upper-cased, cut), so that words the index cannot
      // tell apart count once.
      words[field.FieldNo].insert(KeyWord(TextKey(field.FieldNo, word, 0, locale)));
    }
  }
  return words;
}

void AddRecordWords(TDataTable& table, const TTextIndexParams& params,
                    std::span<const std::uint8_t> record, std::int32_t recordNo,
                    const TCursorBlobs* blobs) {
  AddKeys(table, RecordWords(table, params, record, blobs), RowId(record), recordNo);
}

void RemoveRecordWords(TDataTable& table, const TTextIndexParams& params,
                       std::span<const std::uint8_t> storedRecord) {
  RemoveKeys(table, RecordWords(table, params, storedRecord, nullptr), RowId(storedRecord));
}

void UpdateRecordWords(TDataTable& table, const TTextIndexParams& params,
                       std::span<const std::uint8_t> oldRecord,
                       std::span<const std::uint8_t> newRecord, std::int32_t recordNo,
                       const TCursorBlobs* blobs) {
  if (TextIndexFields(table).empty()) return;
  const TRecordWords oldWords = RecordWords(table, params, oldRecord, nullptr);
  const TRecordWords newWords = RecordWords(table, params, newRecord, blobs);
  const std::int32_t oldRowId = RowId(oldRecord);
  const std::int32_t newRowId = RowId(newRecord);
  const TTextIndexChange change = TextIndexChange(oldWords, newWords, oldRowId != newRowId);
  RemoveKeys(table, change.Removed, oldRowId);
  AddKeys(table, change.Added, newRowId, recordNo);
}

void ApplyTextIndexChange(TDataTable& table, const TTextIndexChange& change, std::int32_t oldRowId,
                          std::int32_t newRowId, std::int32_t recordNo) {
  RemoveKeys(table, change.Removed, oldRowId);
  AddKeys(table, change.Added, newRowId, recordNo);
}

TTextIndexChange TextIndexChange(const TRecordWords& oldWords, const TRecordWords& newWords,
                                 bool rowIdChanged) {
  if (rowIdChanged) return {oldWords, newWords};
  return {WordsMissingFrom(oldWords, newWords), WordsMissingFrom(newWords, oldWords)};
}

}  // namespace kura
