// What the index fuzz targets share: the table whose index files they read (an INTEGER, a
// CHAR(10) and a FLOAT field; the stored corpora hold indexes over these fields) and an index
// file made from the input bytes in memory.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "storage/field_descriptor.h"
#include "storage/field_types.h"
#include "storage/file_handler.h"
#include "storage/index_file.h"

namespace kura {

inline std::vector<TFieldDescriptor> FuzzFields() {
  std::vector<TFieldDescriptor> fields(3);
  fields[0].FieldName = std::string("ID");
  fields[0].FieldType = kFieldTypeInteger;
  fields[1].FieldName = std::string("NAME");
  fields[1].FieldType = kFieldTypeString;
  fields[1].FieldSize = 10;
  fields[2].FieldName = std::string(1, 'V');
  fields[2].FieldType = kFieldTypeFloat;
  LayoutFields(fields);
  return fields;
}

// Writes the bytes as the in-memory file `name`, opens it as the index file of the fuzz
// table and hands it to use(file); engine errors of the opening or of use end it quietly.
// The file is closed and deleted afterwards.
template <typename TUse>
void WithFuzzIndexFile(const std::string& name, std::span<const std::uint8_t> bytes, TUse use) {
  {
    TFileHandler raw;
    raw.SetFileName(name);
    raw.SetInMemory(true);
    raw.CreateFile();
    raw.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    raw.Close();
  }
  {
    TIndexFile file;
    file.SetFileName(name);
    file.SetInMemory(true);
    file.SetTable(FuzzFields(), {}, false);
    try {
      file.Open();
      use(file);
    } catch (const EKuraEngineError&) {
    }
    file.DiscardPages();
    file.Close();
  }
  TFileHandler raw;
  raw.SetFileName(name);
  raw.SetInMemory(true);
  raw.DeleteFile();
}

}  // namespace kura
