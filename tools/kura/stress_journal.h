// The journals of `kura stress` and the check of a table against them.
//
// Every worker process owns the rows it inserts (their keys lie in its own band of IDs), so
// the order of its own journal decides the final state of each of its rows. A worker appends
// one line to its journal after each change the engine acknowledged:
//
//   LINE                                         CHANGE
//   I <id> <code> <group> <ver> <tag> <len>      insert of the row
//   E <old id> <id> <code> <group> <ver> <tag> <len>
//                                                edit of row <old id> (the key may change)
//   D <id>                                       delete of the row
//
// <ver> counts the changes of the row; <tag> names the row's BLOB value (0: none) and <len>
// its length: the value's bytes follow from the tag alone (StressBlobBytes), so that the
// check compares BLOB contents byte for byte without keeping them in the journal.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace kura::tool {

// One row as the stress table holds it.
struct TStressRow {
  std::int32_t Id = 0;
  std::string Code;
  std::string Group;
  std::int32_t Version = 0;
  std::int32_t BlobTag = 0;
  std::uint32_t BlobLength = 0;
  bool operator==(const TStressRow&) const = default;
};

// A row read back from the table with its BLOB value.
struct TStoredStressRow {
  TStressRow Row;
  std::vector<std::uint8_t> Blob;
};

using TStressRows = std::map<std::int32_t, TStressRow>;
using TStoredStressRows = std::map<std::int32_t, TStoredStressRow>;

// CODE of the row with this ID ("C" and the ID), GRP of group n ("G" and n).
std::string StressCode(std::int32_t id);
std::string StressGroup(int n);

// The contents of the BLOB value of a tag: printable bytes drawn from the tag, so that two
// tags give different values.
std::vector<std::uint8_t> StressBlobBytes(std::int32_t tag, std::uint32_t length);

// The journal lines of the three changes.
std::string InsertLine(const TStressRow& row);
std::string EditLine(std::int32_t oldId, const TStressRow& row);
std::string DeleteLine(std::int32_t id);

// Applies a journal to the rows (the expected state before it); answers what could not be
// applied, one finding per line ("<name> line <n>: ..."): an unreadable line, an insert of a
// key that exists, an edit or delete of a key that does not.
std::vector<std::string> ReplayJournal(std::istream& journal, const std::string& name,
                                       TStressRows& rows);

// Compares the rows read from the table with the expected ones: every expected row present
// with its fields and BLOB contents, and no other row. One finding per difference.
std::vector<std::string> CompareStressRows(const TStressRows& expected,
                                           const TStoredStressRows& actual);

}  // namespace kura::tool
