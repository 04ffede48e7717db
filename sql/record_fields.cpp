#include "sql/record_fields.h"

#include <cstring>

#include "sql/expression_values.h"
#include "storage/ascii_case.h"
#include "storage/field_types.h"
#include "storage/record_image.h"

namespace kura {

TRecordFields::TRecordFields(std::span<const TFieldDescriptor> fields, std::size_t recordSize)
    : FFields(fields), FRecordSize(recordSize) {}

void SetColumnType(TExpToken& node, const TFieldDescriptor& field) {
  node.FFieldNo = field.FieldNo;
  node.FDataType = field.FieldType;
  node.FSubType = field.FieldSubType;
  node.FScale = field.FieldDecimals;
  // A BLOB column's node holds a reference of 8 bytes until its value is read.
  node.FDataSize =
      field.FieldType == kFieldTypeBlob ? 8 : StoredSize(field.FieldType, field.FieldSize);
}

bool TRecordFields::ResolveColumn(TExpToken& node) {
  for (const TFieldDescriptor& field : FFields) {
    if (!EqualsIgnoringAsciiCase(field.FieldName, node.FColumnName)) continue;
    SetColumnType(node, field);
    node.FSourceTable = this;
    return true;
  }
  return false;
}

void TRecordFields::FetchColumn(const void* record, TExpToken& node) {
  // Fields are numbered 1..n in order, so the number finds the descriptor directly.
  const TFieldDescriptor* field = nullptr;
  std::size_t index = static_cast<std::size_t>(node.FFieldNo) - 1;
  if (node.FFieldNo > 0 && index < FFields.size() && FFields[index].FieldNo == node.FFieldNo) {
    field = &FFields[index];
  }
  if (field == nullptr || record == nullptr) {
    SetNullValue(node);
    return;
  }
  std::span<const std::uint8_t> image(static_cast<const std::uint8_t*>(record), FRecordSize);
  if (field->FieldType == kFieldTypeBlob) {
    std::string value;
    bool present =
        !GetField(image, *field) && FBlobReader && FBlobReader(image.data(), *field, value);
    std::uint8_t* data = node.Reserve(value.size() + 1);
    std::memcpy(data, value.data(), value.size());
    data[value.size()] = 0;
    node.FDataSize =
        static_cast<std::int32_t>(value.size() + (field->FieldSubType == kSubTypeMemo ? 1 : 0));
    node.FIsNull = present && !value.empty() ? 0 : 1;
    return;
  }
  std::size_t size = field->PhysicalSize;
  std::uint8_t* data = node.Reserve(size + 1);
  bool isNull = GetField(image, *field, std::span<std::uint8_t>(data, size));
  data[size] = 0;
  node.FIsNull = isNull ? 1 : 0;
  if (field->FieldType == kFieldTypeString) {
    node.FDataSize = static_cast<std::int32_t>(strnlen(node.Chars(), size) + 1);
  } else {
    node.FDataSize = static_cast<std::int32_t>(size);
  }
}

}  // namespace kura
