// Table file names and temporary file names.
#include "storage/file_names.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

#include "storage/file_test_support.h"

namespace kura {
namespace {

TEST(FileNamesTest, TableFiles) {
  struct Case {
    const char* directory;
    const char* table;
    std::string_view extension;
    const char* expected;
  };
  const Case cases[] = {
      {"/data", "Orders", kDataExtension, "/data/Orders.DAT"},
      {"/data", "Orders", kIndexExtension, "/data/Orders.IDX"},
      {"/data/", "Orders", kBlobExtension, "/data/Orders.BLB"},
      {"/data", "Orders.DAT", kIndexExtension, "/data/Orders.IDX"},
      {"/data", "Orders.dat", kDataExtension, "/data/Orders.DAT"},
      {"/data", "Orders.x", kDataExtension, "/data/Orders.x.DAT"},
      {"/data", "Orders.x", kBlobExtension, "/data/Orders.x.BLB"},
      {"/data", "Orders", kDataBackupExtension, "/data/Orders.DBK"},
      {"/data", "Orders.DAT", kIndexBackupExtension, "/data/Orders.IBK"},
      {"/data", "Orders", kBlobBackupExtension, "/data/Orders.BBK"},
      {"C:\\Data", "Orders", kDataExtension, "C:/Data/Orders.DAT"},
      {"/data", "/elsewhere/Orders", kIndexExtension, "/elsewhere/Orders.IDX"},
      {"/data", "sub\\Orders.DAT", kDataExtension, "sub/Orders.DAT"},
      {"", "mondai", kDataExtension, "mondai.DAT"},
      {"DBgoramina", "問題", kDataExtension, "DBgoramina/問題.DAT"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TableFileName(c.directory, c.table, c.extension), c.expected)
        << c.directory << " + " << c.table << " + " << c.extension;
}

TEST(FileNamesTest, TemporaryNamesSkipTakenOnes) {
  testing::TScratchFolder folder;
  ASSERT_FALSE(folder.Path().empty());
  TFileList list;
  const std::string digits = std::to_string(syscall(SYS_gettid)).substr(0, 5);
  const std::string stem = folder.Path() + "/" + digits;

  EXPECT_EQ(TemporaryFileName(folder.Path(), ".TMP", list), stem + "0.TMP");
  testing::WriteWholeFile(stem + "0.TMP", "");  // on disk
  TAbstractFile* file = nullptr;
  ASSERT_GT(list.CreateListedFile(stem + "1.TMP", true, true, file).Value, 0);  // a memory file
  EXPECT_EQ(TemporaryFileName(folder.Path() + "/", ".TMP", list), stem + "2.TMP");
}

}  // namespace
}  // namespace kura
