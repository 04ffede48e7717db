// Search keys of partial lookups and range limits: how much of a key a lookup compares, and
// the padding that makes a partly given key the lowest (or highest) key of its kind.
//
// A key over fields f1..fk is, per field, a null byte and KeySize value bytes, then (in a
// non-unique index) the 4-byte RowId suffix. A lookup that gives fewer fields, or only the
// first characters of its last string field, compares that leading part only; the rest of
// the key is padded with the lowest sort values so that the lookup lands on the first key
// that starts with the given part, or (for the end of a range) with the highest so that every
// such key lies below it.
//
// "Lowest" means lowest in the index's comparison: a descending index (or, in a table with a
// locale, a descending field, whose comparison is negated) takes the highest byte values
// instead. String value bytes of a table with a locale take the locale's lowest and highest
// sorting characters; every other byte 0x00 and 0xFF.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "storage/index_key.h"

namespace kura {

// The bytes of the leading key part that covers the first `fieldCount` key fields (all of
// them when 0 or more than the index has); with partialLength > 0 and a string last field,
// that field counts only its null byte and its first partialLength bytes.
int LeadingKeyLength(const TKeyFormat& format, int fieldCount, int partialLength = 0);

// Whether a lookup with these arguments compares only a leading part of the key: fewer
// fields than the index has, a partial length, or a non-unique index (whose keys end with the
// RowId).
bool IsPartialLookup(const TKeyFormat& format, int fieldCount, int partialLength);

// Overwrites key[from, KeyLength) with the lowest (highest) sort values.
void PadKey(const TKeyFormat& format, std::span<std::uint8_t> key, int from, bool highest);

// A range limit over the key length: the given key with the fields after `fieldCount` padded
// (a non-unique index pads its RowId suffix as well); an empty `given` is the lowest
// (highest) key of the index altogether.
std::vector<std::uint8_t> RangeLimitKey(const TKeyFormat& format,
                                        std::span<const std::uint8_t> given, int fieldCount,
                                        bool highest);

}  // namespace kura
