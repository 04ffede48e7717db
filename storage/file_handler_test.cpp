// File handlers: opening and closing, the errors they raise for failed transfers, and
// whole-file copies with their progress reports and compression.
#include "storage/file_handler.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "storage/failing_file.h"
#include "storage/file_test_support.h"
#include "storage/physical_file.h"

namespace kura {
namespace {

using testing::InstallFailingFiles;
using testing::PathExists;
using testing::PatternBytes;
using testing::RaisedCode;
using testing::ReadWholeFile;
using testing::TFileFaults;
using testing::TScratchFolder;
using testing::WriteWholeFile;

class FileHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.Path().empty());
    InstallFailingFiles(list, faults);
  }

  std::unique_ptr<TFileHandler> Handler(const std::string& name, bool inMemory = false) {
    auto handler = std::make_unique<TFileHandler>(list);
    handler->SetFileName(name);
    handler->SetInMemory(inMemory);
    return handler;
  }

  // Writes bytes into a new file through a handler and leaves it open.
  std::unique_ptr<TFileHandler> CreatedWith(const std::string& name, const std::string& bytes,
                                            bool inMemory = false) {
    auto handler = Handler(name, inMemory);
    handler->CreateFile();
    handler->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return handler;
  }

  std::string Contents(const std::string& name, bool inMemory) {
    auto handler = Handler(name, inMemory);
    handler->Open();
    std::string bytes(static_cast<std::size_t>(handler->FileSize()), '\0');
    handler->ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return bytes;
  }

  TScratchFolder folder;
  TFileList list;
  TFileFaults faults;
};

TEST_F(FileHandlerTest, OpenCloseAndTheFileName) {
  auto handler = Handler(folder.File("missing.DAT"));
  try {
    handler->Open();
    FAIL() << "opened a missing file";
  } catch (const EKuraEngineError& error) {
    EXPECT_EQ(error.ErrorCode, 11010);
    EXPECT_EQ(error.ErrorTableName, folder.File("missing.DAT"));
  }
  EXPECT_FALSE(handler->IsOpen());

  WriteWholeFile(folder.File("there.DAT"), "x");
  handler->SetFileName(folder.File("there.DAT"));
  handler->Open();
  const std::int32_t handle = handler->HandleId();
  handler->Open();
  EXPECT_EQ(handler->HandleId(), handle) << "a second Open does nothing";
  EXPECT_EQ(RaisedCode([&] { handler->RenameFile(folder.File("new.DAT")); }), 11013);
  handler->Close();
  handler->Close();
  EXPECT_EQ(RaisedCode([&] { handler->ReadBuffer(nullptr, 0); }), 11014) << "closed";
  handler->RenameFile(folder.File("new.DAT"));
  EXPECT_EQ(handler->FileName(), folder.File("new.DAT"));
  EXPECT_TRUE(handler->FileExists());
  handler->DeleteFile();
  EXPECT_FALSE(handler->FileExists());
}

TEST_F(FileHandlerTest, FailedTransfersRaise) {
  auto handler = CreatedWith(folder.File("t.DAT"), "abcdef");
  handler->Seek(kSeekFromStart, 0);

  faults.FailReads = true;
  EXPECT_EQ(RaisedCode([&] { handler->ReadBuffer(nullptr, 4, true); }), 9217)
      << "a failed read is not a short one";
  faults.FailReads = false;

  faults.WriteBudget = 2;
  try {
    handler->WriteBuffer("0123", 4);
    FAIL() << "a short write passed";
  } catch (const EKuraEngineError& error) {
    EXPECT_EQ(error.ErrorCode, 9218);
    EXPECT_EQ(error.ErrorTableName, folder.File("t.DAT"));
  }
  faults.WriteBudget = -1;

  faults.FailFlush = true;
  EXPECT_EQ(RaisedCode([&] { handler->FlushFile(); }), 9218);
  faults.FailFlush = false;
  EXPECT_EQ(RaisedCode([&] { handler->FlushFile(); }), 0);
}

// Failures carry the operating system's reason into the raised error, for disk and memory
// files alike.
TEST_F(FileHandlerTest, FailuresNameTheSystemsReason) {
  for (const bool inMemory : {false, true}) {
    SCOPED_TRACE(inMemory ? "memory" : "disk");
    auto handler = CreatedWith(folder.File("why.DAT"), "abcdef", inMemory);
    auto raised = [&](auto call) {
      try {
        call();
      } catch (const EKuraEngineError& error) {
        return std::make_pair(static_cast<int>(error.ErrorCode), error.OSErrorCode);
      }
      return std::make_pair(0, 0);
    };
    handler->Seek(kSeekFromStart, 0);
    faults.FailReads = true;
    EXPECT_EQ(raised([&] { handler->ReadBuffer(nullptr, 4); }), std::make_pair(9217, EIO));
    faults.FailReads = false;
    char bytes[8];
    EXPECT_EQ(raised([&] { handler->ReadBuffer(bytes, 8); }), std::make_pair(9217, 0))
        << "a short read is the engine's complaint, not the system's";
    faults.WriteBudget = 0;
    EXPECT_EQ(raised([&] { handler->WriteBuffer("x", 1); }), std::make_pair(9218, ENOSPC));
    faults.WriteBudget = -1;
    faults.FailFlush = true;
    EXPECT_EQ(raised([&] { handler->FlushFile(); }), std::make_pair(9218, EIO));
    faults.FailFlush = false;
    handler->Close();
    EXPECT_EQ(raised([&] { handler->ReadBuffer(bytes, 1); }), std::make_pair(11014, EBADF));
    handler->SetFileName(folder.File("none.DAT"));
    EXPECT_EQ(raised([&] { handler->Open(); }), std::make_pair(11010, ENOENT));
  }
  EXPECT_GT(faults.ReadCalls, 0);
  EXPECT_GT(faults.WriteCalls, 0);
  EXPECT_GT(faults.FlushCalls, 0);
}

constexpr std::size_t kCopySize = 150000;

void RecordPercent(int percent, void* data) {
  static_cast<std::vector<int>*>(data)->push_back(percent);
}

TEST_F(FileHandlerTest, CopyReadsWholeChunksAndReportsProgressBySteps) {
  const std::string bytes = PatternBytes(kCopySize);
  auto source = CreatedWith(folder.File("src.DAT"), bytes);
  faults.Reads.clear();
  std::vector<int> reported;
  source->CopyToFile(folder.File("src.IBK"), false, 20, RecordPercent, &reported);
  EXPECT_EQ(reported, (std::vector<int>{43, 87}));
  EXPECT_EQ(faults.Reads, (std::vector<std::int64_t>{65536, 65536, 18928}));
  EXPECT_EQ(ReadWholeFile(folder.File("src.IBK")), bytes);
  EXPECT_TRUE(source->IsOpen());
  EXPECT_EQ(list.FindListedFile(folder.File("src.IBK"), false), nullptr) << "copy closed";

  // Steps of 1 report every chunk; an empty file reports nothing and copies nothing.
  reported.clear();
  source->CopyToFile(folder.File("src.DBK"), false, 1, RecordPercent, &reported);
  EXPECT_EQ(reported, (std::vector<int>{43, 87, 100}));
  auto empty = CreatedWith(folder.File("empty.DAT"), "");
  reported.clear();
  empty->CopyToFile(folder.File("empty.DBK"), false, 20, RecordPercent, &reported);
  EXPECT_TRUE(reported.empty());
  EXPECT_TRUE(PathExists(folder.File("empty.DBK")));
  EXPECT_EQ(ReadWholeFile(folder.File("empty.DBK")), "");
}

// The inflated form of back-to-back zlib streams.
std::string InflateStreams(const std::string& packed) {
  std::string out;
  std::size_t at = 0;
  while (at < packed.size()) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return "<init failed>";
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data() + at));
    stream.avail_in = static_cast<uInt>(packed.size() - at);
    int status;
    do {
      char buffer[4096];
      stream.next_out = reinterpret_cast<Bytef*>(buffer);
      stream.avail_out = sizeof buffer;
      status = inflate(&stream, Z_NO_FLUSH);
      out.append(buffer, sizeof buffer - stream.avail_out);
    } while (status == Z_OK);
    at = packed.size() - stream.avail_in;
    inflateEnd(&stream);
    if (status != Z_STREAM_END) return "<damaged>";
  }
  return out;
}

TEST_F(FileHandlerTest, CompressedCopyRoundTrips) {
  for (const bool inMemory : {false, true}) {
    SCOPED_TRACE(inMemory ? "memory" : "disk");
    const std::string stem = inMemory ? "zm" : folder.File("zd");
    const std::string bytes = PatternBytes(kCopySize, 7);
    auto source = CreatedWith(stem + ".DAT", bytes, inMemory);
    source->CopyToFile(stem + ".IBK", true, 20, nullptr, nullptr);
    const std::string packed = Contents(stem + ".IBK", inMemory);
    EXPECT_LT(packed.size(), bytes.size());
    EXPECT_EQ(InflateStreams(packed), bytes) << "three zlib streams, one per chunk";

    // Copying back over a longer file leaves exactly the original bytes.
    source->Seek(kSeekFromEnd, 0);
    source->WriteBuffer("tail that must go", 17);
    source->CopyFromFile(stem + ".IBK", true, 20, nullptr, nullptr);
    source->Close();
    EXPECT_EQ(Contents(stem + ".DAT", inMemory), bytes);
  }
}

TEST_F(FileHandlerTest, PlainCopyBackCutsTheLongerFile) {
  WriteWholeFile(folder.File("t.IBK"), "backup");
  auto handler = CreatedWith(folder.File("t.IDX"), "index grew since the backup");
  handler->CopyFromFile(folder.File("t.IBK"), false, 0, nullptr, nullptr);
  EXPECT_EQ(handler->FileSize(), 6);
  handler->Close();
  EXPECT_EQ(ReadWholeFile(folder.File("t.IDX")), "backup");
}

TEST_F(FileHandlerTest, DamagedCompressedSourceRaises15002) {
  const std::string bytes = PatternBytes(1000);
  auto source = CreatedWith(folder.File("d.DAT"), bytes);
  source->CopyToFile(folder.File("d.IBK"), true, 0, nullptr, nullptr);
  const std::string packed = ReadWholeFile(folder.File("d.IBK"));
  struct Case {
    const char* name;
    std::string backup;
  };
  std::string flipped = packed;
  flipped[packed.size() / 2] ^= 0x55;
  const Case cases[] = {
      {"truncated", packed.substr(0, packed.size() - 5)},
      {"garbage after a stream", packed + "garbage"},
      {"a changed byte", flipped},
      {"not compressed at all", bytes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteWholeFile(folder.File("d.IBK"), c.backup);
    EXPECT_EQ(
        RaisedCode([&] { source->CopyFromFile(folder.File("d.IBK"), true, 0, nullptr, nullptr); }),
        15002);
  }
}

TEST_F(FileHandlerTest, FailedCopyLeavesNoHalfBackup) {
  auto source = CreatedWith(folder.File("f.DAT"), PatternBytes(kCopySize));
  faults.WriteBudget = 70000;  // the second chunk is cut short
  EXPECT_EQ(
      RaisedCode([&] { source->CopyToFile(folder.File("f.IBK"), false, 0, nullptr, nullptr); }),
      9218);
  faults.WriteBudget = -1;
  EXPECT_FALSE(PathExists(folder.File("f.IBK")));

  faults.FailReads = true;
  EXPECT_EQ(
      RaisedCode([&] { source->CopyToFile(folder.File("f.IBK"), false, 0, nullptr, nullptr); }),
      9217)
      << "a failed read does not end the copy as if the file had ended";
  faults.FailReads = false;
  EXPECT_FALSE(PathExists(folder.File("f.IBK")));
}

TEST_F(FileHandlerTest, CopyOntoAnOpenFileIsRefused) {
  auto source = CreatedWith(folder.File("s.DAT"), "source");
  auto other = CreatedWith(folder.File("o.DAT"), "other");
  EXPECT_EQ(
      RaisedCode([&] { source->CopyToFile(folder.File("o.DAT"), false, 0, nullptr, nullptr); }),
      11013);
  EXPECT_EQ(
      RaisedCode([&] { source->CopyFromFile(folder.File("s.DAT"), false, 0, nullptr, nullptr); }),
      11013)
      << "a file cannot be copied over itself";
  other->Close();
  EXPECT_EQ(ReadWholeFile(folder.File("o.DAT")), "other");
}

}  // namespace
}  // namespace kura
