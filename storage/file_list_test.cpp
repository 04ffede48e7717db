// The process's file list: one object per file, exclusive opens, memory files that outlive
// their handles, rename and delete, and the names it accepts.
#include "storage/file_list.h"

#include <gtest/gtest.h>

#include <string>

#include "storage/file_test_support.h"

namespace kura {
namespace {

using testing::OpenDescriptorCount;
using testing::PathExists;
using testing::ReadWholeFile;
using testing::TScratchFolder;
using testing::WriteWholeFile;

// A status as one number: the value on success (0 for a bare status), else the negated code.
template <typename T>
T Answer(const TFileResult<T>& result) {
  return result.Ok() ? result.Value : -static_cast<T>(result.Status.Code);
}
std::int32_t Answer(const TFileStatus& status) {
  return -static_cast<std::int32_t>(status.Code);
}

class FileListTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder.Path().empty()); }

  std::int32_t Open(const std::string& name, bool inMemory, bool exclusive,
                    TAbstractFile** file = nullptr) {
    TAbstractFile* opened = nullptr;
    bool readOnly, attribute;
    const std::int32_t handle =
        Answer(list.OpenListedFile(name, inMemory, false, exclusive, opened, readOnly, attribute));
    if (file) *file = opened;
    return handle;
  }

  TScratchFolder folder;
  TFileList list;
};

TEST_F(FileListTest, OneDiskFileWithTwoHandles) {
  const std::string path = folder.File("orders.DAT");
  WriteWholeFile(path, "data");
  const int descriptorsBefore = OpenDescriptorCount();
  TAbstractFile *a = nullptr, *b = nullptr;
  const std::int32_t first = Open(path, false, false, &a);
  const std::int32_t second = Open(folder.Path() + "/./orders.DAT", false, false, &b);
  ASSERT_EQ(first, 1);
  ASSERT_EQ(second, 2);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->OpenCount(), 2);
  EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore + 2)
      << "one descriptor for both, and one for the file's lock companion";

  EXPECT_EQ(Answer(list.CloseListedFile(a, false, first)), 0);
  EXPECT_EQ(list.FindListedFile(path, false), a);
  EXPECT_EQ(Answer(list.CloseListedFile(a, false, first)), -11014) << "closed already";
  EXPECT_EQ(Answer(list.CloseListedFile(a, false, second)), 0);
  EXPECT_EQ(list.FindListedFile(path, false), nullptr);
  EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);
  EXPECT_EQ(Answer(list.CloseListedFile(a, false, second)), -11010) << "no longer listed";
}

TEST_F(FileListTest, ExclusiveOpensInsideTheProcess) {
  struct Case {
    bool inMemory;
    bool firstExclusive;
    bool secondExclusive;
    bool secondOpens;
  };
  const Case cases[] = {
      {true, false, false, true},  {true, false, true, false},  {true, true, false, false},
      {true, true, true, false},   {false, false, false, true}, {false, false, true, false},
      {false, true, false, false}, {false, true, true, false},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "memory " << c.inMemory << " first " << c.firstExclusive
                                      << " second " << c.secondExclusive);
    const std::string name = folder.File("excl" + std::to_string(++round) + ".DAT");
    TAbstractFile* file = nullptr;
    const std::int32_t created = Answer(list.CreateListedFile(name, c.inMemory, false, file));
    ASSERT_GT(created, 0);
    // A file just created is exclusive until closed.
    EXPECT_EQ(Open(name, c.inMemory, false), -11013);
    TAbstractFile* refused = nullptr;
    EXPECT_EQ(Answer(list.CreateListedFile(name, c.inMemory, false, refused)), -11013);
    ASSERT_EQ(Answer(list.CloseListedFile(file, c.inMemory, created)), 0);

    const std::int32_t first = Open(name, c.inMemory, c.firstExclusive, &file);
    ASSERT_GT(first, 0);
    const std::int32_t second = Open(name, c.inMemory, c.secondExclusive);
    if (c.secondOpens) {
      EXPECT_GT(second, first);
      EXPECT_EQ(Answer(list.CloseListedFile(file, c.inMemory, second)), 0);
    } else {
      EXPECT_EQ(second, -11013);
    }
    EXPECT_EQ(Answer(list.CloseListedFile(file, c.inMemory, first)), 0);
    EXPECT_EQ(Answer(list.DeleteListedFile(name, c.inMemory)), 0);
  }
}

TEST_F(FileListTest, MemoryFileLivesUntilDeleted) {
  TAbstractFile* file = nullptr;
  EXPECT_EQ(Open("Memo.DAT", true, false), -11010) << "never created";
  EXPECT_FALSE(list.ListedFileExists("Memo.DAT", true));

  const std::int32_t created = Answer(list.CreateListedFile("Memo.DAT", true, false, file));
  ASSERT_GT(created, 0);
  ASSERT_EQ(Answer(file->Write(created, "contents", 8)), 8);
  ASSERT_EQ(Answer(list.CloseListedFile(file, true, created)), 0);

  EXPECT_TRUE(list.ListedFileExists(" memo.dat ", true)) << "trimmed, any case";
  EXPECT_FALSE(list.ListedFileExists("Memo.DAT", false)) << "a disk file is another entry";
  TAbstractFile* again = nullptr;
  const std::int32_t reopened = Open("MEMO.DAT", true, false, &again);
  ASSERT_GT(reopened, 0);
  EXPECT_EQ(again, file);
  char bytes[8];
  EXPECT_EQ(Answer(again->Read(reopened, bytes, 8)), 8);
  EXPECT_EQ(std::string(bytes, 8), "contents");
  Answer(list.CloseListedFile(again, true, reopened));

  // Creating it again empties it.
  const std::int32_t recreated = Answer(list.CreateListedFile("memo.dat", true, false, file));
  EXPECT_EQ(Answer(file->GetFileSize()), 0);
  Answer(list.CloseListedFile(file, true, recreated));

  EXPECT_EQ(Answer(list.DeleteListedFile("Memo.DAT", true)), 0);
  EXPECT_FALSE(list.ListedFileExists("Memo.DAT", true));
  EXPECT_EQ(Answer(list.DeleteListedFile("Memo.DAT", true)), -11010);
}

TEST_F(FileListTest, RenameAndDeleteWaitForTheLastHandle) {
  const std::string disk = folder.File("a.DAT");
  WriteWholeFile(disk, "A");
  TAbstractFile* memory = nullptr;
  ASSERT_GT(Answer(list.CreateListedFile("a.DAT", true, false, memory)), 0);
  TAbstractFile* file = nullptr;
  const std::int32_t handle = Open(disk, false, false, &file);
  ASSERT_GT(handle, 0);

  for (const bool inMemory : {true, false}) {
    const std::string name = inMemory ? "a.DAT" : disk;
    EXPECT_EQ(Answer(list.RenameListedFile(name, inMemory, name + ".new")), -11013);
    EXPECT_EQ(Answer(list.DeleteListedFile(name, inMemory)), -11013);
  }
  Answer(list.CloseListedFile(file, false, handle));
  Answer(list.CloseListedFile(memory, true, 1));

  EXPECT_EQ(Answer(list.RenameListedFile(disk, false, folder.File("b.DAT"))), 0);
  EXPECT_EQ(ReadWholeFile(folder.File("b.DAT")), "A");
  EXPECT_EQ(Answer(list.RenameListedFile("a.DAT", true, "b.DAT")), 0);
  EXPECT_TRUE(list.ListedFileExists("B.dat", true));
  EXPECT_EQ(Answer(list.RenameListedFile("a.DAT", true, "c.DAT")), -11010) << "no such memory file";
  EXPECT_EQ(Answer(list.RenameListedFile(disk, false, folder.File("c.DAT"))), -11010);
  EXPECT_EQ(Answer(list.DeleteListedFile(folder.File("b.DAT"), false)), 0);
  EXPECT_FALSE(PathExists(folder.File("b.DAT")));
  EXPECT_EQ(Answer(list.DeleteListedFile(folder.File("b.DAT"), false)), -11010);
}

TEST_F(FileListTest, RenameNeverReplacesAnotherFile) {
  WriteWholeFile(folder.File("old.DAT"), "old");
  WriteWholeFile(folder.File("keep.DAT"), "keep");
  EXPECT_EQ(Answer(list.RenameListedFile(folder.File("old.DAT"), false, folder.File("keep.DAT"))),
            -11047);
  EXPECT_EQ(Answer(list.RenameListedFile(folder.File("old.DAT"), false, folder.File("KEEP.dat"))),
            -11047)
      << "a name differing only in case names the same table";
  EXPECT_EQ(ReadWholeFile(folder.File("keep.DAT")), "keep");
  EXPECT_EQ(ReadWholeFile(folder.File("old.DAT")), "old");
  // Changing only the case of a file's own name is allowed.
  EXPECT_EQ(Answer(list.RenameListedFile(folder.File("old.DAT"), false, folder.File("OLD.DAT"))),
            0);
  EXPECT_EQ(ReadWholeFile(folder.File("OLD.DAT")), "old");

  TAbstractFile* file = nullptr;
  Answer(list.CreateListedFile("one", true, false, file));
  Answer(list.CloseListedFile(file, true, 1));
  Answer(list.CreateListedFile("two", true, false, file));
  Answer(list.CloseListedFile(file, true, 1));
  EXPECT_EQ(Answer(list.RenameListedFile("one", true, "TWO")), -11047);
}

TEST_F(FileListTest, NamesThatNameNoFile) {
  TAbstractFile* file = nullptr;
  const std::string tooLong(256, 'x');
  const std::string longest(255, 'x');
  // 255 characters of three bytes each are still 255 characters.
  std::string japanese;
  for (int i = 0; i < 255; ++i) japanese += "\xE5\x95\x8F";  // 問

  EXPECT_EQ(Answer(list.CreateListedFile(tooLong, true, false, file)), -11047);
  EXPECT_EQ(file, nullptr);
  EXPECT_GT(Answer(list.CreateListedFile(longest, true, false, file)), 0);
  EXPECT_GT(Answer(list.CreateListedFile(japanese, true, false, file)), 0);
  EXPECT_EQ(Answer(list.CreateListedFile("   ", true, false, file)), -11010);
  EXPECT_FALSE(list.ListedFileExists("", false));
  EXPECT_EQ(Open(folder.File("missing.DAT"), false, false), -11010);
  EXPECT_EQ(Open(folder.File("no/such/folder.DAT"), false, false), -11010);
  EXPECT_EQ(Open(folder.Path(), false, false), -11013) << "a folder";
}

}  // namespace
}  // namespace kura
