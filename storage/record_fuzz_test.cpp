// Damaged field descriptors and record images, as a corrupt or hostile data file would hand
// them over: decoding and reading them gives an engine error (or, for a value that has no
// text form, a conversion error), never a crash or a read outside the buffers.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "base/engine_error.h"
#include "storage/field_descriptor.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/record_image.h"

namespace kura {
namespace {

// Type codes the engine knows, plus a few it does not.
constexpr std::uint8_t kTypes[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,
                                   10, 11, 12, 13, 14, 15, 16, 18, 255};
// Sub-types that change how a field is treated.
constexpr std::uint8_t kSubTypes[] = {0, 21, 22, 26, 29, 31, 32, 200};

class TRandomBytes {
 public:
  explicit TRandomBytes(std::uint32_t seed) : FEngine(seed) {}

  std::uint8_t Byte() { return static_cast<std::uint8_t>(FEngine() & 0xFF); }
  std::size_t Below(std::size_t limit) { return FEngine() % limit; }
  bool OneIn(std::size_t n) { return Below(n) == 0; }
  void Fill(std::span<std::uint8_t> bytes) {
    for (std::uint8_t& b : bytes) b = Byte();
  }

 private:
  std::mt19937 FEngine;
};

// 768 random bytes, with the type, sub-type, sizes and offset steered towards the values
// that matter often enough that every branch of the decoders is reached.
std::array<std::uint8_t, kFieldDescriptorSize> HostileDescriptorBytes(TRandomBytes& random,
                                                                      std::size_t recordSize) {
  std::array<std::uint8_t, kFieldDescriptorSize> bytes;
  random.Fill(bytes);
  if (!random.OneIn(4)) bytes[84] = kTypes[random.Below(std::size(kTypes))];
  if (!random.OneIn(4)) bytes[85] = kSubTypes[random.Below(std::size(kSubTypes))];
  if (!random.OneIn(4)) {
    // An offset near the end of the record, or inside its header.
    const std::size_t offset = random.OneIn(2) ? random.Below(12) : recordSize - random.Below(40);
    bytes[90] = static_cast<std::uint8_t>(offset & 0xFF);
    bytes[91] = static_cast<std::uint8_t>(offset >> 8);
  }
  return bytes;
}

// Runs every reading and writing operation on the field; answers whether one raised an
// engine error. Any other exception, a crash or a sanitizer report fails the test.
bool ExerciseField(std::vector<std::uint8_t>& record, const TFieldDescriptor& field,
                   TRandomBytes& random) {
  bool raised = false;
  // Large enough for any stored size a descriptor can give (a declared size of 255 + 1).
  std::vector<std::uint8_t> value(300);
  try {
    const bool isNull = GetField(record, field, value);
    if (!isNull) {
      try {
        (void)ValueToText(field.FieldType, std::span(value).first(field.PhysicalSize),
                          random.OneIn(2));
      } catch (const EConvertError&) {
        // A value without a text form: reported, not misread.
      }
    }
  } catch (const EKuraEngineError&) {
    raised = true;
  }
  std::vector<std::uint8_t> given(300);
  random.Fill(given);
  given.back() = 0;  // strings are zero-terminated somewhere within the buffer
  const TTableLocale locale{static_cast<std::uint16_t>(random.OneIn(2) ? 0 : 0x0407),
                            static_cast<std::uint16_t>(random.Below(3))};
  try {
    SetField(record, field, random.OneIn(5) ? nullptr : given.data(), random.OneIn(2), locale);
  } catch (const EKuraEngineError&) {
    raised = true;
  }
  return raised;
}

TEST(HostileRecordTest, DamagedDescriptorsAndRecordsRaiseEngineErrorsOnly) {
  TRandomBytes random(20240305);
  int raised = 0;
  for (int round = 0; round < 4000; ++round) {
    const std::size_t recordSize = random.OneIn(10) ? random.Below(9) : 9 + random.Below(400);
    std::vector<std::uint8_t> record(recordSize);
    random.Fill(record);
    const auto bytes = HostileDescriptorBytes(random, recordSize);
    const TFieldDescriptor field = DecodeFieldDescriptor(bytes);
    EXPECT_EQ(field.PhysicalSize, StoredSize(field.FieldType, field.FieldSize));
    EXPECT_LE(field.FieldName.size(), kMaxFieldNameLength);
    EXPECT_LE(field.DefaultValue.size(), kMaxFieldValueTextLength);
    if (ExerciseField(record, field, random)) ++raised;
    std::vector<TFieldDescriptor> fields{field};
    (void)RecordInvariantViolation(record, fields);
    try {
      (void)IsDeleted(record);
      (void)RowId(record);
    } catch (const EKuraEngineError&) {
      ++raised;
    }
  }
  // The steering above puts many slots outside their records: those must have been refused.
  EXPECT_GT(raised, 0);
}

TEST(HostileRecordTest, DamagedValuesOfEveryTypeConvertOrRaise) {
  TRandomBytes random(7);
  for (int round = 0; round < 20000; ++round) {
    const std::uint8_t type = kTypes[random.Below(std::size(kTypes))];
    // Mostly the type's own stored size, sometimes a short or odd one.
    const int stored = StoredSize(type, static_cast<int>(random.Below(20)));
    std::vector<std::uint8_t> value(random.OneIn(4) ? random.Below(40)
                                                    : static_cast<std::size_t>(stored));
    random.Fill(value);
    if (type == kFieldTypeBcd && !value.empty() && random.OneIn(2)) value[0] %= 70;
    try {
      (void)ValueToText(type, value, random.OneIn(2));
    } catch (const EConvertError&) {
    }
  }
}

}  // namespace
}  // namespace kura
