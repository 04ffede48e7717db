// Behaviour shared by memory and disk files: positions per handle, reads cut at the end,
// writes that grow and cut the file, and byte-range locks within one process.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "storage/abstract_file.h"
#include "storage/file_handler.h"
#include "storage/file_list.h"
#include "storage/file_test_support.h"

namespace kura {
namespace {

using testing::TScratchFolder;

class FileKindTest : public ::testing::TestWithParam<bool> {
 protected:
  bool InMemory() const { return GetParam(); }

  // A created file, open through `first`, with a second handler open on it.
  void SetUp() override {
    ASSERT_FALSE(folder.Path().empty());
    first.SetFileName(folder.File("kind.DAT"));
    first.SetInMemory(InMemory());
    first.CreateFile();
    first.Close();
    first.Open();
    second.SetFileName(first.FileName());
    second.SetInMemory(InMemory());
    second.Open();
  }

  std::string ReadAll(TFileHandler& handler) {
    std::string bytes(static_cast<std::size_t>(handler.FileSize()), '\0');
    handler.Seek(kSeekFromStart, 0);
    handler.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return bytes;
  }

  TScratchFolder folder;
  TFileList list;
  TFileHandler first{list};
  TFileHandler second{list};
};

TEST_P(FileKindTest, HandlesKeepTheirOwnPositions) {
  ASSERT_EQ(first.File(), second.File());
  EXPECT_EQ(first.HandleId() + 1, second.HandleId());
  first.WriteBuffer("abcdef", 6);
  EXPECT_EQ(first.Seek(kSeekFromCurrent, 0), 6);
  EXPECT_EQ(second.Seek(kSeekFromCurrent, 0), 0);
  char two[3] = {};
  second.ReadBuffer(two, 2);
  EXPECT_STREQ(two, "ab");
  EXPECT_EQ(first.FileSize(), 6);
  EXPECT_EQ(first.Seek(kSeekFromCurrent, 0), 6) << "FileSize restores the position";
}

TEST_P(FileKindTest, ReadsStopAtTheEndAndWritesGrowWithZeros) {
  first.WriteBuffer("xyz", 3);
  first.Seek(kSeekFromStart, 10);
  first.WriteBuffer("!", 1);
  EXPECT_EQ(ReadAll(second), std::string("xyz\0\0\0\0\0\0\0!", 11));

  char buffer[8];
  second.Seek(kSeekFromStart, 9);
  EXPECT_EQ(second.ReadBuffer(buffer, 8, /*allowShort=*/true), 2);
  EXPECT_EQ(second.Seek(kSeekFromCurrent, 0), 11);
  second.Seek(kSeekFromStart, 9);
  EXPECT_THROW(second.ReadBuffer(buffer, 8), EKuraEngineError);
}

TEST_P(FileKindTest, ZeroLengthWriteCutsAndTheCutBytesDoNotComeBack) {
  first.WriteBuffer("0123456789", 10);
  first.Seek(kSeekFromStart, 4);
  first.WriteBuffer(nullptr, 0);
  EXPECT_EQ(first.FileSize(), 4);
  // Growing again past the cut must show zeros, not the old bytes.
  first.Seek(kSeekFromStart, 8);
  first.WriteBuffer("Z", 1);
  EXPECT_EQ(ReadAll(second), std::string("0123\0\0\0\0Z", 9));
}

TEST_P(FileKindTest, SeekRefusesPositionsBeforeTheStart) {
  first.WriteBuffer("abc", 3);
  EXPECT_EQ(first.Seek(kSeekFromEnd, -1), 2);
  EXPECT_THROW(first.Seek(kSeekFromCurrent, -5), EKuraEngineError);
  EXPECT_EQ(first.Seek(kSeekFromCurrent, 0), 2) << "a refused seek leaves the position";
  EXPECT_EQ(first.File()->Seek(first.HandleId(), 7, 0).Status, OSFailure(EINVAL))
      << "unknown origin";
  EXPECT_EQ(first.File()->Seek(999, kSeekFromStart, 0).Status, OSFailure(EBADF))
      << "unknown handle";
}

struct LockStep {
  bool lock;  // lock, or unlock
  std::int64_t start;
  std::int64_t length;
  bool granted;
};

// One sequence of lock and unlock calls on one file, each with its expected answer.
void RunLockSteps(TFileHandler& a, TFileHandler& b, const std::vector<LockStep>& steps) {
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const LockStep& step = steps[i];
    // Alternate the handlers: all handles of the process share the file's locks.
    TFileHandler& handler = i % 2 ? b : a;
    const bool answer = step.lock ? handler.LockRange(step.length, step.start)
                                  : handler.UnlockRange(step.length, step.start);
    EXPECT_EQ(answer, step.granted) << "step " << i << (step.lock ? " lock " : " unlock ")
                                    << step.start << " length " << step.length;
  }
}

TEST_P(FileKindTest, OverlappingRangesAreRefusedAndUnlockIsExact) {
  RunLockSteps(first, second,
               {
                   {true, 10, 10, true},    // 10-19
                   {true, 15, 10, false},   // 15-24 overlaps
                   {true, 19, 1, false},    // the last byte of 10-19
                   {true, 20, 10, true},    // 20-29 touches but does not overlap
                   {false, 10, 5, false},   // not the range that was locked
                   {false, 11, 10, false},  // nor this
                   {false, 10, 10, true},   // 10-19
                   {false, 10, 10, false},  // already gone
                   {true, 15, 5, true},     // 15-19 free again
                   {true, 0, 0, false},     // an empty range locks nothing
                   {true, -1, 2, false},    // nor one before the start
               });
}

TEST_P(FileKindTest, EngineLockPositionsAboveFourGigabytesOnATinyFile) {
  first.WriteBuffer("tiny", 4);
  constexpr std::int64_t kTableByte = 4294967295;  // must not turn into -1
  constexpr std::int64_t kWriteRange = 4294901759;
  constexpr std::int64_t kWriteLength = 65536;
  RunLockSteps(first, second,
               {
                   {true, kTableByte, 1, true},
                   {true, kWriteRange, kWriteLength, true},
                   {true, kTableByte, 1, false},
                   {true, kTableByte - 1, 1, false},  // a read slot inside the write range
                   {true, kWriteRange - 1, 1, true},  // just below it
                   {true, 0, 1, true},                // well away from both
                   {false, kWriteRange, kWriteLength, true},
                   {true, kTableByte - 1, 1, true},
                   {false, kTableByte, 1, true},
               });
}

// One lock over a range takes over the byte locks inside it, and its release keeps the bytes
// named, as the process's own list sees it (what another process sees: physical_file_test).
TEST_P(FileKindTest, ARangeTakesOverTheByteLocksInsideIt) {
  for (std::int64_t b : {100, 105, 150}) ASSERT_TRUE(first.LockRange(1, b));
  ASSERT_TRUE(first.LockRange(10, 195));  // 195-204 crosses the end of 100-199
  EXPECT_FALSE(second.LockRangeAbsorbing(100, 100, 4)) << "a lock crosses the border";
  ASSERT_TRUE(first.UnlockRange(10, 195));
  EXPECT_FALSE(second.LockRangeAbsorbing(100, 100, 2)) << "three locks lie inside";
  ASSERT_TRUE(second.LockRangeAbsorbing(100, 100, 3));
  EXPECT_FALSE(first.LockRange(1, 120));
  EXPECT_FALSE(first.UnlockRange(1, 105)) << "taken over by the range";
  const std::vector<std::int64_t> outside = {99};
  EXPECT_FALSE(first.UnlockRangeKeeping(100, 100, outside));
  const std::vector<std::int64_t> kept = {105, 199};
  ASSERT_TRUE(first.UnlockRangeKeeping(100, 100, kept));
  EXPECT_TRUE(second.LockRange(1, 100));
  EXPECT_TRUE(second.LockRange(1, 198));
  EXPECT_FALSE(second.LockRange(1, 105));
  EXPECT_TRUE(first.UnlockRange(1, 199));
  EXPECT_FALSE(first.UnlockRange(100, 100)) << "the range is gone";
}

TEST_P(FileKindTest, LocksNeedAnOpenHandler) {
  first.Close();
  EXPECT_FALSE(first.LockRange(1, 100));
  EXPECT_TRUE(second.LockRange(1, 100));
  EXPECT_FALSE(first.UnlockRange(1, 100));
}

INSTANTIATE_TEST_SUITE_P(MemoryAndDisk, FileKindTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Memory" : "Disk"; });

TEST(MemoryFileTest, BlockGrowsInSteps) {
  TMemoryFile file("grow", false, true);
  const std::int32_t handle = file.CreateFile().Value;
  ASSERT_GT(handle, 0);
  EXPECT_EQ(file.Capacity(), 0);
  EXPECT_EQ(file.Write(handle, "a", 1).Value, 1);
  EXPECT_EQ(file.Capacity(), 4096);
  file.Seek(handle, kSeekFromStart, 4096);
  EXPECT_EQ(file.Write(handle, "b", 1).Value, 1);
  EXPECT_EQ(file.Capacity(), 8192);
  EXPECT_EQ(file.GetFileSize().Value, 4097);
  EXPECT_EQ(file.Read(handle, nullptr, -1).Status, OSFailure(EINVAL));
  EXPECT_EQ(file.Write(99, "c", 1).Status.Code, codes::kInvalidFileHandle) << "unknown handle";
}

TEST(MemoryFileTest, ClosingTheLastHandleGivesUpItsLocks) {
  TFileList list;
  TAbstractFile* file = nullptr;
  const std::int32_t handle = list.CreateListedFile("locks", true, false, file).Value;
  ASSERT_GT(handle, 0);
  ASSERT_TRUE(file->LockRange(1, 4294967295));
  ASSERT_TRUE(list.CloseListedFile(file, true, handle).Ok());
  bool readOnly, attribute;
  const std::int32_t again =
      list.OpenListedFile("locks", true, false, false, file, readOnly, attribute).Value;
  ASSERT_GT(again, handle) << "ids keep counting for the life of the file";
  EXPECT_TRUE(file->LockRange(1, 4294967295));
}

}  // namespace
}  // namespace kura
