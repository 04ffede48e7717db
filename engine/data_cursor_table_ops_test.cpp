// The cursor's whole-table operations on real table files: the checks of a new table and
// their codes, overwriting, deleting and renaming, emptying, adding and deleting indexes
// (a failed build leaves the table as it was), sorting a result table and its header.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "engine/cursor_test_support.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "engine/table_test_support.h"
#include "storage/failing_file.h"
#include "storage/field_types.h"
#include "storage/file_names.h"
#include "storage/file_test_support.h"

namespace kura {
namespace {

using testing::IdOf;
using testing::InsertRow;
using testing::NameOf;
using testing::RaisedCode;
using testing::RowsTable;
using testing::TEngineSandbox;
using testing::TFileFaults;
using testing::TRowsTableOptions;
using testing::TScratchFolder;

using TBuffer = std::vector<std::uint8_t>;

TFieldDescriptor Field(const std::string& name, std::uint8_t type, std::uint8_t size = 0,
                       std::uint8_t subType = 0) {
  return MakeFieldDescriptor(name, type, size, subType);
}

TIndexDefinition Index(const std::string& name, std::vector<std::uint16_t> fields,
                       bool unique = false) {
  TIndexDefinition index;
  index.Name = name;
  index.Fields = std::move(fields);
  index.Unique = unique;
  return index;
}

// ID integer, NAME string 20, NOTE memo; primary index on ID.
TTableDefinition PlainDefinition() {
  TTableDefinition definition;
  definition.Fields = {Field("ID", kFieldTypeInteger), Field("NAME", kFieldTypeString, 20),
                       Field("NOTE", kFieldTypeBlob, 0, kSubTypeMemo)};
  definition.PrimaryIndex.Fields = {1};
  return definition;
}

class TableOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox = std::make_unique<TEngineSandbox>(folder.Path());
    testing::InstallFailingFiles(sandbox->Files(), faults);
  }

  std::unique_ptr<TDataCursor> Cursor(const std::string& name = "T", bool exclusive = true) {
    auto cursor = std::make_unique<TDataCursor>(sandbox->Directory());
    cursor->SetTableName(name);
    cursor->SetExclusive(exclusive);
    return cursor;
  }
  std::unique_ptr<TDataCursor> Opened(const std::string& name = "T", bool exclusive = true) {
    auto cursor = Cursor(name, exclusive);
    cursor->Open();
    return cursor;
  }
  bool Exists(const std::string& name, std::string_view extension = kDataExtension) {
    return sandbox->Files().ListedFileExists(sandbox->Directory().TableFileName(name, extension),
                                             false);
  }
  // A table of rows (ID 1.., NAME as given) with the options' indexes.
  void MakeRows(const std::vector<std::string>& names, const TRowsTableOptions& options = {},
                const std::string& table = "T") {
    TDataDirectory& directory = sandbox->Directory();
    TDataTable& made = directory.CreateTable(table, false, RowsTable(options), true);
    std::int32_t id = 1;
    for (const std::string& name : names) InsertRow(made, id++, name);
    directory.CloseTable(made);
  }
  // Every row of the cursor in its order, as "id:name".
  std::vector<std::string> Rows(TDataCursor& cursor) {
    std::vector<std::string> rows;
    cursor.First();
    TBuffer buffer(cursor.RecordSize());
    while (cursor.GetNextRecord(buffer) == 0)
      rows.push_back(std::to_string(IdOf(cursor, buffer)) + ":" + NameOf(cursor, buffer));
    return rows;
  }
  // Every index tree of the open table sound, and each holding one key per live record.
  void ExpectSoundIndexes(TDataCursor& cursor) {
    TIndexFile& index = cursor.Table()->Index();
    const std::int64_t live = index.LiveRecordCount();
    for (int slot = 0; slot <= index.SecondaryCount(); ++slot) {
      if (slot == 0 && index.NoPrimaryIndex()) continue;
      const TTreeCheckReport report = index.CheckTree(slot);
      EXPECT_TRUE(report.Problems.empty()) << slot << ": " << report.Problems.front();
      EXPECT_EQ(report.KeyCount, live) << slot;
    }
    const TTreeCheckReport deleted = index.CheckTree(kSysDeletedSlot);
    EXPECT_TRUE(deleted.Problems.empty());
    EXPECT_EQ(deleted.KeyCount, cursor.Table()->Data().RecordCount());
  }

  TScratchFolder folder;
  TFileFaults faults;
  std::unique_ptr<TEngineSandbox> sandbox;
};

// --- CreateTable ---------------------------------------------------------------------------

struct TCreateCase {
  const char* Name;
  int Code;
  void (*Change)(TTableDefinition&, std::int32_t& lastAutoInc);
};

const TCreateCase kCreateCases[] = {
    {"NamesDifferingOnlyInCase", codes::kInvalidFieldName,
     [](TTableDefinition& d, std::int32_t&) { d.Fields[1].FieldName = "id"; }},
    {"EmptyFieldName", codes::kInvalidFieldName,
     [](TTableDefinition& d, std::int32_t&) { d.Fields[1].FieldName = "   "; }},
    {"FieldNameStartingWithADigit", codes::kInvalidFieldName,
     [](TTableDefinition& d, std::int32_t&) { d.Fields[1].FieldName = "1NAME"; }},
    {"StringOf251", codes::kInvalidFieldDefinition,
     [](TTableDefinition& d, std::int32_t&) { d.Fields[1].FieldSize = 251; }},
    {"StringOf0", codes::kInvalidFieldDefinition,
     [](TTableDefinition& d, std::int32_t&) { d.Fields[1].FieldSize = 0; }},
    {"TypeZero", codes::kInvalidFieldDefinition,
     [](TTableDefinition& d, std::int32_t&) { d.Fields[0].FieldType = 0; }},
    {"CalculatedField", codes::kInvalidFieldDefinition,
     [](TTableDefinition& d, std::int32_t&) { d.Fields[1].Computed = true; }},
    {"RepeatedFieldNumber", codes::kInvalidFieldDefinition,
     [](TTableDefinition& d, std::int32_t&) {
       d.Fields[0].FieldNo = 1;
       d.Fields[1].FieldNo = 1;
       d.Fields[2].FieldNo = 2;
     }},
    {"DefaultThatIsNoNumber", codes::kInvalidValidityCheck,
     [](TTableDefinition& d, std::int32_t&) { d.Fields[0].DefaultValue = "abc"; }},
    {"IndexOverAMemo", codes::kInvalidIndexField,
     [](TTableDefinition& d, std::int32_t&) {
       d.SecondaryIndexes.push_back(Index("ByNote", {3}));
     }},
    {"IndexNameStartingWithADigit", codes::kInvalidIndexName,
     [](TTableDefinition& d, std::int32_t&) { d.SecondaryIndexes.push_back(Index("9X", {2})); }},
    {"IndexNamesDifferingOnlyInCase", codes::kIndexExists,
     [](TTableDefinition& d, std::int32_t&) {
       d.SecondaryIndexes.push_back(Index("ByName", {2}));
       d.SecondaryIndexes.push_back(Index(" BYNAME", {1}));
     }},
    {"IndexOverAMissingField", codes::kInvalidIndexFieldNumber,
     [](TTableDefinition& d, std::int32_t&) { d.SecondaryIndexes.push_back(Index("X", {9})); }},
    {"IndexWithoutFields", codes::kInvalidIndexFieldNumber,
     [](TTableDefinition& d, std::int32_t&) { d.SecondaryIndexes.push_back(Index("X", {})); }},
    {"KeyLongerThan522", codes::kInvalidKeySize,
     [](TTableDefinition& d, std::int32_t&) {
       for (const char* name : {"A", "B", "C"})
         d.Fields.push_back(Field(name, kFieldTypeString, 250));
       d.SecondaryIndexes.push_back(Index("Wide", {4, 5, 6}));
     }},
    {"ThirtyOneSecondaryIndexes", codes::kIndexLimits,
     [](TTableDefinition& d, std::int32_t&) {
       for (int i = 0; i < 31; ++i)
         d.SecondaryIndexes.push_back(Index("I" + std::to_string(i), {1}));
     }},
    {"TextIndexOverAnInteger", codes::kInvalidIndexField,
     [](TTableDefinition& d, std::int32_t&) { d.TextIndexFields = {1}; }},
    {"PasswordOf16", codes::kInvalidPassword,
     [](TTableDefinition& d, std::int32_t&) {
       d.Settings.Encrypted = true;
       d.Settings.Password = "0123456789abcdef";
     }},
    {"BlankPassword", codes::kInvalidPassword,
     [](TTableDefinition& d, std::int32_t&) {
       d.Settings.Encrypted = true;
       d.Settings.Password = "   ";
     }},
    {"LocaleNotInstalled", codes::kLanguageNotInstalled,
     [](TTableDefinition& d, std::int32_t&) { d.Settings.LanguageId = 0x7F7F; }},
    {"BlobBlocksOf32", codes::kBlobFieldLimits,
     [](TTableDefinition& d, std::int32_t&) { d.Settings.BlobBlockSize = 32; }},
    {"AutoIncrementBelowMinusOne", codes::kFieldLimits,
     [](TTableDefinition&, std::int32_t& lastAutoInc) { lastAutoInc = -2; }},
};

// A refused definition raises its code before anything is made, also with overwrite: the
// table that was there stays as it was.
TEST_F(TableOpsTest, RefusedDefinitionsMakeNoFileAndKeepTheOldTable) {
  MakeRows({"old"}, {}, "OLD");
  for (const TCreateCase& entry : kCreateCases) {
    SCOPED_TRACE(entry.Name);
    for (const std::string name : {"NEW", "OLD"}) {
      TTableDefinition definition = PlainDefinition();
      std::int32_t lastAutoInc = -1;
      entry.Change(definition, lastAutoInc);
      auto cursor = Cursor(name);
      EXPECT_EQ(RaisedCode([&] { cursor->CreateTable(definition, true, lastAutoInc); }),
                entry.Code);
      EXPECT_EQ(Exists(name), name == "OLD");
    }
  }
  EXPECT_EQ(Rows(*Opened("OLD")), std::vector<std::string>{"1:old"});
}

TEST_F(TableOpsTest, CreatesWhatTheDefinitionSays) {
  TTableDefinition definition = PlainDefinition();
  definition.Settings.Encrypted = true;
  definition.Settings.Password = " fifteen-chars. ";  // 15 once trimmed
  definition.SecondaryIndexes.push_back(Index(" ByName ", {2}));
  definition.TextIndexFields = {3};
  TTextIndexParams params = DefaultTextIndexParams();
  params.StopWords = {"THE"};
  Cursor()->CreateTable(definition, false, 41, &params);
  auto cursor = Opened();
  EXPECT_EQ(cursor->Table()->Data().LastAutoInc(), 41);
  EXPECT_EQ(cursor->Table()->Data().Password(), "fifteen-chars.");
  EXPECT_EQ(cursor->ReadIndexDescriptor(1).IndexName, "ByName");
  EXPECT_EQ(cursor->TextIndexParams().StopWords, std::vector<std::string>{"THE"});
  EXPECT_EQ(cursor->ReadIndexDescriptor(kSysTextSlot).KeyFieldCount, 1);
}

TEST_F(TableOpsTest, AnExistingTableIsReplacedOnlyWhenAskedTo) {
  MakeRows({"a", "b"});
  EXPECT_EQ(RaisedCode([&] { Cursor()->CreateTable(PlainDefinition(), false); }),
            codes::kTableExists);
  EXPECT_EQ(Rows(*Opened()).size(), 2u);
  Cursor()->CreateTable(PlainDefinition(), true);
  auto cursor = Opened();
  EXPECT_EQ(cursor->RecordCount(), 0);
  EXPECT_TRUE(Exists("T", kBlobExtension));
}

TEST_F(TableOpsTest, AccessRulesOfEachOperation) {
  MakeRows({"a"});
  auto shared = Cursor("T", false);
  EXPECT_EQ(RaisedCode([&] { shared->CreateTable(PlainDefinition(), true); }),
            codes::kExclusiveRequired);
  auto readOnly = Cursor("N");
  readOnly->SetReadOnly(true);
  EXPECT_EQ(RaisedCode([&] { readOnly->CreateTable(PlainDefinition(), true); }),
            codes::kAccessDenied);

  auto open = Opened("T", false);
  EXPECT_EQ(RaisedCode([&] { open->DeleteTable(); }), codes::kTableInUse);
  EXPECT_EQ(RaisedCode([&] { open->RenameTable("U"); }), codes::kTableInUse);
  EXPECT_EQ(RaisedCode([&] { open->EmptyTable(); }), codes::kExclusiveRequired);
  EXPECT_EQ(RaisedCode([&] { open->DeleteIndex("ById"); }), codes::kExclusiveRequired);
  EXPECT_EQ(RaisedCode([&] { open->SortTable({}); }), codes::kExclusiveRequired);
  EXPECT_EQ(RaisedCode([&] { open->AddIndex(Index("X", {1})); }), codes::kExclusiveRequired);
  // Another cursor of the process has the table open.
  EXPECT_EQ(RaisedCode([&] { Cursor()->DeleteTable(); }), codes::kAccessDenied);
  EXPECT_EQ(RaisedCode([&] { Cursor()->RenameTable("U"); }), codes::kAccessDenied);
  open->Close();

  auto exclusiveReadOnly = Cursor();
  exclusiveReadOnly->SetReadOnly(true);
  exclusiveReadOnly->Open();
  EXPECT_EQ(RaisedCode([&] { exclusiveReadOnly->EmptyTable(); }), codes::kAccessDenied);
  EXPECT_EQ(RaisedCode([&] { exclusiveReadOnly->DeleteIndex("ById"); }), codes::kAccessDenied);
  EXPECT_EQ(exclusiveReadOnly->RecordCount(), 1);
}

TEST_F(TableOpsTest, DeleteAndRenameNeedTheTableAndItsPassword) {
  EXPECT_EQ(RaisedCode([&] { Cursor("MISSING")->DeleteTable(); }), codes::kTableNotFound);
  EXPECT_EQ(RaisedCode([&] { Cursor("MISSING")->RenameTable("X"); }), codes::kTableNotFound);

  TTableDefinition secret = PlainDefinition();
  secret.Settings.Encrypted = true;
  secret.Settings.Password = "pw";
  Cursor("S")->CreateTable(secret, false);
  sandbox->Session().RemoveAllPasswords();
  EXPECT_EQ(RaisedCode([&] { Cursor("S")->DeleteTable(); }), codes::kPasswordRequired);
  EXPECT_TRUE(Exists("S"));
  auto asking = Cursor("S");
  asking->SetPasswordHook([this](TDataCursor&) {
    sandbox->Session().AddPassword("pw");
    return true;
  });
  asking->RenameTable("R");
  EXPECT_FALSE(Exists("S"));
  EXPECT_TRUE(Exists("R") && Exists("R", kIndexExtension) && Exists("R", kBlobExtension));
  Cursor("R")->DeleteTable();
  EXPECT_FALSE(Exists("R") || Exists("R", kIndexExtension) || Exists("R", kBlobExtension));
}

TEST_F(TableOpsTest, TheHeaderReadsTheSameOpenOrClosed) {
  MakeRows({"a", "b", "c"});
  const auto closed = Cursor()->GetTableHeader();
  const auto open = Opened()->GetTableHeader();
  EXPECT_EQ(closed, open);
  EXPECT_EQ(DecodeDataHeader(closed).NextRecordNo, 4);
  EXPECT_EQ(RaisedCode([&] { Cursor("MISSING")->GetTableHeader(); }), codes::kTableNotFound);

  // A file of another version answers only its version byte.
  std::string bytes = testing::ReadWholeFile(folder.File("T.DAT"));
  bytes[kVersionOffset] = 4;
  testing::WriteWholeFile(folder.File("T.DAT"), bytes);
  std::array<std::uint8_t, kDataHeaderSize> expected{};
  expected[kVersionOffset] = 4;
  EXPECT_EQ(Cursor()->GetTableHeader(), expected);
}

// --- EmptyTable and indexes -------------------------------------------------------------

TEST_F(TableOpsTest, EmptyingKeepsEveryDefinition) {
  MakeRows({"a", "b", "c"}, {.SecondaryByNameNonUnique = true});
  auto cursor = Opened();
  cursor->SetIndexName("ByName");
  cursor->EmptyTable();
  EXPECT_EQ(cursor->RecordCount(), 0);
  EXPECT_TRUE(cursor->AtBOF());
  EXPECT_EQ(cursor->Table()->Index().SecondaryCount(), 2);
  EXPECT_EQ(cursor->IndexName(), "ByName");
  InsertRow(*cursor->Table(), 7, "z");
  EXPECT_EQ(Rows(*cursor), std::vector<std::string>{"7:z"});
  ExpectSoundIndexes(*cursor);
}

TEST_F(TableOpsTest, DeletingAnIndexByNameOrNumber) {
  MakeRows({"c", "a", "b"}, {.SecondaryByNameNonUnique = true});
  auto cursor = Opened();
  cursor->SetIndexName("ById");
  EXPECT_EQ(RaisedCode([&] { cursor->DeleteIndex("Unknown"); }), codes::kInvalidIndexName);
  EXPECT_EQ(RaisedCode([&] { cursor->DeleteIndexNo(3); }), codes::kInvalidIndexName);
  cursor->DeleteIndex("byid");
  EXPECT_EQ(cursor->IndexNo(), kPrimaryIndexSlot);
  EXPECT_EQ(cursor->Table()->Index().SecondaryCount(), 1);
  EXPECT_EQ(cursor->ReadIndexDescriptor(1).IndexName, "ByName");  // moved down one slot
  cursor->SetIndexName("ByName");
  EXPECT_EQ(Rows(*cursor), (std::vector<std::string>{"2:a", "3:b", "1:c"}));
  cursor->DeleteIndexNo(1);
  EXPECT_EQ(cursor->Table()->Index().SecondaryCount(), 0);
  // The deleted indexes' pages stay reusable on the "Sys Deleted" index's free chain rather
  // than belonging to nothing (kura verify reports such pages).
  EXPECT_NE(cursor->Table()->Index().ReadIndexDescriptor(kSysDeletedSlot).FreePage, 0);
  ExpectSoundIndexes(*cursor);
}

TEST_F(TableOpsTest, AddedIndexesHoldEveryLiveRecord) {
  std::vector<std::string> names;
  for (int i = 0; i < 700; ++i) names.push_back("n" + std::to_string((i * 389) % 700));
  MakeRows(names, {.SecondaryById = false});
  auto cursor = Opened();
  testing::DeleteRow(*cursor->Table(), 5);
  cursor->AddIndex(Index("ById", {1}, true));
  TIndexDefinition byNameDown = Index("ByNameDown", {2});
  byNameDown.FieldDescending = {true};
  byNameDown.Compression = kCompressFull;
  cursor->AddIndex(byNameDown);
  ExpectSoundIndexes(*cursor);
  cursor->SetIndexName("ById");
  const std::vector<std::string> rows = Rows(*cursor);
  ASSERT_EQ(rows.size(), 699u);
  EXPECT_EQ(rows.front(), "1:n0");
  EXPECT_EQ(rows[4], "6:n545");  // ID 5 was deleted
}

TEST_F(TableOpsTest, AUniqueIndexOverEqualKeysIsRefusedAndGone) {
  MakeRows({"x", "y"}, {.SecondaryById = false});
  auto cursor = Opened();
  InsertRow(*cursor->Table(), 1, "z");  // a second ID 1
  EXPECT_EQ(RaisedCode([&] { cursor->AddIndex(Index("ById", {1}, true)); }), codes::kDuplicateKey);
  EXPECT_EQ(cursor->Table()->Index().SecondaryCount(), 0);
  EXPECT_EQ(RaisedCode([&] { cursor->SetIndexName("ById"); }), codes::kInvalidIndexName);
  ExpectSoundIndexes(*cursor);
  // The name is free again.
  cursor->AddIndex(Index("ById", {1}));
  ExpectSoundIndexes(*cursor);
}

// A write failing at any point of an index build leaves the table without the index and
// with every other index sound, also after the table is opened again.
TEST_F(TableOpsTest, AnIndexBuildFailingAnywhereLeavesTheTableAsItWas) {
  std::vector<std::string> names;
  for (int i = 0; i < 400; ++i) names.push_back("name" + std::to_string(i));
  bool built = false;
  for (std::int64_t budget = 0; !built; budget += 1500) {
    SCOPED_TRACE(budget);
    ASSERT_LT(budget, 10'000'000);
    MakeRows(names, {.SecondaryById = false});
    {
      auto cursor = Opened();
      faults.WriteBudget = budget;
      const int code = RaisedCode([&] { cursor->AddIndex(Index("ById", {1})); });
      faults.WriteBudget = -1;
      built = code == 0;
      EXPECT_EQ(cursor->Table()->Index().SecondaryCount(), built ? 1 : 0);
      cursor->Close();
    }
    auto reopened = Opened();
    EXPECT_EQ(reopened->Table()->Index().SecondaryCount(), built ? 1 : 0);
    EXPECT_EQ(reopened->RecordCount(), 400);
    ExpectSoundIndexes(*reopened);
  }
}

// --- RebuildIndexes ------------------------------------------------------------------------

TEST_F(TableOpsTest, RebuildingRepairsDamagedIndexPages) {
  TTableDefinition definition = PlainDefinition();
  definition.SecondaryIndexes.push_back(Index("ByName", {2}));
  definition.TextIndexFields = {2};
  Cursor()->CreateTable(definition, false);
  {
    auto cursor = Opened();
    for (int i = 1; i <= 300; ++i) InsertRow(*cursor->Table(), i, "word" + std::to_string(i % 7));
    testing::DeleteRow(*cursor->Table(), 10);
  }
  // Every index page after the header overwritten with rubbish.
  std::string bytes = testing::ReadWholeFile(folder.File("T.IDX"));
  for (std::size_t i = kIndexPageBytes; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  testing::WriteWholeFile(folder.File("T.IDX"), bytes);

  Cursor()->RebuildIndexes();
  auto cursor = Opened();
  ExpectSoundIndexes(*cursor);
  EXPECT_EQ(cursor->Table()->Index().CheckTree(kSysTextSlot).KeyCount, 299);
  EXPECT_FALSE(Exists("T", kIndexBackupExtension));
  cursor->SetIndexName("ByName");
  EXPECT_EQ(Rows(*cursor).size(), 299u);
}

TEST_F(TableOpsTest, ARebuildThatFailsPutsTheIndexFileBack) {
  MakeRows({"a", "b", "c"});
  const std::string before = testing::ReadWholeFile(folder.File("T.IDX"));
  // Record 2 takes record 1's ID on disk: the unique index ById cannot hold both.
  std::string data = testing::ReadWholeFile(folder.File("T.DAT"));
  const std::size_t records = data.size() - 3 * Opened()->Table()->Data().RecordSize();
  const std::size_t recordSize = Opened()->Table()->Data().RecordSize();
  const std::size_t idOffset = Opened()->Table()->Data().Descriptors()[0].FieldOffset + 1;
  for (std::size_t i = 0; i < 4; ++i)
    data[records + recordSize + idOffset + i] = data[records + idOffset + i];
  testing::WriteWholeFile(folder.File("T.DAT"), data);

  EXPECT_EQ(RaisedCode([&] { Cursor()->RebuildIndexes(); }), codes::kDuplicateKey);
  EXPECT_FALSE(Exists("T", kIndexBackupExtension));
  EXPECT_EQ(testing::ReadWholeFile(folder.File("T.IDX")), before);
}

// --- SortTable -------------------------------------------------------------------------------

TEST_F(TableOpsTest, SortingAResultTableRewritesItAndItsLiveRecords) {
  MakeRows({"d", "b", "a", "c", "b"}, {.PrimaryOnName = false, .SecondaryById = false});
  auto cursor = Opened();
  testing::DeleteRow(*cursor->Table(), 4);  // "c"
  TSortSpec spec;
  spec.Fields = {TSortField{cursor->Table()->Data().Descriptors()[1], false}};
  spec.Duplicates = TDuplicateMode::Remove;
  cursor->SortTable(spec);
  EXPECT_EQ(Rows(*cursor), (std::vector<std::string>{"3:a", "2:b", "1:d"}));
  EXPECT_EQ(cursor->Table()->Index().LiveRecordCount(), 3);
  ExpectSoundIndexes(*cursor);
  cursor->Close();
  auto reopened = Opened();
  EXPECT_EQ(reopened->RecordCount(), 3);
  ExpectSoundIndexes(*reopened);
}

TEST_F(TableOpsTest, SortingLeavesATableWithIndexesAlone) {
  MakeRows({"b", "a"}, {.PrimaryOnName = false});
  auto cursor = Opened();
  cursor->SetIndexNo(kRecordOrderIndexNo);
  TSortSpec spec;
  spec.Fields = {TSortField{cursor->Table()->Data().Descriptors()[1], false}};
  cursor->SortTable(spec);
  EXPECT_EQ(Rows(*cursor), (std::vector<std::string>{"1:b", "2:a"}));
}

}  // namespace
}  // namespace kura
