// The text index's parameters as the table keeps them: a stream of bytes over one or more
// parameter pages of the index file (page type 4), each page carrying 4083 bytes of the
// stream and linking the next one through its next-page link (0 on the last). The first page
// is the ParamPage of the "Sys Text" descriptor.
//
// STREAM (little-endian)
//
//   SIZE       DESCRIPTION
//   4          stop word count n (signed, never negative)
//   n x (4+k)  each stop word: its length k (signed, 0..4083), then its k characters
//   4 + 32     the space characters: the length 32, then 256 bits (character c is bit c mod 8
//              of byte c div 8, least significant bit first)
//   4 + 32     the include characters, the same way
//
// The stream simply runs on into the next page when a page's 4083 bytes are full; the rest
// of the last page is zero. Reading raises 8965 for a page of another type, a negative
// count, an item longer than 4083 bytes, a set whose length is not 32, a stream that ends
// early and a page chain that runs in a circle. Words longer than 4083 characters are cut
// when written.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "storage/index_file.h"
#include "storage/index_text.h"

namespace kura {

inline constexpr std::size_t kMaxTextParamItem = kPageEntryArea;  // 4083
inline constexpr std::size_t kTextParamSetBytes = 32;

std::vector<std::uint8_t> EncodeTextIndexParams(const TTextIndexParams& params);
// tableName names the table in the 8965 raised for a damaged stream.
TTextIndexParams DecodeTextIndexParams(std::span<const std::uint8_t> stream,
                                       std::string_view tableName);

// The parameters of the table's index file: the pages' stream decoded, or the defaults when
// there is no parameter page. Reads through the index file's page cache of "Sys Text".
TTextIndexParams LoadTextIndexParams(TIndexFile& index, std::string_view tableName);
// Writes the parameters over the existing page chain (more pages as needed, pages no longer
// needed go to the free chain) and sets ParamPage. The caller holds the write lock and
// writes the buffers back.
void StoreTextIndexParams(TIndexFile& index, const TTextIndexParams& params,
                          std::string_view tableName);

}  // namespace kura
