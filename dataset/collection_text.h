// The text form of the problem collection, read into (and written from) the in-memory tables
// until the table engine's files take over.
//
// A collection folder (normally "DBgoramina") holds two files, mondai.tsv and tejun.tsv:
//   - UTF-8 text, one row per line, fields separated by a single TAB, lines ending in LF
//     (a CR before the LF is tolerated, as is a byte-order mark at the start);
//   - lines starting with '#' are comments; the first other line is the header, naming the
//     table's fields in table order, exactly
//       mondai.tsv: MNB HNB KB1 KB2 MRK CMT HNT
//       tejun.tsv:  TNB HNB TES COL PST BFR BTO CMT
//   - integers are decimal with an optional leading '-'; an empty cell is null (an integer
//     then reads as 0, a string as empty); strings hold no TAB or line break;
//   - rows are in the order the table keeps them: the rows of one problem in tejun in tree
//     order, the set-up first and each sequence after the one it continues.
// Strings are converted to code page 932 on reading and back to UTF-8 on writing.
#pragma once

#include <filesystem>
#include <memory>

#include "dataset/memory_database.h"

namespace kura {

// Reads mondai.tsv and tejun.tsv of `folder` into a new problem collection. A missing file
// raises engine error 11010 naming the file; a malformed one raises 11300 with the file, the
// line number and what is wrong.
std::shared_ptr<TMemoryDatabase> LoadProblemCollection(const std::filesystem::path& folder);

// Reads one table's file into an existing table of `database`, appending its rows.
void LoadTableText(TMemoryDatabase& database, std::string_view table,
                   const std::filesystem::path& file);

// Writes both tables back to `folder` in the same form. Each file is written beside the old
// one and renamed over it, so a failed write leaves the old file whole; failure raises 9218.
void SaveProblemCollection(const TMemoryDatabase& database, const std::filesystem::path& folder);

}  // namespace kura
