// The stress table (table_stress.h has its fields) through a cursor: its creation, rows
// stored into and read from record buffers, BLOB values written and read.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tools/kura/stress_journal.h"

namespace kura {
class TDataCursor;
class TDataDirectory;
}  // namespace kura

namespace kura::tool {

// Creates the table in the directory, or checks that the table there has the stress fields
// and indexes (an engine error otherwise).
void CreateOrCheckStressTable(TDataDirectory& directory);

// Stores the row's ID, CODE, GRP, VER and BLOBTAG into a record buffer.
void StoreStressRow(const TDataCursor& cursor, std::span<std::uint8_t> buffer,
                    const TStressRow& row);
// The row in a record buffer with its BLOB value (BlobLength the value's size).
TStoredStressRow ReadStressRow(TDataCursor& cursor, std::span<std::uint8_t> buffer);
// Replaces the BLOB value of the buffer by the contents of the tag (left open for the post).
void WriteStressBlob(TDataCursor& cursor, std::span<std::uint8_t> buffer, std::int32_t tag,
                     std::uint32_t length);
// Every row of the table with its BLOB value, by ID.
TStoredStressRows ReadStressTable(TDataCursor& cursor);

}  // namespace kura::tool
