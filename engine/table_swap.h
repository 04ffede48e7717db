// Putting a rebuilt table in the place of the old one so that an interruption at any point
// leaves either the old table or the new one, never neither and never a mix of the two.
//
// THE RULE. The new table is written whole, and pushed to the device, under a temporary name
// N in the table's own directory (so that every rename stays on one file system). Then:
//   1. the old backups (".DBK", ".IBK", ".BBK") are deleted;
//   2. the swap note "<table>.SWP" is written and pushed to the device. This is the moment
//      the new table becomes the table;
//   3. for each of ".IDX", ".BLB", ".DAT": the old file, when there is one, is renamed to its
//      backup extension, then N's file, when there is one, to the table's name;
//   4. without backups, the backup files are deleted; then the note is deleted.
// An interruption before the note exists leaves the old table untouched (N's files are left
// over, as any temporary file of an interrupted operation). Once it exists, FinishTableSwap,
// which every opening of the table calls first, repeats steps 3 and 4. Repeating is harmless:
// while N's file of an extension is still there it has not moved yet, so the table's file of
// that extension is still the old one; once it is gone, the table's file is the new one. For
// a new table without BLOB fields (no N.BLB) the note says so, and any table ".BLB" is old.
//
// THE NOTE "<table>.SWP"
//   OFFSET  SIZE  DESCRIPTION
//        0     4  "KSWP"
//        4     1  flags: bit 0 the backups are kept, bit 1 the new table has a BLOB file
//        5     1  length n of the temporary table name (1..255)
//        6     n  the temporary table name (no directory, no extension)
// A note shorter than its length says, or without its mark, was cut by an interruption while
// it was written: nothing had been renamed yet, so it is deleted and the old table stays. So
// is a note that names the table itself or a path (no swap writes one). Since the data file
// moves last, a note whose new table has no data file left has nothing more to move: a note
// naming a table that does not exist moves nothing.
#pragma once

#include <string>
#include <string_view>

namespace kura {

class TDataDirectory;

inline constexpr std::string_view kSwapNoteExtension = ".SWP";

struct TTableSwap {
  std::string TableName;
  // The temporary table holding the new files, in the same directory.
  std::string NewTableName;
  bool InMemory = false;
  bool KeepBackups = true;
  bool NewHasBlobFile = false;
};

// Steps 1 to 4 above. The files of both tables must be closed. Raises the engine error of the
// first file operation that fails; a failure after the note was written leaves the rest to
// the next FinishTableSwap.
void SwapInTable(TDataDirectory& directory, const TTableSwap& swap);

// Finishes a swap that was interrupted after its note was written (steps 3 and 4); nothing
// when the table has no note. Raises the engine error of a rename or delete that fails (the
// table is then neither opened nor mixed).
void FinishTableSwap(TDataDirectory& directory, std::string_view tableName, bool inMemory);

// For tests of interruptions: runs SwapInTable's steps but stops after `steps` file
// operations (deletes, the note, renames), as a crash there would.
void SwapInTableStoppingAfter(TDataDirectory& directory, const TTableSwap& swap, int steps);

}  // namespace kura
