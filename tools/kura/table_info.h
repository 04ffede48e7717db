// `kura info`: what a table is made of, read from its three file headers: the data header,
// the fields, the index header with every index, the BLOB header, and the record, page and
// block counts. Written as readable text or as JSON for scripts.
//
// JSON shape (keys are stable; numbers are JSON numbers, flags true/false, texts strings
// converted from code page 932 to UTF-8; a value that could not be read is null):
//   {"tables": [ {"table": "FOO",
//                 "data":    {"file": ..., "version": 5, "recordSlots": 3, ...},
//                 "fields":  [ {"number": 1, "name": "ID", "type": "INTEGER", ...}, ... ],
//                 "index":   {"file": ..., "pages": 2, "liveRecords": 3, ...} or null,
//                 "indexes": [ {"slot": 0, "name": "", "fields": "NAME", "keys": 3, ...} ],
//                 "blob":    {"file": ..., "blocks": 0, ...} or null,
//                 "problems": [ "<file>: <what>", ... ] } ] }
//
// An encrypted table shows its field names, description, index names and key fields only to
// who gives its password: without it the data header's plain part (numbers and flags; the
// description and password are scrambled on disk) is all that is shown, "contents" says
// why, and the fields, the index file and the BLOB file are left out ([] and null in JSON).
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/kura/table_reader.h"

namespace kura::tool {

enum class TFactKind { Number, Flag, Text, Unknown };

// One named value: Label for the text form, Key for JSON, Value already as text ("yes"/"no"
// for flags).
struct TFact {
  std::string Label;
  std::string Key;
  std::string Value;
  TFactKind Kind = TFactKind::Text;
};
using TFacts = std::vector<TFact>;

struct TTableInfo {
  std::string Table;
  TFacts Data;                  // empty when the data file could not be opened
  std::vector<TFacts> Fields;   // one per field
  TFacts Index;                 // empty when there is no readable index file
  std::vector<TFacts> Indexes;  // one per index in use
  TFacts Blob;                  // empty without a readable BLOB file
  std::vector<std::string> Problems;
};

// The password of encrypted tables: the one given (as typed, UTF-8), else Ask's answer for
// the table (Ask may be empty; it is called only for an encrypted table).
struct TInfoAccess {
  std::optional<std::string> Password;
  std::function<std::optional<std::string>(const std::string& table)> Ask;
};

TTableInfo ReadTableInfo(const TTablePath& path, TFileList& list = FileList(),
                         const TInfoAccess& access = {});

void WriteInfoText(std::ostream& out, const std::vector<TTableInfo>& tables);
void WriteInfoJson(std::ostream& out, const std::vector<TTableInfo>& tables);

// A JSON string literal of UTF-8 text: quotes, backslashes and control characters escaped.
std::string JsonString(std::string_view text);

// The type of a field as a CREATE TABLE would name it ("CHAR(20)", "AUTOINC", "MEMO").
std::string FieldTypeName(const TFieldDescriptor& field);

}  // namespace kura::tool
