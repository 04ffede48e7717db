// `kura verify`: every structure check of a table's data, index and BLOB files and their
// agreement with each other, reported as findings, one line each ("<file>: <what is wrong>").
//
// What is checked, in order (a file that cannot be opened or fails its header checks stops
// the checks that need it):
//   data file   the structure check of opening (a BlobFieldCount that disagrees with the
//               fields is named); every record slot readable; live records
//               numbered with their own slot, their field slots sound (indicators, string
//               terminators, booleans, BLOB references); RowIds unique over all slots and
//               none above LastAutoInc; the chain of deleted slots from FirstFree without
//               loops, through deleted slots only, and (with a primary index of its own)
//               holding every deleted slot. A header count that lies is named.
//   index file  the structure check of opening (a refused header is read again to name the
//               field out of place); LiveRecordCount equal to the live records;
//               the full tree check of every index (pages, levels, links, key order, counts,
//               free chain); every index except "Sys Text" holding exactly one key per live
//               record ("Sys Deleted": per record slot, live or deleted), built from the
//               record as an insert builds it, and no key for anything else; the words of
//               "Sys Text" only of live records' RowIds; no page in two indexes, and (when
//               every tree could be walked) none in no index and on no free chain.
//   BLOB file   the structure check of opening; every BLOB of a live record a sound chain
//               (its change number on every block, back links, lengths adding up); the free
//               chain; every block of the file in exactly one chain.
// Damaged bytes never crash, hang or allocate beyond the size of the files: every engine
// error met is a finding.
#pragma once

#include <string>
#include <vector>

#include "tools/kura/table_reader.h"

namespace kura::tool {

// At most this many findings are listed per table; a last line says how many were left out.
inline constexpr std::size_t kMaxFindingsPerTable = 200;

// The findings for one table; empty when it is sound.
std::vector<std::string> VerifyTable(const TTablePath& path, TFileList& list = FileList());

}  // namespace kura::tool
