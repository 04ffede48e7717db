// Arbitrary text prepared and executed against small in-memory tables with rows: every
// statement answers rows or raises an engine error, never a crash, a hang or a leak, and no
// table (source or result) stays open once the statement is gone. Statements that would
// make tables of their own (INTO) or multiply many tables are only prepared.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "fuzz/sql_fuzz_database.h"
#include "sql/query_database.h"

namespace {

// Few enough source tables that a cross product of the fuzz tables' rows stays small.
constexpr std::size_t kMaxExecutedSources = 4;

bool Executable(const kura::TQueryStatement& statement) {
  for (const auto& query : statement.FQueries) {
    if (query->FKind != kura::qkSelect || !query->FIntoTable.empty() || query->FIntoMemory ||
        query->FSourceTables.size() > kMaxExecutedSources) {
      return false;
    }
  }
  return statement.FQueries.size() <= kMaxExecutedSources;
}

// Reads every row of the result once, as a caller would.
void WalkResult(kura::TDataCursor& cursor) {
  std::vector<std::uint8_t> buffer(cursor.RecordSize(), 0);
  cursor.First();
  while (cursor.GetNextRecord(buffer) == 0) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  kura::fuzzing::TFuzzDatabase& database = kura::fuzzing::Database();
  {
    kura::TQueryStatement statement(&database.Database);
    statement.FRequestLive = size % 2 == 0;
    statement.FMaxRowCount = size % 3 == 0 ? 2 : -1;
    try {
      statement.Prepare(text);
      if (Executable(statement)) {
        for (int run = 0; run < 2; ++run) {  // a second run re-installs every filter
          kura::TDataCursor* cursor = statement.Execute();
          if (cursor != nullptr) WalkResult(*cursor);
        }
      }
    } catch (const kura::EKuraEngineError& error) {
      if (error.ErrorText.size() > 255) std::abort();
    }
  }
  if (!database.Directory.Tables().empty() || !database.Database.Statements().empty()) {
    std::abort();
  }
  return 0;
}
