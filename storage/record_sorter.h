// Sorting the records of a result table in place: ORDER BY, DISTINCT, GROUP BY and TOP of a
// canned SQL result all end here.
//
// SORT KEY of a record, built like an index key (index_key.h): for each sort field its null
// byte and KeySize bytes of encoded value (strings upper-cased when the sort ignores case;
// the bytes of a descending field inverted when the table has no locale), then the record's
// RowId, 4 bytes big-endian with the top bit inverted. Key length = sum (KeySize + 1) + 4.
// Keys are compared like the keys of a non-unique index: field by field with the locale
// string comparison (descending fields negated) when the table has a locale, as unsigned
// bytes otherwise. Sorting compares whole keys, so records with equal sort values keep their
// RowId order; duplicate detection compares the keys without the RowId.
//
// TWO PATHS
//   in memory       every record slot of the table is in the record cache: the images are
//                   taken from it, sorted and written out; no temporary file is touched.
//   run and merge   otherwise: the table is read in blocks of RunRecords(record size)
//                   records; each block is sorted and written with one write to its own
//                   temporary file (a run, extension ".TMP"; a memory file for an in-memory
//                   table); the runs are then merged through a heap of their smallest
//                   unread entries. Every run file is closed and deleted on every path.
//
// RUN FILE (internal to one sort, never read by anyone else): its entries one after the
// other, each the record's sort key (KeyLength bytes) followed by its image (RecordSize
// bytes, plain even for an encrypted table: the file lives only while the sort runs).
//
// OUTPUT. Records are written in ascending key order from record 1 on, each with record
// number and RowId equal to its position; deleted slots are left out. Duplicates (equal keys
// without the RowId) are kept, removed (the one with the smallest RowId stays) or combined
// into one group row through the callbacks. A maximum number of rows stops the output once
// that many rows are finished; a group is finished only when a record with another key
// arrives (or the records end), so the last group row has seen all its records and passed
// the keep callback. The file is then cut after the last written record.
//
// FAILURE. An error of the file layer propagates after the run files are closed and deleted;
// the table then holds its records in an undefined order, possibly fewer of them (the caller
// discards a result table in that state).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/data_file.h"
#include "storage/field_descriptor.h"

namespace kura {

inline constexpr std::size_t kMaxSortFields = 1024;
// A run holds at most this many records, and at most this many bytes of images.
inline constexpr std::size_t kMaxSortRunRecords = 8192;
inline constexpr std::size_t kSortRunBytes = 1 << 20;
inline constexpr std::string_view kSortRunExtension = ".TMP";
// Bytes a run reads back at once while it is merged.
inline constexpr std::size_t kSortRunReadBytes = 16384;

struct TSortField {
  // A copy of the table's descriptor of the field.
  TFieldDescriptor Field;
  bool Descending = false;
};

enum class TDuplicateMode { Keep, Remove, Combine };

// The SQL layer's hooks for GROUP BY and HAVING (TDuplicateMode::Combine).
struct TSortCallbacks {
  // initialise set: row is the first record of a new group and other the group row written
  // before it (the record itself for the very first group), so that running values can carry
  // over. initialise clear: row is the group row and other a record with the same key, which
  // is not written. May change row's fields, not its header.
  std::function<void(std::span<std::uint8_t> row, std::span<const std::uint8_t> other,
                     bool initialise)>
      Accumulate;
  // Applied to a finished group row (optional).
  std::function<void(std::span<std::uint8_t> row)> Finalise;
  // Whether a finished group row stays (optional; all stay without it).
  std::function<bool(std::span<const std::uint8_t> row)> Keep;
};

struct TSortSpec {
  std::vector<TSortField> Fields;
  bool CaseInsensitive = false;
  // Rows written at most; negative for no limit.
  std::int64_t MaxRows = -1;
  TDuplicateMode Duplicates = TDuplicateMode::Keep;
  TSortCallbacks Callbacks;
  // Where the run files are made ("" is the working folder; ignored for an in-memory
  // table, whose runs are memory files).
  std::string RunDirectory;
  // Records per run at most; 0 for SortRunRecords (tests make smaller runs to merge many).
  std::size_t RunRecordsLimit = 0;
};

// Records of one run: min(8192, 1 MB div record size), and no more than 1 MB of keys.
std::size_t SortRunRecords(std::size_t recordSize, std::size_t keyLength);

// Rewrites the records of an open data file that the caller holds to itself and that has no
// index of its own, in the order the sort description gives; answers the number of records
// written. Refused before anything changes: more than 1024 sort fields or a field outside
// the record 10000, a BLOB field 12292. The header is marked changed, not written.
std::int32_t SortRecords(TDataFile& file, const TSortSpec& spec);

}  // namespace kura
