// Helpers for tests of SELECT execution: rows put into a table from their text form, and
// the rows of a result cursor read back as text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kura {
class TDataCursor;
class TDataDirectory;
}  // namespace kura

namespace kura::testing {

// Appends one record per line to the table; a line holds the field values in field order
// separated by "|" (blanks around a value are dropped), NULL for a NULL value.
void InsertRows(TDataDirectory& directory, std::string_view tableName,
                const std::vector<std::string>& lines);

// Every row of the cursor from its first, its values in field order joined by " | " (NULL
// for NULL, floats and dates in their text form). The cursor ends at its end crack.
std::vector<std::string> ReadRows(TDataCursor& cursor);

}  // namespace kura::testing
