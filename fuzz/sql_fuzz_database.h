// The in-memory database the SQL fuzz targets prepare and execute against: tables shaped
// like the trainer's problem and move tables, and a table of the other field types, each
// with a few rows. Made once per process.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "sql/query_database.h"
#include "sql/select_test_support.h"
#include "storage/field_types.h"
#include "storage/file_list.h"

namespace kura::fuzzing {

inline kura::TFieldDescriptor Field(const char* name, std::uint8_t type, std::uint8_t size = 0,
                                    std::uint8_t subType = 0) {
  kura::TFieldDescriptor field;
  field.FieldName = name;
  field.FieldType = type;
  field.FieldSize = size;
  field.FieldSubType = subType;
  if (type == kura::kFieldTypeBcd) field.FieldDecimals = 2;
  return field;
}

inline kura::TTableDefinition Definition(std::initializer_list<kura::TFieldDescriptor> fields,
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
    kura::testing::InsertRows(Directory, "mondai",
                              {"1 | 30 | 1 | 1 | 0 | first | NULL", "2 | 10 | 1 | 2 | 1 | b | x",
                               "3 | 10 | 2 | NULL | 2 | NULL | corner"});
    kura::testing::InsertRows(
        Directory, "tejun",
        {"1 | 10 | 1 | 1 | 61 | 0 | 9999 | a", "2 | 10 | 2 | -1 | 62 | 1 | 1 | b",
         "3 | 30 | 1 | 2 | 63 | 0 | 9999 | NULL"});
    Create("kinds", Definition({Field("ID", kFieldTypeInteger), Field("D", kFieldTypeDate),
                                Field("T", kFieldTypeTime), Field("TS", kFieldTypeTimestamp),
                                Field("B", kFieldTypeBoolean), Field("F", kFieldTypeFloat),
                                Field("P", kFieldTypeBcd), Field("L", kFieldTypeLargeInt),
                                Field("M", kFieldTypeBlob, 0, kSubTypeMemo),
                                Field("S", kFieldTypeString, 250)},
                               1));
    kura::testing::InsertRows(
        Directory, "kinds",
        {"1 | 2001-02-03 | 10:11:12 | NULL | TRUE | 1.5 | 2.25 | 7 | memo | s",
         "2 | NULL | NULL | NULL | FALSE | -3 | NULL | NULL | NULL | NULL"});
  }

  void Create(const char* name, const kura::TTableDefinition& definition) {
    Directory.CloseTable(Directory.CreateTable(name, true, definition, true));
  }

  kura::TFileList Files;
  kura::TDataSession Session;
  kura::TDataDirectory& Directory;
  kura::TSqlDatabase Database;
};

inline TFuzzDatabase& Database() {
  static auto* database = new TFuzzDatabase();  // kept to the end of the process
  return *database;
}

}  // namespace kura::fuzzing
