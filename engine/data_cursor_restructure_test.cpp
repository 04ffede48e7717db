// Restructuring tables: which of the three ways each change takes, the backups it leaves,
// values carried over and converted, refusals that leave the table as it was, a model test of
// random field and index changes checked by `kura verify`, writes failing anywhere, and a swap
// interrupted after every one of its file steps.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "engine/cursor_test_support.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/table_restructure.h"
#include "engine/table_swap.h"
#include "engine/table_test_support.h"
#include "storage/failing_file.h"
#include "storage/field_types.h"
#include "storage/file_names.h"
#include "storage/file_test_support.h"
#include "storage/little_endian.h"
#include "tools/kura/table_verify.h"

namespace kura {
namespace {

using testing::RaisedCode;
using testing::TEngineSandbox;
using testing::TFileFaults;
using testing::TScratchFolder;

using TBuffer = std::vector<std::uint8_t>;
using TValue = std::optional<std::string>;

enum class TKind { Integer, LargeInt, String, Memo };

// One field of the model: its kind, name and (strings) size, and a stable identity that
// indexes refer to.
struct TModelField {
  int Id = 0;
  TKind Kind = TKind::Integer;
  int Size = 0;
  std::string Name;
};

struct TModelIndex {
  std::string Name;
  std::vector<int> FieldIds;
};

// The table as the model sees it: fields, secondary indexes, rows by ID (the first field,
// integer, primary index) holding every field's value as text.
struct TModel {
  std::vector<TModelField> Fields;
  std::vector<TModelIndex> Indexes;
  std::map<std::int32_t, std::vector<TValue>> Rows;
  int NextFieldId = 1;
};

TFieldDescriptor Descriptor(const TModelField& field) {
  switch (field.Kind) {
    case TKind::Integer:
      return MakeFieldDescriptor(field.Name, kFieldTypeInteger);
    case TKind::LargeInt:
      return MakeFieldDescriptor(field.Name, kFieldTypeLargeInt);
    case TKind::String:
      return MakeFieldDescriptor(field.Name, kFieldTypeString,
                                 static_cast<std::uint8_t>(field.Size));
    case TKind::Memo:
      break;
  }
  return MakeFieldDescriptor(field.Name, kFieldTypeBlob, 0, kSubTypeMemo);
}

int PositionOf(const std::vector<TModelField>& fields, int id) {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (fields[i].Id == id) return static_cast<int>(i) + 1;
  return 0;
}

// The definition of the model's fields; numbers[i] is field i's number in the definition.
TTableDefinition Definition(const TModel& model, const std::vector<std::uint16_t>& numbers) {
  TTableDefinition definition;
  for (std::size_t i = 0; i < model.Fields.size(); ++i) {
    definition.Fields.push_back(Descriptor(model.Fields[i]));
    if (!numbers.empty()) definition.Fields.back().FieldNo = numbers[i];
  }
  auto number = [&](int id) {
    const int position = PositionOf(model.Fields, id);
    return numbers.empty() ? static_cast<std::uint16_t>(position) : numbers[position - 1];
  };
  definition.PrimaryIndex.Fields = {number(model.Fields[0].Id)};
  for (const TModelIndex& index : model.Indexes) {
    TIndexDefinition made;
    made.Name = index.Name;
    for (const int id : index.FieldIds) made.Fields.push_back(number(id));
    definition.SecondaryIndexes.push_back(made);
  }
  return definition;
}

class RestructureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox = std::make_unique<TEngineSandbox>(folder.Path());
    testing::InstallFailingFiles(sandbox->Files(), faults);
  }

  std::unique_ptr<TDataCursor> Cursor(const std::string& name = "T") {
    auto cursor = std::make_unique<TDataCursor>(sandbox->Directory());
    cursor->SetTableName(name);
    cursor->SetExclusive(true);
    return cursor;
  }
  bool Exists(std::string_view extension, const std::string& name = "T") {
    return sandbox->Files().ListedFileExists(sandbox->Directory().TableFileName(name, extension),
                                             false);
  }
  std::vector<std::string> Verify(const std::string& name = "T") {
    TFileList list;  // as another process would see the files
    return tool::VerifyTable({folder.File(name), false}, list);
  }

  // --- Writing and reading rows through a cursor -------------------------------------------

  static void PutValue(TDataCursor& cursor, int fieldNo, TKind kind, const TValue& value,
                       TBuffer& buffer) {
    if (!value) return;
    if (kind == TKind::Memo) {
      std::uint32_t size = 0;
      ASSERT_EQ(cursor.OpenBlob(fieldNo, buffer, size, TBlobOpenMode::ReadWrite), 0);
      ASSERT_EQ(cursor.WriteBlob(fieldNo, buffer, 0, static_cast<std::uint32_t>(value->size()),
                                 reinterpret_cast<const std::uint8_t*>(value->data())),
                0);
      return;
    }
    TBuffer bytes(256, 0);
    if (kind == TKind::Integer) PutI32LE(bytes.data(), std::stoi(*value));
    if (kind == TKind::LargeInt) PutI64LE(bytes.data(), std::stoll(*value));
    if (kind == TKind::String) std::copy(value->begin(), value->end(), bytes.begin());
    cursor.SetField(fieldNo, buffer, bytes.data());
  }

  static TValue GetValue(TDataCursor& cursor, int fieldNo, TKind kind) {
    const TFieldDescriptor& field = cursor.GetFieldDesc(fieldNo).Descriptor;
    if (kind == TKind::Memo) {
      std::string text;
      if (!cursor.ReadStoredBlob(field, cursor.Record(), text)) return std::nullopt;
      return text;
    }
    TBuffer bytes(static_cast<std::size_t>(field.PhysicalSize) + 1, 0);
    if (cursor.GetField(fieldNo, bytes)) return std::nullopt;
    if (kind == TKind::Integer) return std::to_string(GetI32LE(bytes.data()));
    if (kind == TKind::LargeInt) return std::to_string(GetI64LE(bytes.data()));
    return std::string(reinterpret_cast<const char*>(bytes.data()));
  }

  void InsertModelRow(TDataCursor& cursor, const TModel& model, const std::vector<TValue>& row) {
    TBuffer buffer(cursor.RecordSize());
    cursor.InitNewRecord(buffer);
    for (std::size_t i = 0; i < model.Fields.size(); ++i)
      PutValue(cursor, static_cast<int>(i) + 1, model.Fields[i].Kind, row[i], buffer);
    cursor.PostInsert(buffer, false);
    cursor.FreeBlobs();
  }

  void CreateModelTable(const TModel& model) {
    Cursor()->CreateTable(Definition(model, {}), true);
    auto cursor = Cursor();
    cursor->Open();
    for (const auto& [id, row] : model.Rows) InsertModelRow(*cursor, model, row);
  }

  // Every row in ID order, each field's value as text.
  std::map<std::int32_t, std::vector<TValue>> ReadRows(const TModel& model) {
    auto cursor = Cursor();
    cursor->Open();
    EXPECT_EQ(cursor->FieldCount(), static_cast<int>(model.Fields.size()));
    std::map<std::int32_t, std::vector<TValue>> rows;
    TBuffer buffer(cursor->RecordSize());
    cursor->First();
    while (cursor->GetNextRecord(buffer) == 0) {
      std::vector<TValue> row;
      for (std::size_t i = 0; i < model.Fields.size(); ++i)
        row.push_back(GetValue(*cursor, static_cast<int>(i) + 1, model.Fields[i].Kind));
      rows[std::stoi(*row[0])] = row;
    }
    return rows;
  }

  TScratchFolder folder;
  TFileFaults faults;
  std::unique_ptr<TEngineSandbox> sandbox;
};

// ID, NAME string 12, COUNT integer, NOTE memo; index ByName.
TModel SmallModel(int rows) {
  TModel model;
  model.Fields = {{1, TKind::Integer, 0, "ID"},
                  {2, TKind::String, 12, "NAME"},
                  {3, TKind::Integer, 0, "COUNT"},
                  {4, TKind::Memo, 0, "NOTE"}};
  model.NextFieldId = 5;
  model.Indexes = {{"ByName", {2}}};
  for (int id = 1; id <= rows; ++id) {
    model.Rows[id] = {std::to_string(id), "name" + std::to_string(id % 7),
                      id % 5 == 0 ? TValue{} : TValue{std::to_string(id * 3)},
                      id % 3 == 0 ? TValue{} : TValue{"note " + std::to_string(id)}};
  }
  return model;
}

TRestructureOptions Options(const TModel& model, const std::vector<std::uint16_t>& numbers = {}) {
  TRestructureOptions options;
  options.Definition = Definition(model, numbers);
  return options;
}

// --- The three ways ------------------------------------------------------------------------

TEST_F(RestructureTest, RenamingAFieldOrDescribingTheTableRewritesInPlace) {
  TModel model = SmallModel(20);
  CreateModelTable(model);
  const std::string before = testing::ReadWholeFile(folder.File("T.IDX"));
  model.Fields[1].Name = "TITLE";
  model.Indexes[0].Name = "ByTitle";
  TRestructureOptions options = Options(model);
  options.Definition.Settings.Description = "problems";
  options.Definition.Settings.UserMajorVersion = 3;
  EXPECT_EQ(Cursor()->RestructureTable(options), TRestructurePath::InPlace);
  EXPECT_FALSE(Exists(kIndexBackupExtension) || Exists(kDataBackupExtension));
  auto cursor = Cursor();
  cursor->Open();
  EXPECT_EQ(cursor->GetFieldDesc(2).Descriptor.FieldName, "TITLE");
  EXPECT_EQ(cursor->Table()->Data().Description(), "problems");
  EXPECT_EQ(cursor->Table()->Data().UserMajorVersion(), 3);
  cursor->SetIndexName("ByTitle");
  cursor->Close();
  // No index page was rebuilt: only the header page (the index names) differs.
  const std::string after = testing::ReadWholeFile(folder.File("T.IDX"));
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after.substr(kIndexPageBytes), before.substr(kIndexPageBytes));
  EXPECT_EQ(ReadRows(model), model.Rows);
  EXPECT_EQ(Verify(), std::vector<std::string>{});
}

TEST_F(RestructureTest, AddingAnIndexRebuildsInPlaceAndKeepsTheOldIndexFile) {
  for (const bool noBackup : {false, true}) {
    SCOPED_TRACE(noBackup);
    TModel model = SmallModel(50);
    CreateModelTable(model);
    sandbox->Files().DeleteListedFile(folder.File("T.IBK"), false);
    const std::string before = testing::ReadWholeFile(folder.File("T.IDX"));
    model.Indexes.push_back({"ByCount", {3, 1}});
    TRestructureOptions options = Options(model);
    options.NoBackup = noBackup;
    EXPECT_EQ(Cursor()->RestructureTable(options), TRestructurePath::IndexRebuild);
    EXPECT_EQ(Exists(kIndexBackupExtension), !noBackup);
    if (!noBackup) {
      EXPECT_EQ(testing::ReadWholeFile(folder.File("T.IBK")), before);
    }
    EXPECT_FALSE(Exists(kDataBackupExtension));
    EXPECT_EQ(ReadRows(model), model.Rows);
    EXPECT_EQ(Verify(), std::vector<std::string>{});
  }
}

TEST_F(RestructureTest, ChangingAFieldSizeCopiesEveryRecordKeepingRowIds) {
  TModel model = SmallModel(40);
  CreateModelTable(model);
  {
    auto cursor = Cursor();
    cursor->Open();
    TBuffer buffer(cursor->RecordSize());
    cursor->First();
    ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
    cursor->DeleteRecord(buffer, false);  // ID 1: the RowIds no longer follow the slots
  }
  model.Rows.erase(1);
  model.Fields[1].Size = 4;
  for (auto& [id, row] : model.Rows) row[1] = row[1]->substr(0, 4);
  EXPECT_EQ(Cursor()->RestructureTable(Options(model)), TRestructurePath::DataCopy);
  EXPECT_TRUE(Exists(kDataBackupExtension) && Exists(kIndexBackupExtension) &&
              Exists(kBlobBackupExtension));
  EXPECT_EQ(ReadRows(model), model.Rows);
  auto cursor = Cursor();
  cursor->Open();
  TBuffer buffer(cursor->RecordSize());
  cursor->First();
  while (cursor->GetNextRecord(buffer) == 0)
    EXPECT_EQ(RowId(cursor->Record()), testing::IdOf(*cursor, cursor->Record()));
  cursor->Close();
  EXPECT_EQ(Verify(), std::vector<std::string>{});
  // The old table is whole under the backup names.
  EXPECT_TRUE(testing::ReadWholeFile(folder.File("T.DBK")).size() > 0);
}

TEST_F(RestructureTest, NoBackupAndInMemoryTablesLeaveNoOldFiles) {
  TModel model = SmallModel(10);
  CreateModelTable(model);
  model.Fields.erase(model.Fields.begin() + 3);  // NOTE goes, with the BLOB file
  for (auto& [id, row] : model.Rows) row.pop_back();
  TRestructureOptions options = Options(model, {1, 2, 3});
  options.NoBackup = true;
  EXPECT_EQ(Cursor()->RestructureTable(options), TRestructurePath::DataCopy);
  for (std::string_view extension : {kDataBackupExtension, kIndexBackupExtension,
                                     kBlobBackupExtension, kBlobExtension, kSwapNoteExtension})
    EXPECT_FALSE(Exists(extension)) << extension;
  EXPECT_EQ(ReadRows(model), model.Rows);
  EXPECT_EQ(Verify(), std::vector<std::string>{});

  auto memory = std::make_unique<TDataCursor>(sandbox->Directory());
  memory->SetTableName("M");
  memory->SetInMemory(true);
  memory->SetExclusive(true);
  TModel small = SmallModel(0);
  memory->CreateTable(Definition(small, {}), false);
  small.Fields[1].Size = 30;
  EXPECT_EQ(memory->RestructureTable(Options(small)), TRestructurePath::DataCopy);
  EXPECT_FALSE(sandbox->Files().ListedFileExists(
      sandbox->Directory().TableFileName("M", kDataBackupExtension), true));
  memory->Open();
  EXPECT_EQ(memory->GetFieldDesc(2).Descriptor.FieldSize, 30);
}

TEST_F(RestructureTest, EncryptingATableCopiesItAndNeedsThePasswordAfterwards) {
  const TModel model = SmallModel(15);
  CreateModelTable(model);
  TRestructureOptions options = Options(model);
  options.Definition.Settings.Encrypted = true;
  options.Definition.Settings.Password = " secret ";
  EXPECT_EQ(Cursor()->RestructureTable(options), TRestructurePath::DataCopy);
  // The password was lent to the session for the copy only.
  EXPECT_FALSE(sandbox->Session().HasPassword("secret"));
  EXPECT_EQ(RaisedCode([&] { Cursor()->Open(); }), codes::kPasswordRequired);
  sandbox->Session().AddPassword("secret");
  EXPECT_EQ(ReadRows(model), model.Rows);
  // A new password alone is only a header value: rewritten in place.
  options.Definition.Settings.Password = "other";
  EXPECT_EQ(Cursor()->RestructureTable(options), TRestructurePath::InPlace);
  sandbox->Session().AddPassword("other");
  auto cursor = Cursor();
  cursor->Open();
  EXPECT_EQ(cursor->Table()->Data().Password(), "other");
}

TEST_F(RestructureTest, APrimaryIndexIsGivenToATableWithoutOne) {
  TModel model = SmallModel(30);
  TTableDefinition definition = Definition(model, {});
  definition.PrimaryIndex.Fields.clear();
  Cursor()->CreateTable(definition, true);
  {
    auto cursor = Cursor();
    cursor->Open();
    for (auto it = model.Rows.rbegin(); it != model.Rows.rend(); ++it)
      InsertModelRow(*cursor, model, it->second);
    EXPECT_FALSE(cursor->HasPrimaryIndex());
  }
  EXPECT_EQ(Cursor()->RestructureTable(Options(model)), TRestructurePath::IndexRebuild);
  auto cursor = Cursor();
  cursor->Open();
  EXPECT_TRUE(cursor->HasPrimaryIndex());
  TBuffer buffer(cursor->RecordSize());
  cursor->First();
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  EXPECT_EQ(testing::IdOf(*cursor, buffer), 1);  // in key order, not in insertion order
  cursor->Close();
  EXPECT_EQ(Verify(), std::vector<std::string>{});
}

// --- Rules and refusals ----------------------------------------------------------------------

TEST_F(RestructureTest, AccessRules) {
  TModel model = SmallModel(3);
  CreateModelTable(model);
  auto open = Cursor();
  open->Open();
  EXPECT_EQ(RaisedCode([&] { open->RestructureTable(Options(model)); }), codes::kTableInUse);
  open->Close();
  auto shared = Cursor();
  shared->SetExclusive(false);
  EXPECT_EQ(RaisedCode([&] { shared->RestructureTable(Options(model)); }),
            codes::kExclusiveRequired);
  auto readOnly = Cursor();
  readOnly->SetReadOnly(true);
  EXPECT_EQ(RaisedCode([&] { readOnly->RestructureTable(Options(model)); }), codes::kAccessDenied);
  TRestructureOptions twice = Options(model);
  twice.Definition.Fields[2].FieldName = "name";
  EXPECT_EQ(RaisedCode([&] { Cursor()->RestructureTable(twice); }), codes::kInvalidFieldName);
  EXPECT_EQ(ReadRows(model), model.Rows);
}

// Each refusal stops the whole operation: the table keeps its definitions and rows, and no
// temporary table is left.
TEST_F(RestructureTest, ValuesTheNewDefinitionsCannotHoldStopTheOperation) {
  struct TCase {
    const char* Name;
    int Code;
    void (*Change)(TModel&);
  };
  const TCase cases[] = {
      {"WordsIntoAnInteger", codes::kInvalidFieldDefinition,
       [](TModel& m) { m.Fields[1].Kind = TKind::Integer; }},
      {"MemoIntoAString", codes::kInvalidFieldDefinition,
       [](TModel& m) {
         m.Fields[3].Kind = TKind::String;
         m.Fields[3].Size = 40;
       }},
      {"UniqueIndexOverEqualNames", codes::kDuplicateKey,
       [](TModel& m) { m.Fields[1].Size = 11; }},  // with ByName unique below
  };
  for (const TCase& entry : cases) {
    SCOPED_TRACE(entry.Name);
    const TModel model = SmallModel(20);
    CreateModelTable(model);
    const std::string data = testing::ReadWholeFile(folder.File("T.DAT"));
    TModel changed = model;
    entry.Change(changed);
    TRestructureOptions options = Options(changed);
    if (entry.Code == codes::kDuplicateKey) options.Definition.SecondaryIndexes[0].Unique = true;
    EXPECT_EQ(RaisedCode([&] { Cursor()->RestructureTable(options); }), entry.Code);
    EXPECT_EQ(testing::ReadWholeFile(folder.File("T.DAT")), data);
    EXPECT_EQ(ReadRows(model), model.Rows);
    EXPECT_EQ(Verify(), std::vector<std::string>{});
  }
  // Only the table's own files (and what the cases kept as backups) are left.
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
    EXPECT_EQ(entry.path().filename().string().substr(0, 2), "T.") << entry.path();
}

TEST_F(RestructureTest, AUniqueIndexAddedOverEqualKeysPutsTheIndexFileBack) {
  const TModel model = SmallModel(20);
  CreateModelTable(model);
  const std::string before = testing::ReadWholeFile(folder.File("T.IDX"));
  TRestructureOptions options = Options(model);
  options.Definition.SecondaryIndexes[0].Unique = true;
  EXPECT_EQ(RaisedCode([&] { Cursor()->RestructureTable(options); }), codes::kDuplicateKey);
  EXPECT_EQ(testing::ReadWholeFile(folder.File("T.IDX")), before);
  EXPECT_FALSE(Exists(kIndexBackupExtension));
  EXPECT_EQ(Verify(), std::vector<std::string>{});
}

TEST_F(RestructureTest, ValuesAreConvertedToTheNewTypes) {
  TModel model = SmallModel(12);
  for (auto& [id, row] : model.Rows) row[1] = std::to_string(id * 11);  // names of digits
  CreateModelTable(model);
  model.Fields[1].Kind = TKind::LargeInt;  // digits into a large integer
  model.Fields[2].Kind = TKind::String;    // an integer into text
  model.Fields[2].Size = 3;
  model.Fields[3].Size = 0;
  model.Indexes.clear();
  for (auto& [id, row] : model.Rows) {
    if (row[2]) row[2] = row[2]->substr(0, 3);
  }
  EXPECT_EQ(Cursor()->RestructureTable(Options(model)), TRestructurePath::DataCopy);
  EXPECT_EQ(ReadRows(model), model.Rows);
  EXPECT_EQ(Verify(), std::vector<std::string>{});
}

// --- Model test ------------------------------------------------------------------------------

// What a change of definitions does to a value, as the model predicts it: the new text, or
// nothing at all when the value cannot be carried over (the restructure must refuse).
std::optional<TValue> Convert(const TValue& value, const TModelField& from, const TModelField& to) {
  if (!value) return TValue{};
  if (from.Kind == TKind::Memo && to.Kind != TKind::Memo) return std::nullopt;
  if (to.Kind == TKind::String) {
    const std::string cut = value->substr(0, static_cast<std::size_t>(to.Size));
    return cut.empty() ? TValue{} : TValue{cut};
  }
  if (to.Kind == TKind::Memo) return value;
  const bool digits =
      !value->empty() && value->find_first_not_of("0123456789-") == std::string::npos;
  if (!digits) return std::nullopt;
  return value;
}

class TRestructureModel {
 public:
  TRestructureModel(std::uint32_t seed, TModel model) : FRandom(seed), FModel(std::move(model)) {}

  TModel& Model() { return FModel; }

  // A random new set of definitions: the new model, the field numbers for the definition
  // (each kept field its old position, new fields numbers above the old count), and whether
  // the values fit (else the restructure must refuse).
  struct TChange {
    TModel Next;
    std::vector<std::uint16_t> Numbers;
    bool Fits = true;
    TRestructurePath Path = TRestructurePath::InPlace;
  };

  TChange Propose() {
    TChange change{FModel, {}, true, TRestructurePath::InPlace};
    TModel& next = change.Next;
    const int kinds = Pick(7);
    bool layout = false;
    bool indexes = false;
    if (kinds == 0 && next.Fields.size() > 1) {  // rename a field
      next.Fields[Pick(next.Fields.size())].Name = "F" + std::to_string(next.NextFieldId++);
    } else if (kinds == 1) {  // add an index
      const TModelField& field = next.Fields[1 + Pick(next.Fields.size() - 1)];
      if (field.Kind != TKind::Memo && next.Indexes.size() < 4) {
        next.Indexes.push_back({"I" + std::to_string(next.NextFieldId++), {field.Id, 1}});
        indexes = true;
      }
    } else if (kinds == 2 && !next.Indexes.empty()) {  // drop an index
      next.Indexes.erase(next.Indexes.begin() + static_cast<long>(Pick(next.Indexes.size())));
      indexes = true;
    } else if (kinds == 3 && next.Fields.size() < 8) {  // add a field
      const TKind kind = static_cast<TKind>(Pick(4));
      next.Fields.insert(next.Fields.begin() + 1 + static_cast<long>(Pick(next.Fields.size())),
                         {next.NextFieldId, kind, 1 + static_cast<int>(Pick(20)),
                          "F" + std::to_string(next.NextFieldId)});
      ++next.NextFieldId;
      layout = true;
    } else if (kinds == 4 && next.Fields.size() > 2) {  // drop a field and its indexes
      const int id = next.Fields[1 + Pick(next.Fields.size() - 1)].Id;
      next.Fields.erase(next.Fields.begin() + PositionOf(next.Fields, id) - 1);
      std::erase_if(next.Indexes, [id](const TModelIndex& index) {
        return std::find(index.FieldIds.begin(), index.FieldIds.end(), id) != index.FieldIds.end();
      });
      layout = true;
    } else if (kinds == 5 && next.Fields.size() > 2) {  // change a field's kind or size
      TModelField& field = next.Fields[1 + Pick(next.Fields.size() - 1)];
      field.Kind = static_cast<TKind>(Pick(4));
      field.Size = 1 + static_cast<int>(Pick(20));
      if (field.Kind == TKind::Memo) DropIndexesOf(next, field.Id);
      layout = true;
    } else if (next.Fields.size() > 2) {  // move a field
      const std::size_t a = 1 + Pick(next.Fields.size() - 1);
      const std::size_t b = 1 + Pick(next.Fields.size() - 1);
      std::swap(next.Fields[a], next.Fields[b]);
      layout = a != b;
    }
    for (const TModelField& field : next.Fields) {
      const int old = PositionOf(FModel.Fields, field.Id);
      change.Numbers.push_back(static_cast<std::uint16_t>(
          old != 0 ? old : static_cast<int>(FModel.Fields.size()) + 1 + field.Id));
    }
    // A kind or size drawn again, or a field moved onto itself, changes nothing.
    layout = next.Fields.size() != FModel.Fields.size();
    for (std::size_t i = 0; !layout && i < next.Fields.size(); ++i) {
      const TModelField& a = next.Fields[i];
      const TModelField& b = FModel.Fields[i];
      layout = a.Id != b.Id || a.Kind != b.Kind || (a.Kind == TKind::String && a.Size != b.Size);
    }
    change.Path = layout    ? TRestructurePath::DataCopy
                  : indexes ? TRestructurePath::IndexRebuild
                            : TRestructurePath::InPlace;
    next.Rows.clear();
    for (const auto& [id, row] : FModel.Rows) {
      std::vector<TValue> moved;
      for (const TModelField& field : next.Fields) {
        const int old = PositionOf(FModel.Fields, field.Id);
        if (old == 0) {
          moved.push_back(TValue{});
          continue;
        }
        const std::optional<TValue> value = Convert(row[old - 1], FModel.Fields[old - 1], field);
        if (!value) change.Fits = false;
        moved.push_back(value.value_or(TValue{}));
      }
      next.Rows[id] = moved;
    }
    return change;
  }

  // A few rows of random values for the current fields.
  std::vector<TValue> RandomRow(std::int32_t id) {
    std::vector<TValue> row{std::to_string(id)};
    for (std::size_t i = 1; i < FModel.Fields.size(); ++i) {
      const TModelField& field = FModel.Fields[i];
      if (Pick(5) == 0) {
        row.push_back(TValue{});
        continue;
      }
      std::string text =
          Pick(2) == 0 ? std::to_string(Pick(100000)) : "w" + std::to_string(Pick(999));
      if (field.Kind == TKind::Integer || field.Kind == TKind::LargeInt)
        text = std::to_string(Pick(100000));
      if (field.Kind == TKind::String) text = text.substr(0, static_cast<std::size_t>(field.Size));
      row.push_back(text);
    }
    return row;
  }

  std::size_t Pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(FRandom);
  }

 private:
  static void DropIndexesOf(TModel& model, int id) {
    std::erase_if(model.Indexes, [id](const TModelIndex& index) {
      return std::find(index.FieldIds.begin(), index.FieldIds.end(), id) != index.FieldIds.end();
    });
  }

  std::mt19937 FRandom;
  TModel FModel;
};

TEST_F(RestructureTest, RandomChangesAgreeWithTheModel) {
  for (const std::uint32_t seed : {11u, 12u, 13u}) {
    SCOPED_TRACE(seed);
    TRestructureModel model(seed, SmallModel(0));
    std::int32_t nextId = 1;
    for (int i = 0; i < 60; ++i) model.Model().Rows[nextId] = model.RandomRow(nextId), ++nextId;
    CreateModelTable(model.Model());
    for (int step = 0; step < 25; ++step) {
      SCOPED_TRACE(step);
      TRestructureModel::TChange change = model.Propose();
      TRestructureOptions options = Options(change.Next, change.Numbers);
      options.NoBackup = model.Pick(2) == 0;
      if (!change.Fits) {
        EXPECT_NE(RaisedCode([&] { Cursor()->RestructureTable(options); }), 0);
      } else {
        EXPECT_EQ(Cursor()->RestructureTable(options), change.Path);
        model.Model() = change.Next;
      }
      ASSERT_EQ(ReadRows(model.Model()), model.Model().Rows);
      ASSERT_EQ(Verify(), std::vector<std::string>{});
      // New rows now and then, so that later changes see values of every kind of field.
      auto cursor = Cursor();
      cursor->Open();
      for (int k = 0; k < 3; ++k) {
        model.Model().Rows[nextId] = model.RandomRow(nextId);
        InsertModelRow(*cursor, model.Model(), model.Model().Rows[nextId]);
        ++nextId;
      }
    }
  }
}

// --- Interruptions ---------------------------------------------------------------------------

// A write failing at any point leaves the table as it was or as asked, readable and sound.
TEST_F(RestructureTest, WritesFailingAnywhereLeaveTheOldOrTheNewTable) {
  const TModel model = SmallModel(60);
  TModel copied = model;
  copied.Fields[1].Size = 20;
  TModel reindexed = model;
  reindexed.Indexes.push_back({"ByCount", {3}});
  for (const TModel* target : {&copied, &reindexed}) {
    bool done = false;
    for (std::int64_t budget = 0; !done; budget += 2048) {
      SCOPED_TRACE(budget);
      ASSERT_LT(budget, 4'000'000);
      CreateModelTable(model);
      faults.WriteBudget = budget;
      const int code = RaisedCode([&] { Cursor()->RestructureTable(Options(*target)); });
      faults.WriteBudget = -1;
      done = code == 0;
      const TModel& expected = done ? *target : model;
      ASSERT_EQ(ReadRows(expected), expected.Rows);
      ASSERT_EQ(Verify(), std::vector<std::string>{});
      EXPECT_FALSE(Exists(kSwapNoteExtension));
    }
  }
}

// A swap stopped after any of its file steps, as by a crash, is finished by the next opening
// once its note was written, and leaves the old table before that.
TEST_F(RestructureTest, ASwapInterruptedAfterAnyStepLeavesOneWholeTable) {
  const TModel old = SmallModel(5);
  TModel next = SmallModel(8);
  next.Fields.pop_back();  // no memo: the new table has no BLOB file
  for (auto& [id, row] : next.Rows) row.pop_back();
  constexpr int kNoteStep = 0;  // no old backups to delete first
  for (int steps = 0; steps <= 9; ++steps) {
    SCOPED_TRACE(steps);
    CreateModelTable(old);
    for (std::string_view extension :
         {kDataBackupExtension, kIndexBackupExtension, kBlobBackupExtension})
      sandbox->Files().DeleteListedFile(sandbox->Directory().TableFileName("T", extension), false);
    Cursor("N")->CreateTable(Definition(next, {}), true);
    {
      auto cursor = Cursor("N");
      cursor->Open();
      for (const auto& [id, row] : next.Rows) InsertModelRow(*cursor, next, row);
    }
    TTableSwap swap{"T", "N", false, steps % 2 == 0, false};
    SwapInTableStoppingAfter(sandbox->Directory(), swap, steps);
    const bool swapped = steps > kNoteStep;
    const TModel& expected = swapped ? next : old;
    EXPECT_EQ(ReadRows(expected), expected.Rows);
    EXPECT_EQ(Verify(), std::vector<std::string>{});
    EXPECT_FALSE(Exists(kSwapNoteExtension));
    if (swapped) {
      EXPECT_FALSE(Exists(kDataExtension, "N") || Exists(kBlobExtension));
    }
    if (!swapped) sandbox->Directory().DeleteTable("N", false);
  }
}

// Notes no swap wrote (cut short, naming the table itself or a table that is not there) are
// dropped and leave the table whole.
TEST_F(RestructureTest, NotesNoSwapWroteAreDroppedAndTheTableStays) {
  const TModel old = SmallModel(4);
  CreateModelTable(old);
  for (const std::string& bytes : {std::string(), std::string("KSW"), std::string("KSWP\x01\x05N"),
                                   std::string("KSWP\x01\x01T"), std::string("KSWP\x01\x01t"),
                                   std::string("KSWP\x00\x01X", 7)}) {
    testing::WriteWholeFile(folder.File("T.SWP"), bytes);
    EXPECT_EQ(ReadRows(old), old.Rows);
    EXPECT_FALSE(Exists(kSwapNoteExtension));
    EXPECT_EQ(Verify(), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace kura
