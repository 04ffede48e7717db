// Calculated fields of cursors, driven by a small evaluator written here: the slots after the
// table's record, evaluation after every read and every SetField of a table field, the guard
// against re-entry, the refusals of unsound field lists, and the table's files left alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "engine/calculated_fields.h"
#include "engine/cursor_test_support.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_table.h"
#include "engine/table_test_support.h"
#include "storage/blob_file.h"
#include "storage/field_types.h"
#include "storage/file_test_support.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

using testing::IdOf;
using testing::InsertRow;
using testing::NameOf;
using testing::RaisedCode;
using testing::RowImage;
using testing::RowsTable;
using testing::SmallTable;
using testing::StoreBlob;
using testing::TEngineSandbox;
using testing::TScratchFolder;

using TBuffer = std::vector<std::uint8_t>;

TCursorFieldDefinition TableField(int number, const std::string& name = {}) {
  TCursorFieldDefinition definition;
  definition.TableFieldNo = number;
  definition.Descriptor.FieldName = name;
  return definition;
}

TCursorFieldDefinition Calculated(const std::string& name, std::uint8_t type,
                                  const std::string& expression, std::uint8_t size = 0) {
  TCursorFieldDefinition definition;
  definition.Descriptor = MakeFieldDescriptor(name, type, size);
  definition.Expression = expression;
  return definition;
}

std::int32_t IntOf(const TDataCursor& cursor, std::span<const std::uint8_t> record, int fieldNo,
                   bool* isNull = nullptr) {
  std::uint8_t value[4] = {};
  const bool null = GetField(record, cursor.GetFieldDesc(fieldNo).Descriptor, value);
  if (isNull != nullptr) *isNull = null;
  return GetI32LE(value);
}

std::string TextOf(const TDataCursor& cursor, std::span<const std::uint8_t> record, int fieldNo) {
  const TFieldDescriptor& field = cursor.GetFieldDesc(fieldNo).Descriptor;
  std::vector<std::uint8_t> value(static_cast<std::size_t>(field.PhysicalSize) + 1, 0);
  GetField(record, field, value);
  return std::string(reinterpret_cast<const char*>(value.data()));
}

// Knows a few "expressions" by name:
//   twice     ID * 2 (NULL when ID is negative)
//   plus1     the field before this one + 1 (shows the order of evaluation)
//   tagged    NAME followed by "!"
//   touch     sets ID of the record through the cursor while evaluating, then answers 7
//   memo      the length of the stored text of field 3
// Every call is counted per field number.
class TFakeEvaluator : public TCalculatedFieldEvaluator {
 public:
  explicit TFakeEvaluator(std::shared_ptr<std::map<int, int>> calls = nullptr)
      : FCalls(calls ? std::move(calls) : std::make_shared<std::map<int, int>>()) {}

  std::shared_ptr<std::map<int, int>> Calls() const { return FCalls; }

  void Prepare(const TDataCursor&, std::span<const TFieldDescriptor> fields,
               std::span<const TCursorFieldDefinition> definitions) override {
    FExpressions.clear();
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const std::string& expression = definitions[i].Expression;
      if (expression == "refused") RaiseEngineError(codes::kInvalidValidityCheck);
      FExpressions[fields[i].FieldNo] = expression;
    }
  }

  bool Evaluate(const TDataCursor& cursor, int fieldNo, std::span<const std::uint8_t> record,
                std::span<std::uint8_t> value) override {
    ++(*FCalls)[fieldNo];
    const std::string& expression = FExpressions.at(fieldNo);
    if (expression == "twice") {
      const std::int32_t id = IntOf(cursor, record, 1);
      if (id < 0) return false;
      PutI32LE(value.data(), id * 2);
    } else if (expression == "plus1") {
      bool null = false;
      const std::int32_t before = IntOf(cursor, record, fieldNo - 1, &null);
      if (null) return false;
      PutI32LE(value.data(), before + 1);
    } else if (expression == "tagged") {
      const std::string text = NameOf(cursor, record) + "!";
      std::copy_n(text.begin(), std::min(text.size(), value.size()), value.begin());
    } else if (expression == "touch") {
      std::uint8_t id[4];
      PutI32LE(id, 99);
      TBuffer copy(record.begin(), record.end());
      cursor.SetField(1, copy, id);
      PutI32LE(value.data(), 7);
    } else if (expression == "fails on 3") {
      if (IntOf(cursor, record, 1) == 3) RaiseEngineError(codes::kOutOfMemory);
      PutI32LE(value.data(), 1);
    } else if (expression == "memo") {
      std::string text;
      if (!cursor.ReadStoredBlob(cursor.GetFieldDesc(3).Descriptor, record, text)) return false;
      PutI32LE(value.data(), static_cast<std::int32_t>(text.size()));
    }
    return true;
  }

  std::unique_ptr<TCalculatedFieldEvaluator> NewInstance() const override {
    return std::make_unique<TFakeEvaluator>(FCalls);
  }

 private:
  std::shared_ptr<std::map<int, int>> FCalls;
  std::map<int, std::string> FExpressions;
};

class CalculatedFieldsTest : public ::testing::Test {
 protected:
  void SetUp() override { sandbox = std::make_unique<TEngineSandbox>(folder.Path()); }

  std::unique_ptr<TDataCursor> OpenRows(const std::string& letters) {
    TDataDirectory& directory = sandbox->Directory();
    directory.CloseTable(directory.CreateTable("T", false, RowsTable(), false));
    auto cursor = std::make_unique<TDataCursor>(directory);
    cursor->SetTableName("T");
    cursor->Open();
    std::int32_t id = 1;
    for (char letter : letters) InsertRow(*cursor->Table(), id++, std::string(1, letter));
    return cursor;
  }

  // ID, NAME, DOUBLED = twice, NEXT = plus1, TAG = tagged (CHAR(4)).
  static std::shared_ptr<std::map<int, int>> InstallStandard(TDataCursor& cursor) {
    auto evaluator = std::make_unique<TFakeEvaluator>();
    auto calls = evaluator->Calls();
    const std::vector<TCursorFieldDefinition> fields = {
        TableField(1), TableField(2), Calculated("DOUBLED", kFieldTypeInteger, "twice"),
        Calculated("NEXT", kFieldTypeInteger, "plus1"),
        Calculated("TAG", kFieldTypeString, "tagged", 4)};
    cursor.SetCalculatedFields(fields, std::move(evaluator));
    return calls;
  }

  // The calculated slots of a buffer agree with its table fields.
  static void ExpectStandardValues(const TDataCursor& cursor,
                                   std::span<const std::uint8_t> record) {
    const std::int32_t id = IdOf(cursor, record);
    EXPECT_EQ(IntOf(cursor, record, 3), id * 2);
    EXPECT_EQ(IntOf(cursor, record, 4), id * 2 + 1);
    EXPECT_EQ(TextOf(cursor, record, 5), (NameOf(cursor, record) + "!").substr(0, 4));
  }

  std::map<std::string, std::string> FileBytes() const {
    std::map<std::string, std::string> bytes;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
      std::ifstream in(entry.path(), std::ios::binary);
      bytes[entry.path().filename().string()] =
          std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return bytes;
  }

  // Table M (ID, NAME, memo NOTE) with a record per text (an empty text stores no memo),
  // under ID, NAME, NOTE and LEN = the memo's length.
  std::unique_ptr<TDataCursor> OpenMemoTable(const std::vector<std::string>& notes) {
    TDataDirectory& directory = sandbox->Directory();
    directory.CloseTable(directory.CreateTable("M", false, SmallTable(true), false));
    auto cursor = std::make_unique<TDataCursor>(directory);
    cursor->SetTableName("M");
    cursor->Open();
    testing::AppendRecords(*cursor->Table(), static_cast<int>(notes.size()));
    for (std::size_t i = 0; i < notes.size(); ++i) {
      if (!notes[i].empty())
        StoreBlob(*cursor->Table(), static_cast<std::int32_t>(i + 1), 3, notes[i]);
    }
    cursor->SetCalculatedFields(
        std::vector<TCursorFieldDefinition>{TableField(1), TableField(2), TableField(3),
                                            Calculated("LEN", kFieldTypeInteger, "memo")},
        std::make_unique<TFakeEvaluator>());
    return cursor;
  }

  TScratchFolder folder;
  std::unique_ptr<TEngineSandbox> sandbox;
};

TEST_F(CalculatedFieldsTest, SlotsFollowTheTableRecordAndRecordSizeGrows) {
  auto cursor = OpenRows("ab");
  const std::uint16_t tableSize = cursor->RecordSize();
  InstallStandard(*cursor);
  ASSERT_EQ(cursor->FieldCount(), 5);
  EXPECT_EQ(cursor->GetFieldDesc(3).Descriptor.FieldOffset, tableSize);
  EXPECT_EQ(cursor->GetFieldDesc(4).Descriptor.FieldOffset, tableSize + 5);
  EXPECT_EQ(cursor->GetFieldDesc(5).Descriptor.FieldOffset, tableSize + 10);
  EXPECT_EQ(cursor->RecordSize(), tableSize + 10 + 1 + 5);
  EXPECT_TRUE(cursor->GetFieldDesc("doubled").Calculated);
  EXPECT_FALSE(cursor->GetFieldDesc("NAME").Calculated);
  EXPECT_EQ(cursor->GetFieldDesc("NAME").QualifiedName, "T.NAME");
  // Table fields keep their own slots.
  EXPECT_EQ(cursor->GetFieldDesc(2).Descriptor.FieldOffset,
            cursor->Table()->Data().DescriptorByNumber(2)->FieldOffset);
}

TEST_F(CalculatedFieldsTest, EveryKindOfReadFillsTheSlots) {
  auto cursor = OpenRows("abcd");
  InstallStandard(*cursor);
  const std::size_t size = cursor->RecordSize();
  TBuffer buffer(size, 0xEE);
  cursor->First();
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  EXPECT_EQ(NameOf(*cursor, buffer), "a");
  ExpectStandardValues(*cursor, buffer);
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  ASSERT_EQ(cursor->GetCurrentRecord(buffer), 0);
  EXPECT_EQ(NameOf(*cursor, buffer), "b");
  ExpectStandardValues(*cursor, buffer);
  cursor->Last();
  ASSERT_EQ(cursor->GetPriorRecord(buffer), 0);
  EXPECT_EQ(NameOf(*cursor, buffer), "d");
  ExpectStandardValues(*cursor, buffer);
  const TBuffer key = RowImage(*cursor, 0, "c");
  ASSERT_TRUE(cursor->FindKey(false, key, buffer, 0, false, 0));
  EXPECT_EQ(NameOf(*cursor, buffer), "c");
  ExpectStandardValues(*cursor, buffer);
  // The cursor's own record answers GetField for calculated fields too.
  std::uint8_t value[4] = {};
  EXPECT_FALSE(cursor->GetField(3, value));
  EXPECT_EQ(GetI32LE(value), 6);

  cursor->First();
  int count = 4;
  TBuffer many(4 * size, 0xEE);
  ASSERT_EQ(cursor->GetNextRecords(count, many), 0);
  ASSERT_EQ(count, 4);
  for (std::size_t i = 0; i < 4; ++i) {
    const std::span<const std::uint8_t> one(many.data() + i * size, size);
    EXPECT_EQ(IdOf(*cursor, one), static_cast<std::int32_t>(i + 1));
    ExpectStandardValues(*cursor, one);
  }
}

// Random walks in both orders: whatever moved the cursor, the buffer's calculated slots
// always match its table fields, and the cracks hand out zero buffers.
TEST_F(CalculatedFieldsTest, RandomWalksKeepTheSlotsInStepWithTheRecord) {
  auto cursor = OpenRows("qwertyuiopasdfghjklzxcvbnm");
  InstallStandard(*cursor);
  std::mt19937 random(1717);
  TBuffer buffer(cursor->RecordSize());
  for (int step = 0; step < 600; ++step) {
    std::uint16_t answer = 1;  // no record read
    switch (random() % 7) {
      case 0:
        cursor->First();
        break;
      case 1:
        cursor->Last();
        break;
      case 2:
        answer = cursor->GetPriorRecord(buffer);
        break;
      case 3:
        cursor->SetRecNo(1 + random() % 26);
        answer = cursor->GetCurrentRecord(buffer);
        break;
      case 4:
        cursor->SetIndexNo(random() % 2 == 0 ? 0 : 1);
        break;
      case 5: {
        const TBuffer key =
            RowImage(*cursor, 1 + random() % 26, std::string(1, 'a' + random() % 26));
        cursor->FindKey(false, key, buffer, 0, true, 0);
        answer = cursor->GetCurrentRecord(buffer);
        break;
      }
      default:
        answer = cursor->GetNextRecord(buffer);
        break;
    }
    if (answer != 0) continue;
    ASSERT_NE(IdOf(*cursor, buffer), 0) << "step " << step;
    ExpectStandardValues(*cursor, buffer);
    if (::testing::Test::HasFailure()) FAIL() << "step " << step;
  }
}

TEST_F(CalculatedFieldsTest, SetFieldOfATableFieldReevaluatesInFieldOrder) {
  auto cursor = OpenRows("a");
  auto calls = InstallStandard(*cursor);
  TBuffer buffer(cursor->RecordSize(), 0);
  std::uint8_t id[4];
  PutI32LE(id, 20);
  calls->clear();
  cursor->SetField(1, buffer, id);
  EXPECT_EQ(IntOf(*cursor, buffer, 3), 40);
  EXPECT_EQ(IntOf(*cursor, buffer, 4), 41);  // NEXT saw DOUBLED's fresh value
  EXPECT_EQ((*calls)[3], 1);
  EXPECT_EQ((*calls)[4], 1);
  cursor->SetField(2, buffer, "xyz");
  EXPECT_EQ(TextOf(*cursor, buffer, 5), "xyz!");

  // A NULL answer stores NULL: indicator and value bytes zero; the one after it is NULL too.
  PutI32LE(id, -5);
  cursor->SetField(1, buffer, id);
  bool null = false;
  EXPECT_EQ(IntOf(*cursor, buffer, 3, &null), 0);
  EXPECT_TRUE(null);
  IntOf(*cursor, buffer, 4, &null);
  EXPECT_TRUE(null);
  const std::size_t slot = cursor->GetFieldDesc(3).Descriptor.FieldOffset;
  for (std::size_t i = slot; i < slot + 5; ++i) EXPECT_EQ(buffer[i], 0) << i;

  // Setting a calculated field without force changes nothing and evaluates nothing.
  calls->clear();
  PutI32LE(id, 1234);
  cursor->SetField(3, buffer, id);
  EXPECT_EQ(IntOf(*cursor, buffer, 3, &null), 0);
  EXPECT_TRUE(calls->empty());
}

TEST_F(CalculatedFieldsTest, AnEvaluationThatSetsAFieldDoesNotEvaluateAgain) {
  auto cursor = OpenRows("ab");
  auto evaluator = std::make_unique<TFakeEvaluator>();
  auto calls = evaluator->Calls();
  cursor->SetCalculatedFields(
      std::vector<TCursorFieldDefinition>{TableField(1), TableField(2),
                                          Calculated("T", kFieldTypeInteger, "touch")},
      std::move(evaluator));
  TBuffer buffer(cursor->RecordSize());
  cursor->First();
  calls->clear();
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  EXPECT_EQ((*calls)[3], 1);
  EXPECT_EQ(IntOf(*cursor, buffer, 3), 7);
  EXPECT_EQ(IdOf(*cursor, buffer), 1);  // the evaluator wrote into its own copy
  // And the guard is down again afterwards.
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  EXPECT_EQ((*calls)[3], 2);
}

TEST_F(CalculatedFieldsTest, AFailedEvaluationLeavesTheCursorOnItsRecord) {
  auto cursor = OpenRows("abcd");
  cursor->SetCalculatedFields(
      std::vector<TCursorFieldDefinition>{TableField(1), TableField(2),
                                          Calculated("F", kFieldTypeInteger, "fails on 3")},
      std::make_unique<TFakeEvaluator>());
  TBuffer buffer(cursor->RecordSize());
  cursor->First();
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  EXPECT_EQ(RaisedCode([&] { cursor->GetNextRecord(buffer); }), codes::kOutOfMemory);
  EXPECT_EQ(IdOf(*cursor, cursor->Record()), 2);
  EXPECT_EQ(IntOf(*cursor, cursor->Record(), 3), 1);
  EXPECT_EQ(cursor->RecNo(), 2);
  ASSERT_EQ(cursor->GetPriorRecord(buffer), 0);
  EXPECT_EQ(NameOf(*cursor, buffer), "a");

  // Setting a list whose evaluation fails on the current record keeps the old list.
  const std::uint16_t size = cursor->RecordSize();
  cursor->SetCalculatedFields(std::vector<TCursorFieldDefinition>{TableField(1), TableField(2)},
                              nullptr);
  const TBuffer key = RowImage(*cursor, 0, "c");
  ASSERT_TRUE(cursor->FindKey(false, key, {}, 0, false, 0));
  EXPECT_EQ(
      RaisedCode([&] {
        cursor->SetCalculatedFields(
            std::vector<TCursorFieldDefinition>{TableField(1), TableField(2),
                                                Calculated("F", kFieldTypeInteger, "fails on 3"),
                                                Calculated("G", kFieldTypeInteger, "")},
            std::make_unique<TFakeEvaluator>());
      }),
      codes::kOutOfMemory);
  EXPECT_EQ(cursor->FieldCount(), 2);
  EXPECT_NE(cursor->RecordSize(), size);
  EXPECT_EQ(cursor->Record().size(), cursor->RecordSize());
  EXPECT_EQ(NameOf(*cursor, cursor->Record()), "c");
}

TEST_F(CalculatedFieldsTest, FieldsWithoutExpressionOrEvaluatorAreLeftToTheCaller) {
  auto cursor = OpenRows("a");
  cursor->SetCalculatedFields(
      std::vector<TCursorFieldDefinition>{TableField(1), TableField(2),
                                          Calculated("FREE", kFieldTypeInteger, "")},
      nullptr);
  TBuffer buffer(cursor->RecordSize());
  cursor->First();
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  bool null = false;
  IntOf(*cursor, buffer, 3, &null);
  EXPECT_TRUE(null);
  std::uint8_t value[4];
  PutI32LE(value, 5);
  SetField(buffer, cursor->GetFieldDesc(3).Descriptor, value, true, cursor->Locale());
  EXPECT_EQ(IntOf(*cursor, buffer, 3), 5);
  // The cursor's own record holds no value there.
  EXPECT_TRUE(cursor->GetField(3));
}

TEST_F(CalculatedFieldsTest, AProjectionRenamesAndReordersTableFields) {
  auto cursor = OpenRows("ab");
  cursor->SetCalculatedFields(
      std::vector<TCursorFieldDefinition>{TableField(2, "LABEL"),
                                          Calculated("DOUBLED", kFieldTypeInteger, "twice")},
      std::make_unique<TFakeEvaluator>());
  ASSERT_EQ(cursor->FieldCount(), 2);
  EXPECT_EQ(cursor->GetFieldDesc(1).Descriptor.FieldName, "LABEL");
  EXPECT_EQ(cursor->GetFieldDesc(1).Descriptor.FieldNo, 1);
  EXPECT_EQ(cursor->GetFieldDesc(1).QualifiedName, "T.NAME");
  TBuffer buffer(cursor->RecordSize());
  cursor->Last();
  ASSERT_EQ(cursor->GetPriorRecord(buffer), 0);
  EXPECT_EQ(TextOf(*cursor, buffer, 1), "b");
  // twice reads field 1 of the list, which is now LABEL: its bytes read as 'b' = 98.
  EXPECT_EQ(IntOf(*cursor, buffer, 2), IntOf(*cursor, buffer, 1) * 2);
}

TEST_F(CalculatedFieldsTest, UnsoundFieldListsAreRefusedAndChangeNothing) {
  auto cursor = OpenRows("ab");
  InstallStandard(*cursor);
  const std::uint16_t size = cursor->RecordSize();
  const auto calc = [](std::uint8_t type, std::uint8_t fieldSize = 0) {
    return Calculated("C", type, "twice", fieldSize);
  };
  TCursorFieldDefinition badDecimals = calc(kFieldTypeInteger);
  badDecimals.Descriptor.FieldDecimals = 2;
  TCursorFieldDefinition badMinimum = calc(kFieldTypeInteger);
  badMinimum.Descriptor.MinValue = "ten";
  TCursorFieldDefinition goodMinimum = calc(kFieldTypeInteger);
  goodMinimum.Descriptor.MinValue = "10";
  struct TCase {
    const char* What;
    std::vector<TCursorFieldDefinition> Fields;
    std::uint16_t Code;
  };
  const std::vector<TCase> cases = {
      {"duplicate name", {TableField(1), Calculated("id", kFieldTypeInteger, "")}, 10038},
      {"renamed clash", {TableField(1), TableField(2, "ID")}, 10038},
      {"empty name", {Calculated(" ", kFieldTypeInteger, "")}, 10038},
      {"digit first", {Calculated("1X", kFieldTypeInteger, "")}, 10038},
      {"type 0", {calc(0)}, 10000},
      {"string too long", {calc(kFieldTypeString, 251)}, 10000},
      {"string without size", {calc(kFieldTypeString, 0)}, 10000},
      {"bytes without size", {calc(kFieldTypeBytes, 0)}, 10000},
      {"size on integer", {calc(kFieldTypeInteger, 4)}, 10000},
      {"decimals on integer", {badDecimals}, 10000},
      {"minimum not a number", {badMinimum}, 10000},
      {"calculated BLOB", {calc(kFieldTypeBlob)}, 10000},
      {"table field 0 of 2", {TableField(3)}, 10000},
      {"negative table field", {TableField(-1)}, 10000},
      {"expression refused", {TableField(1), Calculated("R", kFieldTypeInteger, "refused")}, 10006},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(RaisedCode([&] {
                cursor->SetCalculatedFields(c.Fields, std::make_unique<TFakeEvaluator>());
              }),
              c.Code)
        << c.What;
    EXPECT_EQ(cursor->FieldCount(), 5) << c.What;
    EXPECT_EQ(cursor->RecordSize(), size) << c.What;
  }
  EXPECT_EQ(RaisedCode([&] {
              cursor->SetCalculatedFields(
                  std::vector<TCursorFieldDefinition>{TableField(1), goodMinimum},
                  std::make_unique<TFakeEvaluator>());
            }),
            0);
  TBuffer buffer(cursor->RecordSize());
  cursor->First();
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  EXPECT_EQ(IntOf(*cursor, buffer, 2), 2);
}

TEST_F(CalculatedFieldsTest, AtMost1023FieldsAndA16BitRecordSize) {
  auto cursor = OpenRows("a");
  const auto many = [](std::size_t count, std::uint8_t type, std::uint8_t size) {
    std::vector<TCursorFieldDefinition> fields = {TableField(1), TableField(2)};
    while (fields.size() < count)
      fields.push_back(
          Calculated(std::string("F").append(std::to_string(fields.size())), type, "", size));
    return fields;
  };
  EXPECT_EQ(
      RaisedCode([&] { cursor->SetCalculatedFields(many(1024, kFieldTypeBoolean, 0), nullptr); }),
      codes::kFieldLimits);
  EXPECT_EQ(cursor->FieldCount(), 2);
  ASSERT_EQ(
      RaisedCode([&] { cursor->SetCalculatedFields(many(1023, kFieldTypeBoolean, 0), nullptr); }),
      0);
  EXPECT_EQ(cursor->FieldCount(), 1023);
  const std::uint16_t tableSize = cursor->Table()->Data().RecordSize();
  EXPECT_EQ(cursor->RecordSize(), tableSize + 1021 * (1 + StoredSize(kFieldTypeBoolean, 0)));
  // 260 strings of 250 take 260 * 252 bytes: more than a 16-bit record size holds.
  EXPECT_EQ(
      RaisedCode([&] { cursor->SetCalculatedFields(many(262, kFieldTypeString, 250), nullptr); }),
      codes::kRecordSizeExceeded);
  EXPECT_EQ(cursor->FieldCount(), 1023);
}

TEST_F(CalculatedFieldsTest, ClonesKeepTheFieldListAndReopeningDropsIt) {
  auto cursor = OpenRows("abc");
  auto calls = InstallStandard(*cursor);
  TBuffer buffer(cursor->RecordSize());
  cursor->First();
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  auto clone = cursor->Clone();
  EXPECT_EQ(clone->FieldCount(), 5);
  EXPECT_EQ(clone->RecordSize(), cursor->RecordSize());
  ASSERT_EQ(clone->GetNextRecord(buffer), 0);
  EXPECT_EQ(NameOf(*clone, buffer), "b");
  ExpectStandardValues(*clone, buffer);
  clone.reset();

  const std::uint16_t tableSize = cursor->Table()->Data().RecordSize();
  cursor->Close();
  cursor->Open();
  EXPECT_EQ(cursor->FieldCount(), 2);
  EXPECT_EQ(cursor->RecordSize(), tableSize);
  calls->clear();
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  EXPECT_TRUE(calls->empty());
}

TEST_F(CalculatedFieldsTest, TheTableFilesNeverSeeTheCalculatedSlots) {
  auto cursor = OpenRows("abc");
  cursor->Close();
  const auto before = FileBytes();
  cursor->Open();
  InstallStandard(*cursor);
  TBuffer buffer(cursor->RecordSize());
  cursor->First();
  while (cursor->GetNextRecord(buffer) == 0) cursor->SetField(2, buffer, "zz");
  cursor->Close();
  EXPECT_EQ(FileBytes(), before);

  // A row another writer adds while the field list is set takes the table's record size.
  cursor->Open();
  InstallStandard(*cursor);
  InsertRow(*cursor->Table(), 4, "d");
  cursor->Last();
  ASSERT_EQ(cursor->GetPriorRecord(buffer), 0);
  ExpectStandardValues(*cursor, buffer);
  const std::size_t tableSize = cursor->Table()->Data().RecordSize();
  cursor->Close();
  const std::size_t dataSize = FileBytes().at("T.DAT").size();
  EXPECT_EQ(dataSize, 127 + 2 * kFieldDescriptorSize + 4 * tableSize);
}

TEST_F(CalculatedFieldsTest, AMemoReferenceReadsTheWholeStoredText) {
  auto owned = OpenMemoTable({std::string(3000, 'x'), "short", ""});  // 3000: several blocks
  TDataCursor& cursor = *owned;
  TBuffer buffer(cursor.RecordSize());
  cursor.First();
  std::vector<std::pair<std::int32_t, bool>> seen;
  while (cursor.GetNextRecord(buffer) == 0) {
    bool null = false;
    const std::int32_t length = IntOf(cursor, buffer, 4, &null);
    seen.emplace_back(length, null);
  }
  const std::vector<std::pair<std::int32_t, bool>> expected = {
      {3000, false}, {5, false}, {0, true}};
  EXPECT_EQ(seen, expected);
  // A slot holding the handle of an open BLOB buffer (negative) is not read from the file.
  std::string text;
  const TFieldDescriptor& note = cursor.GetFieldDesc(3).Descriptor;
  TBuffer handle(cursor.RecordSize(), 0);
  handle[note.FieldOffset] = 1;
  PutI32LE(handle.data() + note.FieldOffset + 1, -1);
  EXPECT_FALSE(cursor.ReadStoredBlob(note, handle, text));
  EXPECT_TRUE(text.empty());
}

// A memo being edited is read from its open buffer: the calculated field follows the text as
// written, before anything is posted; new and copied record buffers are evaluated too.
TEST_F(CalculatedFieldsTest, AMemoOpenForEditingIsReadFromItsBuffer) {
  auto owned = OpenMemoTable({"stored"});
  TDataCursor& cursor = *owned;
  TBuffer buffer(cursor.RecordSize());
  cursor.First();
  ASSERT_EQ(cursor.GetNextRecord(buffer), 0);
  EXPECT_EQ(IntOf(cursor, buffer, 4), 6);
  std::uint32_t size = 0;
  ASSERT_EQ(cursor.OpenBlob(3, buffer, size, TBlobOpenMode::ReadWrite), 0);
  const std::string text = "0123456789";
  ASSERT_EQ(cursor.WriteBlob(3, buffer, 0, static_cast<std::uint32_t>(text.size()),
                             reinterpret_cast<const std::uint8_t*>(text.data())),
            0);
  std::uint8_t id[4];
  PutI32LE(id, 5);
  cursor.SetField(1, buffer, id);
  EXPECT_EQ(IntOf(cursor, buffer, 4), 10);
  ASSERT_EQ(cursor.CloseBlob(3, buffer), 0);
  cursor.FreeBlobs();

  TBuffer fresh(cursor.RecordSize(), 0xEE);
  cursor.InitNewRecord(fresh);
  bool null = false;
  IntOf(cursor, fresh, 4, &null);
  EXPECT_TRUE(null);
  TBuffer copy(cursor.RecordSize(), 0);
  ASSERT_EQ(cursor.CopyCurrentRecord(copy), 0);
  EXPECT_EQ(IntOf(cursor, copy, 4, &null), 6);
  EXPECT_FALSE(null);
  cursor.FreeBlobs();
}

// Lazy change detection: the cursor's record is still cached when another writer rewrites
// its memo; the memo read sees the change, and the step catches up and reads the new text
// instead of failing on the old chain.
TEST_F(CalculatedFieldsTest, AMemoRewrittenElsewhereIsReadOnceTheCursorCatchesUp) {
  auto owned = OpenMemoTable({"first", ""});
  TDataCursor& cursor = *owned;
  TBuffer buffer(cursor.RecordSize());
  cursor.First();
  ASSERT_EQ(cursor.GetNextRecord(buffer), 0);
  EXPECT_EQ(IntOf(cursor, buffer, 4), 5);

  TEngineSandbox writerBox(folder.Path());
  TDataTable& writer = writerBox.Directory().OpenTable("M", false, false);
  StoreBlob(writer, 1, 3, std::string(700, 'r'));
  writerBox.Directory().CloseTable(writer);
  ASSERT_EQ(cursor.GetCurrentRecord(buffer), 0);
  EXPECT_EQ(IntOf(cursor, buffer, 4), 700);
}

}  // namespace
}  // namespace kura
