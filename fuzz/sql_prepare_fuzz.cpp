// Arbitrary text prepared against two in-memory tables shaped like the trainer's problem and
// move tables (plus a table of the other field types): every statement prepares or raises an
// engine error, never a crash, a hang or a leak, and no table stays open once the statement
// is gone.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "base/engine_error.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "sql/query_database.h"
#include "storage/field_types.h"
#include "storage/file_list.h"

namespace {

kura::TFieldDescriptor Field(const char* name, std::uint8_t type, std::uint8_t size = 0,
                             std::uint8_t subType = 0) {
  kura::TFieldDescriptor field;
  field.FieldName = name;
  field.FieldType = type;
  field.FieldSize = size;
  field.FieldSubType = subType;
  if (type == kura::kFieldTypeBcd) field.FieldDecimals = 2;
  return field;
}

kura::TTableDefinition Definition(std::initializer_list<kura::TFieldDescriptor> fields,
                                  std::uint16_t indexedField) {
  kura::TTableDefinition definition;
  definition.Fields = fields;
  kura::TIndexDefinition index;
  index.Name = "ByKey";
  index.Fields = {indexedField};
  definition.SecondaryIndexes.push_back(index);
  return definition;
}

// The session, its in-memory database and the tables, made once per process.
struct TFuzzDatabase {
  TFuzzDatabase()
      : Session(false, Files), Directory(Session.OpenDirectory("Memory", "")), Database(Directory) {
    using namespace kura;
    Create("mondai",
           Definition({Field("MNB", kFieldTypeInteger), Field("HNB", kFieldTypeInteger),
                       Field("KB1", kFieldTypeInteger), Field("KB2", kFieldTypeInteger),
                       Field("MRK", kFieldTypeInteger), Field("CMT", kFieldTypeString, 200),
                       Field("HNT", kFieldTypeString, 100)},
                      2));
    Create("tejun",
           Definition({Field("TNB", kFieldTypeInteger), Field("HNB", kFieldTypeInteger),
                       Field("TES", kFieldTypeInteger), Field("COL", kFieldTypeSmallInt),
                       Field("PST", kFieldTypeSmallInt), Field("BFR", kFieldTypeInteger),
                       Field("BTO", kFieldTypeInteger), Field("CMT", kFieldTypeString, 100)},
                      2));
    Create("kinds", Definition({Field("ID", kFieldTypeInteger), Field("D", kFieldTypeDate),
                                Field("T", kFieldTypeTime), Field("TS", kFieldTypeTimestamp),
                                Field("B", kFieldTypeBoolean), Field("F", kFieldTypeFloat),
                                Field("P", kFieldTypeBcd), Field("L", kFieldTypeLargeInt),
                                Field("M", kFieldTypeBlob, 0, kSubTypeMemo),
                                Field("S", kFieldTypeString, 250)},
                               1));
  }

  void Create(const char* name, const kura::TTableDefinition& definition) {
    Directory.CloseTable(Directory.CreateTable(name, true, definition, true));
  }

  kura::TFileList Files;
  kura::TDataSession Session;
  kura::TDataDirectory& Directory;
  kura::TSqlDatabase Database;
};

TFuzzDatabase& Database() {
  static auto* database = new TFuzzDatabase();  // kept to the end of the process
  return *database;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TFuzzDatabase& database = Database();
  {
    kura::TQueryStatement statement(&database.Database);
    statement.FRequestLive = size % 2 == 0;
    try {
      statement.Prepare(text);
      while (statement.HasMoreStatements()) statement.PrepareNext();
    } catch (const kura::EKuraEngineError& error) {
      if (error.ErrorText.size() > 255) std::abort();
      if (!statement.FQueries.empty() || !statement.FParams.empty()) std::abort();
    }
  }
  // Every cursor closed with its statement: no table left open.
  if (!database.Directory.Tables().empty() || !database.Database.Statements().empty()) {
    std::abort();
  }
  return 0;
}
