#include "tools/kura/table_reader.h"

#include <gtest/gtest.h>

#include "tools/kura/kura_test_tables.h"

namespace kura::tool {
namespace {

using testing::TChildEnd;
using testing::TEngineSandbox;
using testing::TForkedChild;
using testing::TSampleTable;
using testing::TScratchFolder;

constexpr char kDone = 'd';

// Inserts rows 1001.. into the table from another process and waits until it is done.
void InsertInAnotherProcess(const std::string& folder, int rows) {
  TForkedChild child([=](TChildEnd& end) {
    try {
      TEngineSandbox sandbox(folder);
      TDataTable& table = sandbox.Directory().OpenTable("T", false, false);
      for (int i = 0; i < rows; ++i)
        testing::InsertRow(table, 1001 + i, "Late" + std::to_string(i));
      sandbox.Directory().CloseTable(table);
      end.Send(kDone);
      return 0;
    } catch (const std::exception&) {
      return 1;
    }
  });
  ASSERT_TRUE(child.Started());
  ASSERT_EQ(child.Receive(), kDone);
  ASSERT_EQ(child.Wait(), 0);
}

TEST(TableReader, HeadersAreReadAgainOnceTheReadLockIsHeld) {
  TScratchFolder folder;
  {
    TEngineSandbox sandbox(folder.Path());
    TSampleTable sample;
    sample.RowCount = 10;
    testing::MakeSampleTable(sandbox, "T", sample);
  }
  TFileList list;
  TTableReader reader({folder.File("T"), false}, list);
  std::vector<std::string> problems;
  reader.Open(problems);
  ASSERT_TRUE(problems.empty());
  ASSERT_EQ(reader.Data().RecordCount(), 10);
  InsertInAnotherProcess(folder.Path(), 3);  // between opening and locking
  ASSERT_TRUE(reader.LockForReading());
  EXPECT_EQ(reader.Data().RecordCount(), 13);
  EXPECT_EQ(reader.Index().LiveRecordCount(), 13);
}

}  // namespace
}  // namespace kura::tool
