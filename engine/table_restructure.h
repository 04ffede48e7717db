// What a restructure of a table is asked to make, and which of its three ways it took.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/data_table.h"
#include "storage/index_text.h"

namespace kura {

struct TRestructureOptions {
  // The new fields, settings (locale, BLOB block size, description, encryption and password,
  // user versions) and indexes. A field that keeps an old field's values carries that old
  // field's number (its position in the old table); a new field carries a number no old
  // field has. Either every field is numbered or none is (then field i keeps old field i).
  // Index key fields and text index fields name fields by these numbers.
  TTableDefinition Definition;
  // The text index's parameters; nothing keeps the table's.
  std::optional<TTextIndexParams> TextParams;
  // The row-number counter: -1 keeps the table's; a larger value than the table's raises it.
  std::int32_t LastAutoInc = -1;
  // The old files are deleted instead of kept with the backup extensions.
  bool NoBackup = false;
};

// The way a restructure took, from the cheapest: nothing but descriptor texts and header
// values rewritten; the index file built again in place (its copy kept as ".IBK"); every
// record copied into a new table that then took the old one's place.
enum class TRestructurePath { InPlace, IndexRebuild, DataCopy };

}  // namespace kura
