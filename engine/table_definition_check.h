// The checks a table definition passes before any file of a new table is made, so that a
// refused definition (or one refused after an existing table would have been overwritten)
// leaves every file as it was.
//
// ORDER and codes (each raised with the table name, and the field or index name involved):
//   options   an encrypted table's password, trimmed, 1..15 characters (10015); a locale
//             other than 0 installed here (15878); at most 1024 fields and a last
//             auto-increment value of -1 or more (9492); at most 32 index definitions (primary,
//             30 secondary, text) (9487); a BLOB block size of at least 64 (9498);
//   fields    in order, the name trimmed and cut to 30 characters: not empty, starting with a
//             letter, "_" or a byte 128..254, unique without regard to case (10038); field
//             numbers given (non-zero) unique (10000); a type (10000); strings, bytes and
//             varbytes sized 1..250, every other type size 0 (10000); decimals cleared except
//             for packed decimals; minimum, maximum and default texts that convert to the
//             type (10006); no calculated field (10000);
//   indexes   at most 30 secondary (9487); a secondary name, trimmed, present (10010),
//             starting with a letter, "_" or a byte 128..254 (10022) and unique without regard
//             to case (10027); 1..16 key fields (the primary index may have none; more than
//             16: 9487), each an existing field (10023 with the number as text) and not a BLOB
//             (12292); field parts of 1..522 bytes (10026); text index fields strings or memos
//             (12292).
// Index key fields name fields by their field number when the definition gives numbers,
// else by position; the check translates them to positions, the numbering a created table
// has.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/data_table.h"

namespace kura {

// Checks and normalises the definition in place (names trimmed and cut, sizes and decimals
// cleared where the type takes none, index field numbers as positions); raises the first
// violation.
void CheckTableDefinition(std::string_view tableName, TTableDefinition& definition,
                          std::int32_t lastAutoInc);

}  // namespace kura
