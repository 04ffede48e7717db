// Helpers for the tests of cursor BLOB buffers and the text index: a table with two BLOB
// fields, the post of a record buffer's BLOBs the way a writer does it (under the write lock,
// written back before the lock goes), stored values read straight from the files, and the
// block accounting of the BLOB file over every live record.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_table.h"

namespace kura::testing {

inline constexpr int kIdField = 1;
inline constexpr int kNameField = 2;
inline constexpr int kNoteField = 3;  // memo
inline constexpr int kDataField = 4;  // binary

// Fields ID (integer), NAME (string of 20), NOTE (memo) and DATA (binary BLOB), no index
// but "Sys Deleted", BLOB blocks of blockSize bytes (0: 512). With textIndex the text index
// covers NAME and NOTE.
void CreateBlobsTable(TDataDirectory& directory, const std::string& name, bool textIndex,
                      std::uint32_t blockSize = 0);

// The post of a record buffer as a writer makes it: under the write lock the cursor's
// modified buffers are written (WriteModified) and the buffer's fields replace those of
// record recordNo; written back before the lock goes. Answers whether BLOBs were written.
bool PostRecordBlobs(TDataCursor& cursor, std::span<std::uint8_t> buffer, std::int32_t recordNo);

// The stored image of record n.
std::vector<std::uint8_t> StoredRecord(TDataTable& table, std::int32_t n);
// Replaces the stored image of record n (under the write lock, written back).
void StoreRecord(TDataTable& table, std::int32_t n, std::span<const std::uint8_t> image);
// The stored value of a BLOB field of record n, read from the BLOB file.
std::vector<std::uint8_t> StoredBlob(TDataTable& table, std::int32_t n, int fieldNo);

// Every block of the BLOB file in exactly one live record's value or on the free chain:
// an empty string, or what is wrong.
std::string BlobAccountingProblem(TDataTable& table);

}  // namespace kura::testing
