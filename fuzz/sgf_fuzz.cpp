// Arbitrary bytes as an SGF file: reading never crashes, hangs or overflows the stack; what it
// reads writes back to text that reads the same; every game tree either converts to a problem
// or is refused with ESgfError; and a converted problem, written out and read again, gives back
// the same rows.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/exchange/sgf_problem.h"
#include "app/exchange/sgf_reader.h"
#include "app/exchange/sgf_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace goramina;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TSgfCollection collection;
  try {
    collection = ReadSgf(bytes);
  } catch (const ESgfError&) {
    return 0;
  }
  const std::string written = WriteSgf(collection);
  if (WriteSgf(ParseSgf(written)) != written) std::abort();
  for (const auto& tree : collection.trees) {
    TImportedProblem imported;
    try {
      imported = ProblemFromSgf(*tree);
    } catch (const ESgfError&) {
      continue;
    }
    const std::string again = WriteSgfTree(*SgfFromProblem(imported.problem));
    const TSgfCollection back = ParseSgf(again);
    if (back.trees.size() != 1) std::abort();
    if (!(ProblemFromSgf(*back.trees[0]).problem == imported.problem)) std::abort();
  }
  return 0;
}
