// Files that fail or count on request, for the tests of every layer above the file layer.
//
// InstallFailingFiles makes a file list create its disk files as TFailingFile<TPhysicalFile>
// and its memory files as TFailingFile<TMemoryFile>, all sharing one TFileFaults. A test
// then switches faults on and off and reads the counters, whatever table, index or BLOB code
// sits in between:
//
//   TFileList list;
//   TFileFaults faults;
//   InstallFailingFiles(list, faults);
//   ... open a data file on `list` in memory, scan it ...
//   EXPECT_LE(faults.ReadCalls, 124);
//   faults.FailReads = true;   // the next read fails with EIO: engine error 9217
#pragma once

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/abstract_file.h"
#include "storage/file_list.h"
#include "storage/physical_file.h"

namespace kura::testing {

// What the failing files do, and what they counted.
struct TFileFaults {
  // Faults.
  bool FailReads = false;         // every read fails with EIO
  std::int64_t WriteBudget = -1;  // bytes still written before writes fail (ENOSPC); -1: none
  bool FailFlush = false;         // flushes fail with EIO

  // Counters: calls that reached the file (reads, writes including cuts, flushes) and the
  // bytes each read brought back.
  int ReadCalls = 0;
  int WriteCalls = 0;
  int FlushCalls = 0;
  std::vector<std::int64_t> Reads;

  void ResetCounters() {
    ReadCalls = WriteCalls = FlushCalls = 0;
    Reads.clear();
  }
};

template <typename TBase>
class TFailingFile : public TBase {
 public:
  TFailingFile(std::string name, bool temporary, bool exclusive, TFileFaults& faults)
      : TBase(std::move(name), temporary, exclusive), FFaults(faults) {}

  TFileResult<std::int64_t> Read(std::int32_t handleId, void* buffer, std::int64_t count) override {
    ++FFaults.ReadCalls;
    if (FFaults.FailReads) return OSFailure(EIO);
    const TFileResult<std::int64_t> got = TBase::Read(handleId, buffer, count);
    FFaults.Reads.push_back(got.Value);
    return got;
  }

  TFileResult<std::int64_t> Write(std::int32_t handleId, const void* buffer,
                                  std::int64_t count) override {
    ++FFaults.WriteCalls;
    if (FFaults.WriteBudget >= 0 && count > FFaults.WriteBudget) {
      const std::int64_t part = FFaults.WriteBudget;
      FFaults.WriteBudget = 0;
      if (part == 0) return OSFailure(ENOSPC);
      const TFileResult<std::int64_t> put = TBase::Write(handleId, buffer, part);
      return {put.Value, OSFailure(ENOSPC)};
    }
    if (FFaults.WriteBudget >= 0) FFaults.WriteBudget -= count;
    return TBase::Write(handleId, buffer, count);
  }

  TFileStatus Flush() override {
    ++FFaults.FlushCalls;
    if (FFaults.FailFlush) return OSFailure(EIO);
    return TBase::Flush();
  }

 private:
  TFileFaults& FFaults;
};

// A disk file whose read-write open is refused, as by a file system that will not let this
// user write the file although it has write permission bits: it opens for reading only,
// without the read-only attribute.
class TWriteRefusingFile : public TPhysicalFile {
 public:
  using TPhysicalFile::TPhysicalFile;

 protected:
  int SystemOpen(const char* path, int flags, mode_t mode) override {
    if ((flags & O_ACCMODE) != O_RDONLY) return errno = EACCES, -1;
    return TPhysicalFile::SystemOpen(path, flags, mode);
  }
};

// Makes the list open its disk files as TWriteRefusingFile (files already listed keep what
// they are).
inline void InstallWriteRefusingFiles(TFileList& list) {
  list.SetDiskFileFactory([](const std::string& name, bool temporary, bool exclusive) {
    return std::make_unique<TWriteRefusingFile>(name, temporary, exclusive);
  });
}

// Makes the list create failing disk and memory files sharing these faults. Files the list
// holds already keep what they are. The faults must outlive the files.
inline void InstallFailingFiles(TFileList& list, TFileFaults& faults) {
  list.SetDiskFileFactory([&faults](const std::string& name, bool temporary, bool exclusive) {
    return std::make_unique<TFailingFile<TPhysicalFile>>(name, temporary, exclusive, faults);
  });
  list.SetMemoryFileFactory([&faults](const std::string& name, bool temporary, bool exclusive) {
    return std::make_unique<TFailingFile<TMemoryFile>>(name, temporary, exclusive, faults);
  });
}

}  // namespace kura::testing
