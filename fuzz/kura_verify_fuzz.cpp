// Arbitrary bytes as a table's three files in memory files, checked by `kura verify` and read
// by `kura info` (text and JSON): findings or problems, never a crash, a hang, an escaping
// exception or an allocation beyond the size of the files.
//
// Input: the three files as table_fuzz_parts.h splits them (the flags byte is not used).
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "fuzz/table_fuzz_parts.h"
#include "tools/kura/table_info.h"
#include "tools/kura/table_verify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kura::TFileList* const list = new kura::TFileList;
  const kura::fuzzing::TTableParts parts = kura::fuzzing::SplitTableParts(data, size);
  kura::fuzzing::StoreMemoryFile(*list, "FUZZ.DAT", parts.Data);
  kura::fuzzing::StoreMemoryFile(*list, "FUZZ.IDX", parts.Index);
  kura::fuzzing::StoreMemoryFile(*list, "FUZZ.BLB", parts.Blob);
  const kura::tool::TTablePath path{"FUZZ", true};
  const std::vector<std::string> findings = kura::tool::VerifyTable(path, *list);
  // Every finding names its file.
  for (const std::string& finding : findings)
    if (finding.rfind("FUZZ.", 0) != 0) std::abort();
  const kura::tool::TTableInfo info = kura::tool::ReadTableInfo(path, *list);
  std::ostringstream text, json;
  kura::tool::WriteInfoText(text, {info});
  kura::tool::WriteInfoJson(json, {info});
  return 0;
}
