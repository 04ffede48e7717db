// Disk files between processes and against the file system: byte-range locks and share
// modes seen from a forked second process, the read-only attribute and the read-only
// fallback, temporary files, and names that differ only in case.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "storage/failing_file.h"
#include "storage/file_handler.h"
#include "storage/file_list.h"
#include "storage/file_test_support.h"
#include "storage/physical_file.h"

namespace kura {
namespace {

using testing::PathExists;
using testing::RaisedCode;
using testing::ReadWholeFile;
using testing::TChildEnd;
using testing::TForkedChild;
using testing::TScratchFolder;
using testing::WriteWholeFile;

constexpr char kReady = 'r';
constexpr char kGo = 'g';

class PhysicalFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.Path().empty());
    path = folder.File("shared.DAT");
    WriteWholeFile(path, "0123456789");
  }

  // A handler of the test's own file list on path.
  std::unique_ptr<TFileHandler> Handler(bool exclusive = false) {
    auto handler = std::make_unique<TFileHandler>(list);
    handler->SetFileName(path);
    handler->SetExclusive(exclusive);
    return handler;
  }

  // A child that opens path through a file list of its own (the parent's list and
  // descriptors are copies in the child and must not be used), runs work, tells the parent
  // it is ready, and holds everything until the parent says go. Exit code: work's answer.
  // readOnly: the child may only read the file (its read-write open is refused).
  std::unique_ptr<TForkedChild> ChildHolding(bool exclusive,
                                             const std::function<int(TFileHandler&)>& work,
                                             bool readOnly = false) {
    const std::string name = path;
    return std::make_unique<TForkedChild>([=](TChildEnd& end) {
      TFileList childList;
      if (readOnly) testing::InstallWriteRefusingFiles(childList);
      TFileHandler handler(childList);
      handler.SetFileName(name);
      handler.SetExclusive(exclusive);
      int code = 0;
      try {
        handler.Open();
        code = work(handler);
      } catch (const EKuraEngineError& error) {
        code = 50;
      }
      end.Send(kReady);
      end.Receive();
      return code;
    });
  }

  TScratchFolder folder;
  std::string path;
  TFileList list;
};

TEST_F(PhysicalFileTest, LocksConflictAcrossProcesses) {
  auto child = ChildHolding(false, [](TFileHandler& handler) {
    const bool held = handler.LockRange(10, 10) &&         // 10-19
                      handler.LockRange(1, 4294967295) &&  // the table byte
                      handler.LockRange(10, 30) &&         // 30-39, then given back exactly
                      handler.UnlockRange(10, 30);
    return held ? 0 : 1;
  });
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);

  auto handler = Handler();
  handler->Open();
  EXPECT_FALSE(handler->LockRange(10, 15)) << "15-24 overlaps the child's 10-19";
  EXPECT_FALSE(handler->LockRange(1, 4294967295));
  EXPECT_TRUE(handler->LockRange(65536, 4294901759))
      << "the write range ends just below the child's table byte";
  EXPECT_TRUE(handler->LockRange(10, 20)) << "20-29 is free";
  EXPECT_TRUE(handler->LockRange(10, 30)) << "the child's unlock freed exactly 30-39";

  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
  EXPECT_TRUE(handler->LockRange(10, 10)) << "the child's locks went with the child";
  EXPECT_TRUE(handler->LockRange(1, 4294967295));
}

TEST_F(PhysicalFileTest, OurLocksKeepTheOtherProcessOut) {
  auto handler = Handler();
  handler->Open();
  ASSERT_TRUE(handler->LockRange(65536, 4294901759));  // index write range
  ASSERT_TRUE(handler->LockRange(10, 100));
  ASSERT_TRUE(handler->LockRange(10, 200));
  ASSERT_TRUE(handler->UnlockRange(10, 100));

  auto child = ChildHolding(false, [](TFileHandler& h) {
    int failures = 0;
    if (h.LockRange(1, 4294967295 - 7)) ++failures;  // a read slot under our write range
    if (!h.LockRange(1, 4294967295)) ++failures;     // the table byte is above it
    if (!h.LockRange(10, 100)) ++failures;           // we gave 100-109 back
    if (h.LockRange(1, 205)) ++failures;             // 200-209 is still ours
    return failures;
  });
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
}

// A run of one-byte locks (records locked one by one) goes back in one call; a run with a
// byte that is not ours releases the others all the same and reports the failure.
TEST_F(PhysicalFileTest, ARunOfByteLocksGoesBackWhole) {
  auto handler = Handler();
  handler->Open();
  for (std::int64_t b = 1000; b < 1010; ++b) ASSERT_TRUE(handler->LockRange(1, b));
  for (std::int64_t b = 2000; b < 2005; ++b) {
    if (b != 2002) {
      ASSERT_TRUE(handler->LockRange(1, b));
    }
  }
  ASSERT_TRUE(handler->LockRange(1, 1010));
  EXPECT_TRUE(handler->UnlockByteRun(1000, 10));
  EXPECT_FALSE(handler->UnlockByteRun(2000, 5)) << "2002 was never locked";
  EXPECT_FALSE(handler->UnlockRange(1, 1005)) << "already released";

  auto child = ChildHolding(false, [](TFileHandler& h) {
    int failures = 0;
    for (std::int64_t b : {1000, 1005, 1009, 2000, 2001, 2003, 2004}) {
      if (!h.LockRange(1, b)) ++failures;  // released
    }
    if (h.LockRange(1, 1010)) ++failures;  // the byte after the run is still ours
    return failures;
  });
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
}

// One lock over a range takes over the process's byte locks inside it (they never come free)
// and is refused, changing nothing, when another process holds a byte of it or the count of
// locks inside is not what the caller owns; its release keeps the bytes named, each on its
// own, and frees the rest.
TEST_F(PhysicalFileTest, ARangeTakesOverByteLocksAndGoesBackAroundTheKeptOnes) {
  const auto otherProcessFinds = [&](std::vector<std::int64_t> free,
                                     std::vector<std::int64_t> held) {
    auto child = ChildHolding(false, [=](TFileHandler& h) {
      int failures = 0;
      for (std::int64_t b : free) {
        if (!h.LockRange(1, b)) ++failures;
        h.UnlockRange(1, b);
      }
      for (std::int64_t b : held) {
        if (h.LockRange(1, b)) ++failures;
      }
      return failures;
    });
    if (!child->Started() || child->Receive() != kReady) return -1;
    child->Send(kGo);
    return child->Wait();
  };
  auto handler = Handler();
  handler->Open();
  for (std::int64_t b : {1000, 1003, 1050}) ASSERT_TRUE(handler->LockRange(1, b));
  ASSERT_TRUE(handler->LockRange(10, 1095));  // 1095-1104 crosses the end of 1000-1099
  EXPECT_FALSE(handler->LockRangeAbsorbing(100, 1000, 3)) << "a lock crosses the border";
  ASSERT_TRUE(handler->UnlockRange(10, 1095));
  EXPECT_FALSE(handler->LockRangeAbsorbing(100, 1000, 2)) << "three locks lie inside";
  ASSERT_TRUE(handler->LockRangeAbsorbing(100, 1000, 3));
  EXPECT_FALSE(handler->LockRange(1, 1020)) << "inside our range";
  EXPECT_FALSE(handler->UnlockRange(1, 1003)) << "no lock of its own any more";
  EXPECT_EQ(otherProcessFinds({999, 1100}, {1000, 1020, 1099}), 0);

  const std::vector<std::int64_t> unordered = {1050, 1003};
  EXPECT_FALSE(handler->UnlockRangeKeeping(100, 1000, unordered));
  const std::vector<std::int64_t> outside = {1003, 1100};
  EXPECT_FALSE(handler->UnlockRangeKeeping(100, 1000, outside));
  const std::vector<std::int64_t> kept = {1000, 1050, 1099};
  ASSERT_TRUE(handler->UnlockRangeKeeping(100, 1000, kept));
  EXPECT_EQ(otherProcessFinds({1001, 1003, 1049, 1051, 1098}, {1000, 1050, 1099}), 0);
  EXPECT_TRUE(handler->UnlockRange(1, 1050)) << "kept as a lock of its own";
  EXPECT_FALSE(handler->UnlockRange(100, 1000)) << "the range is gone";

  auto holder = ChildHolding(false, [](TFileHandler& h) { return h.LockRange(1, 5000) ? 0 : 1; });
  ASSERT_TRUE(holder->Started());
  ASSERT_EQ(holder->Receive(), kReady);
  ASSERT_TRUE(handler->LockRange(1, 4960));
  EXPECT_FALSE(handler->LockRangeAbsorbing(100, 4950, 1)) << "another process holds 5000";
  EXPECT_TRUE(handler->UnlockRange(1, 4960)) << "still a lock of its own";
  holder->Send(kGo);
  EXPECT_EQ(holder->Wait(), 0);
}

TEST_F(PhysicalFileTest, ShareModesBetweenProcesses) {
  struct Case {
    const char* name;
    bool childExclusive;
    bool ourExclusive;
    int expected;  // engine code of our open, 0 for success
  };
  const Case cases[] = {
      {"shared / shared", false, false, 0},
      {"shared / exclusive", false, true, 11013},
      {"exclusive / shared", true, false, 11013},
      {"exclusive / exclusive", true, true, 11013},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto child = ChildHolding(c.childExclusive, [](TFileHandler&) { return 0; });
    ASSERT_TRUE(child->Started());
    ASSERT_EQ(child->Receive(), kReady);
    auto handler = Handler(c.ourExclusive);
    EXPECT_EQ(RaisedCode([&] { handler->Open(); }), c.expected);
    handler->Close();
    child->Send(kGo);
    EXPECT_EQ(child->Wait(), 0);
    // Once the child is gone, anything goes.
    EXPECT_EQ(RaisedCode([&] { handler->Open(); }), 0);
    handler->Close();
  }
}

TEST_F(PhysicalFileTest, FilesOpenInAnotherProcessAreNotDeletedRenamedOrOverwritten) {
  auto child = ChildHolding(false, [](TFileHandler&) { return 0; });
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  auto handler = Handler();
  EXPECT_EQ(RaisedCode([&] { handler->DeleteFile(); }), 11013);
  EXPECT_EQ(RaisedCode([&] { handler->RenameFile(folder.File("moved.DAT")); }), 11013);
  EXPECT_EQ(RaisedCode([&] { handler->CreateFile(); }), 11013);
  EXPECT_EQ(ReadWholeFile(path), "0123456789") << "a refused create keeps the contents";
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
  handler->DeleteFile();
  EXPECT_FALSE(PathExists(path));
}

TEST_F(PhysicalFileTest, ReadOnlyAttribute) {
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  auto handler = Handler();
  handler->Open();
  EXPECT_TRUE(handler->OpenedReadOnly());
  EXPECT_TRUE(handler->ReadOnlyAttribute());
  char bytes[4];
  EXPECT_EQ(handler->ReadBuffer(bytes, 4), 4);
  EXPECT_EQ(RaisedCode([&] { handler->WriteBuffer("x", 1); }), 9218);
  handler->Close();
  // The attribute protects the file from deletion and from being created over.
  EXPECT_EQ(RaisedCode([&] { handler->DeleteFile(); }), 11013);
  EXPECT_EQ(RaisedCode([&] { handler->CreateFile(); }), 11013);
  EXPECT_EQ(ReadWholeFile(path), "0123456789");
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
}

TEST_F(PhysicalFileTest, ReadOnlyFallbackWithoutTheAttribute) {
  testing::InstallWriteRefusingFiles(list);
  auto handler = Handler();
  handler->Open();
  EXPECT_TRUE(handler->OpenedReadOnly());
  EXPECT_FALSE(handler->ReadOnlyAttribute());
  char bytes[10];
  EXPECT_EQ(handler->ReadBuffer(bytes, 10), 10);
}

// A handler on path through a file list of its own, which opens files for reading only when
// readOnly is set: this process as another process would see the file.
struct TOwnHandler {
  TOwnHandler(const std::string& path, bool readOnly, bool exclusive) : Handler(List) {
    if (readOnly) testing::InstallWriteRefusingFiles(List);
    Handler.SetFileName(path);
    Handler.SetExclusive(exclusive);
  }
  TFileList List;
  TFileHandler Handler;
};

// Processes that may only read a file still exclude each other with every lock, and meet
// writers as before.
TEST_F(PhysicalFileTest, ReadOnlyOpensLockEachOtherOut) {
  struct Case {
    const char* name;
    bool childReadOnly;
    bool ourReadOnly;
  };
  const Case cases[] = {{"reader / reader", true, true},
                        {"reader / writer", true, false},
                        {"writer / reader", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto child = ChildHolding(
        false,
        [](TFileHandler& handler) {
          const bool held = !handler.ReadOnlyAttribute() && handler.LockRange(1, 4294967295) &&
                            handler.LockRange(1, 4294967293);
          return held ? 0 : 1;
        },
        c.childReadOnly);
    ASSERT_TRUE(child->Started());
    ASSERT_EQ(child->Receive(), kReady);
    TOwnHandler own(path, c.ourReadOnly, false);
    TFileHandler& handler = own.Handler;
    handler.Open();
    EXPECT_EQ(handler.OpenedReadOnly(), c.ourReadOnly);
    EXPECT_FALSE(handler.LockRange(1, 4294967295)) << "the table byte is the child's";
    EXPECT_FALSE(handler.LockRange(1, 4294967293)) << "so is record 1's byte";
    EXPECT_TRUE(handler.LockRange(1, 4294967294)) << "record 0's byte is free";
    EXPECT_TRUE(handler.UnlockRange(1, 4294967294));
    child->Send(kGo);
    EXPECT_EQ(child->Wait(), 0);
    EXPECT_TRUE(handler.LockRange(1, 4294967295)) << "the child's locks went with the child";
    EXPECT_TRUE(handler.UnlockRange(1, 4294967295));
  }
}

// An exclusive open keeps every other open out, whichever side may only read.
TEST_F(PhysicalFileTest, ReadOnlyExclusiveOpensKeepEveryOtherOpenOut) {
  struct Case {
    const char* name;
    bool childReadOnly;
    bool childExclusive;
    bool ourReadOnly;
    bool ourExclusive;
  };
  const Case cases[] = {
      {"read-only exclusive / shared writer", true, true, false, false},
      {"read-only exclusive / shared reader", true, true, true, false},
      {"read-only exclusive / exclusive reader", true, true, true, true},
      {"shared reader / read-only exclusive", true, false, true, true},
      {"shared writer / read-only exclusive", false, false, true, true},
      {"exclusive writer / shared reader", false, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto child = ChildHolding(
        c.childExclusive, [](TFileHandler&) { return 0; }, c.childReadOnly);
    ASSERT_TRUE(child->Started());
    ASSERT_EQ(child->Receive(), kReady);
    TOwnHandler own(path, c.ourReadOnly, c.ourExclusive);
    TFileHandler& handler = own.Handler;
    EXPECT_EQ(RaisedCode([&] { handler.Open(); }), 11013);
    child->Send(kGo);
    EXPECT_EQ(child->Wait(), 0);
    EXPECT_EQ(RaisedCode([&] { handler.Open(); }), 0);
    handler.Close();
  }
}

TEST_F(PhysicalFileTest, TemporaryFilesOpenedAreDeletedWhenTheLastHandleCloses) {
  auto opened = Handler();
  opened->SetTemporary(true);
  opened->Open();
  auto second = Handler();
  second->Open();
  opened->Close();
  EXPECT_TRUE(PathExists(path)) << "one handle is still open";
  second->Close();
  EXPECT_FALSE(PathExists(path));

  // A created temporary file is deleted by whoever created it, not on close.
  auto created = Handler();
  created->SetTemporary(true);
  created->CreateFile();
  created->Close();
  EXPECT_TRUE(PathExists(path));
}

TEST_F(PhysicalFileTest, TemporaryFileStaysWhileAnotherProcessHasItOpen) {
  auto child = ChildHolding(false, [](TFileHandler&) { return 0; });
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  auto opened = Handler();
  opened->SetTemporary(true);
  opened->Open();
  opened->Close();
  EXPECT_TRUE(PathExists(path));
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
}

TEST_F(PhysicalFileTest, NamesDifferingOnlyInCase) {
  const std::string lower = folder.File("mondai.DAT");
  WriteWholeFile(lower, "lower");
  auto handler = std::make_unique<TFileHandler>(list);
  handler->SetFileName(folder.File("MONDAI.DAT"));
  EXPECT_TRUE(handler->FileExists());
  handler->Open();
  char bytes[5];
  handler->ReadBuffer(bytes, 5);
  EXPECT_EQ(std::string(bytes, 5), "lower");
  EXPECT_EQ(handler->File(), list.FindListedFile(lower, false)) << "one entry for both names";

  // When the exact name exists it wins.
  const std::string upper = folder.File("MONDAI.DAT");
  WriteWholeFile(upper, "UPPER");
  EXPECT_EQ(ResolveDiskFileName(upper), upper);
  EXPECT_EQ(ResolveDiskFileName(folder.File("Mondai.dat")), upper) << "first in name order";
}

TEST_F(PhysicalFileTest, BackslashesAndBlanksInNames) {
  std::string windowsStyle = "  " + folder.Path() + "\\shared.DAT ";
  EXPECT_EQ(ResolveDiskFileName(windowsStyle), path);
  EXPECT_TRUE(DiskFileExists(windowsStyle));
  EXPECT_FALSE(DiskFileExists(folder.Path())) << "a folder is not a file";
}

}  // namespace
}  // namespace kura
