// What the kura command reads: table paths as the user names them, and one table's three
// files opened for reading through the storage handlers.
//
// A table is named by its data file with or without the extension ("DB/FOO", "DB/FOO.DAT",
// "DB/FOO.IDX" all name the same table), or a directory names every table in it (each file
// whose extension is ".DAT" in any case, in name order).
//
// The reader never writes: it opens the files the way a cursor would, but it creates no
// missing index file, flushes nothing and changes nothing in memory that could be written
// back. While it checks a table it holds a read slot on the index and BLOB files, so no
// writer of another process changes the table under it.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "storage/blob_file.h"
#include "storage/data_file.h"
#include "storage/file_list.h"
#include "storage/index_file.h"

namespace kura::tool {

// One table: its path without extension, and whether its files are memory files.
struct TTablePath {
  std::string Base;
  bool InMemory = false;
  std::string DataName() const;
  std::string IndexName() const;
  std::string BlobName() const;
  // The table's name: the last component of Base.
  std::string TableName() const;
};

// The tables a command-line PATH names; Error is set (and Tables empty) when it names none.
struct TPathResolution {
  std::vector<TTablePath> Tables;
  std::string Error;
};
TPathResolution ResolveTablePath(const std::string& path, TFileList& list = FileList());

// The three files of one table, opened for reading.
class TTableReader {
 public:
  TTableReader(const TTablePath& path, TFileList& list = FileList());
  ~TTableReader();
  TTableReader(const TTableReader&) = delete;
  TTableReader& operator=(const TTableReader&) = delete;

  // Opens the data file, then the index file, then with BLOB fields the BLOB file. A file
  // that cannot be opened (missing, unreadable, a header the handler refuses) is a problem
  // "<file>: <what>" in problems; the files that need it are not opened.
  void Open(std::vector<std::string>& problems);
  // Takes a read slot on the index file and the BLOB file (whichever are open), waiting for
  // a writer of another process to finish, and then reads the headers again (a writer may
  // have changed them since they were opened); false when no slot could be had. Raises what
  // reading the headers raises.
  bool LockForReading();
  // Gives the read slots back and closes the files; never raises.
  void Close();

  const TTablePath& Path() const { return FPath; }
  TFileList& Files() const { return FList; }
  bool DataOpen() const { return FData.IsOpen(); }
  bool IndexOpen() const { return FIndex.IsOpen(); }
  bool BlobOpen() const { return FBlob.IsOpen(); }
  TDataFile& Data() { return FData; }
  TIndexFile& Index() { return FIndex; }
  TBlobFile& Blob() { return FBlob; }
  // The table's locale, for keys.
  TTableLocale Locale() const;

 private:
  bool TakeSlot(TFileHandler& file, std::uint16_t& slot);
  void ReleaseSlots();

  TTablePath FPath;
  TFileList& FList;
  TDataFile FData;
  TIndexFile FIndex;
  TBlobFile FBlob;
  std::uint16_t FIndexSlot = 0;
  std::uint16_t FBlobSlot = 0;
  std::mt19937 FRandom;
};

// "<file>: <what>" for a failure met while reading a file.
std::string FileProblem(const std::string& fileName, const std::string& what);

}  // namespace kura::tool
