// Binding parameter values to the parameter nodes of a parsed statement.
//
// Parameter slot in the caller's record buffer, at the descriptor's offset:
//
//   OFFSET  SIZE            DESCRIPTION
//        0     1            null indicator: 1 value present, 0 NULL
//        1     stored size  the value as a record slot holds it (strings zero-terminated)
//
// BLOB parameters (type 3) hold a reference to the caller's bytes instead:
//
//        1     4            length in bytes (little-endian, unsigned)
//        5     pointer      address of the bytes
#include <cstring>
#include <limits>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "sql/query_statement.h"
#include "storage/field_types.h"
#include "storage/little_endian.h"

namespace kura {

namespace {

[[noreturn]] void FailParams(const std::string& message) {
  RaiseEngineError(codes::kSqlError, {}, {}, {}, {}, {}, {}, message);
}

bool SlotFits(std::size_t offset, std::size_t size, std::size_t bufferSize) {
  return offset < bufferSize && size <= bufferSize - offset - 1;
}

void BindBlob(TExpToken& node, const std::uint8_t* slot, std::size_t available, int index) {
  if (available < 4 + sizeof(const void*)) {
    FailParams("Parameter " + std::to_string(index + 1) + " lies outside the parameter record");
  }
  std::uint32_t length = GetU32LE(slot);
  const std::uint8_t* bytes = nullptr;
  std::memcpy(&bytes, slot + 4, sizeof bytes);
  if (length > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max() - 1) ||
      (length > 0 && bytes == nullptr)) {
    FailParams("Invalid BLOB value for parameter " + std::to_string(index + 1));
  }
  bool memo = node.FSubType == kSubTypeMemo;
  std::size_t size = length + (memo ? 1 : 0);
  std::uint8_t* data = node.Reserve(size + 1);
  if (length > 0) std::memcpy(data, bytes, length);
  data[length] = 0;
  node.FDataSize = static_cast<std::int32_t>(size);
}

}  // namespace

void TQueryStatement::SetParams(int count, const TFieldDescriptor* descriptors,
                                const std::uint8_t* buffer, std::size_t bufferSize) {
  if (count != static_cast<int>(FParams.size())) {
    FailParams("The number of parameter values (" + std::to_string(count) +
               ") does not match the number of parameters (" + std::to_string(FParams.size()) +
               ")");
  }
  for (int i = 0; i < count; ++i) {
    const TFieldDescriptor& field = descriptors[i];
    TExpToken& node = *FParams[i];
    bool blob = field.FieldType == kFieldTypeBlob;
    std::size_t stored = blob ? 0 : field.PhysicalSize;
    if (!SlotFits(field.FieldOffset, stored, bufferSize)) {
      FailParams("Parameter " + std::to_string(i + 1) + " lies outside the parameter record");
    }
    const std::uint8_t* slot = buffer + field.FieldOffset;
    node.FDataType = field.FieldType;
    node.FSubType = field.FieldSubType;
    node.FScale = field.FieldDecimals;
    node.FIsNull = slot[0] == 0 ? 1 : 0;
    if (node.FIsNull) {
      node.FDataSize = static_cast<std::int32_t>(stored);
      node.ZeroValue(node.FData.size());
    } else if (blob) {
      BindBlob(node, slot + 1, bufferSize - field.FieldOffset - 1, i);
    } else {
      std::uint8_t* data = node.Reserve(stored + 1);
      std::memcpy(data, slot + 1, stored);
      // A string slot always ends in a zero, whatever the caller left in it.
      data[stored] = 0;
      if (field.FieldType == kFieldTypeString && stored > 0) data[stored - 1] = 0;
      node.FDataSize = static_cast<std::int32_t>(stored);
    }
  }
}

}  // namespace kura
