// The table whose index files the index fuzz targets read: an INTEGER, a CHAR(10) and a FLOAT
// field. The stored index corpora hold indexes over these fields.
#pragma once

#include <string>
#include <vector>

#include "storage/field_descriptor.h"
#include "storage/field_types.h"

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

}  // namespace kura
