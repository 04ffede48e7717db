// Keeping the text index ("Sys Text", index slot 32) in step with the records.
//
// The text index covers the string and memo fields its descriptor names (at most 16). The
// text of each is split into words with the table's text-index parameters (space and include
// characters, stop words skipped; storage/index_text.h); each distinct word of a field gives
// one key (1, field number, upper-cased word, RowId; storage/index_key.h BuildTextKey) with
// the record number.
//
// WHERE A MEMO'S TEXT COMES FROM
//   the record being posted: the modified BLOB buffer of that field open in the record
//       buffer, else the buffer open there unmodified, else the stored value its slot names;
//   the record as stored (the old side of an edit, a delete): the stored value its slot
//       names, read from the BLOB file.
// So the words must be taken before the post's BLOB buffers are written: an edit's old
// values and a deleted record's values are read from their chains, which the write changes.
//
// Every change runs under the table's write lock; the index pages are written back by the
// caller's EndUpdate. A key that should be there but is not, when removed, raises 8965.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "storage/field_descriptor.h"
#include "storage/index_text.h"

namespace kura {

class TCursorBlobs;
class TDataTable;

// The fields the table's text index covers, in the descriptor's order (empty: no text index).
std::vector<TFieldDescriptor> TextIndexFields(TDataTable& table);

// The distinct words of each covered field of a record: field number -> upper-cased words.
using TRecordWords = std::map<std::uint16_t, std::set<std::string>>;

// The words of a record. blobs (may be null) supplies the open buffers of a record buffer
// being posted; without it memo texts are read from the stored values.
TRecordWords RecordWords(TDataTable& table, const TTextIndexParams& params,
                         std::span<const std::uint8_t> record, const TCursorBlobs* blobs);

// What an edit does to the text index: the words to remove (with the old RowId) and to add
// (with the new one). With the same RowId only the words that differ; else all of both.
struct TTextIndexChange {
  TRecordWords Removed;
  TRecordWords Added;
};
TTextIndexChange TextIndexChange(const TRecordWords& oldWords, const TRecordWords& newWords,
                                 bool rowIdChanged);

// Applies a change worked out beforehand (RecordWords, TextIndexChange), for a post that
// must take the words before the BLOB values change: removes the Removed keys with
// oldRowId, adds the Added keys with newRowId and the record number.
void ApplyTextIndexChange(TDataTable& table, const TTextIndexChange& change, std::int32_t oldRowId,
                          std::int32_t newRowId, std::int32_t recordNo);

// Insert: adds the keys of every word of the new record (recordNo is its record number).
void AddRecordWords(TDataTable& table, const TTextIndexParams& params,
                    std::span<const std::uint8_t> record, std::int32_t recordNo,
                    const TCursorBlobs* blobs);

// Delete: removes the keys of every word of the record as stored.
void RemoveRecordWords(TDataTable& table, const TTextIndexParams& params,
                       std::span<const std::uint8_t> storedRecord);

// Edit: removes the keys of the words only in the old record and adds those only in the new
// one; when the RowId changed, removes every old key and adds every new one. oldRecord is the
// record as stored, newRecord the buffer being posted (its memo texts from blobs when open).
void UpdateRecordWords(TDataTable& table, const TTextIndexParams& params,
                       std::span<const std::uint8_t> oldRecord,
                       std::span<const std::uint8_t> newRecord, std::int32_t recordNo,
                       const TCursorBlobs* blobs);

}  // namespace kura
