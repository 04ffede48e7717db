// Arbitrary text prepared against two in-memory tables shaped like the trainer's problem and
// move tables (plus a table of the other field types): every statement prepares or raises an
// engine error, never a crash, a hang or a leak, and no table stays open once the statement
// is gone.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "base/engine_error.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "fuzz/sql_fuzz_database.h"
#include "sql/query_database.h"
#include "storage/field_types.h"
#include "storage/file_list.h"

using kura::fuzzing::Database;
using kura::fuzzing::TFuzzDatabase;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TFuzzDatabase& database = Database();
  {
    kura::TQueryStatement statement(&database.Database);
    statement.FRequestLive = size % 2 == 0;
    try {
      statement.Prepare(text);
      while (statement.HasMoreStatements()) statement.PrepareNext();
    } catch (const kura::EKuraEngineError& error) {
      if (error.ErrorText.size() > 255) std::abort();
      if (!statement.FQueries.empty() || !statement.FParams.empty()) std::abort();
    }
  }
  // Every cursor closed with its statement: no table left open.
  if (!database.Directory.Tables().empty() || !database.Database.Statements().empty()) {
    std::abort();
  }
  return 0;
}
