// The process-wide list of open files.
//
// A file is opened once per process however many tables, cursors and sessions use it: the
// list finds the one TAbstractFile of a name and opens one more handle on it. It enforces
// exclusive opens inside the process (other processes are kept out by the share byte of
// TPhysicalFile) and carries out create, open, close, rename, delete, existence tests and
// whole-file copies.
//
// Names: a memory file's name is compared after trimming blanks, without regard to case. A
// disk file's name is trimmed, "\" is taken as "/", and it is resolved to the absolute path
// of the file it stands for (a file whose name matches without regard to case when the
// exact one does not exist); entries are compared by that path. A memory file and a disk file
// of the same name are different entries. Names longer than 255 characters are refused.
//
// Every operation answers a TFileStatus (a handle id with it for create and open): the engine
// code and the operating system's reason of a failure.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "storage/abstract_file.h"
#include "storage/file_copy.h"

namespace kura {

class TFileList {
 public:
  // Makes the object behind a file: a TPhysicalFile for a disk file and a TMemoryFile for a
  // memory file, unless a test installs another (a file that fails or counts on request).
  using TFileFactory = std::function<std::unique_ptr<TAbstractFile>(
      const std::string& name, bool temporary, bool exclusive)>;
  using TDiskFileFactory = TFileFactory;

  TFileList();
  ~TFileList();
  TFileList(const TFileList&) = delete;
  TFileList& operator=(const TFileList&) = delete;

  // Creates (or empties) the file and opens an exclusive handle on it: the handle id, with
  // file set; 11013 while the file has open handles.
  TFileResult<std::int32_t> CreateListedFile(std::string_view name, bool inMemory, bool temporary,
                                             TAbstractFile*& file);
  // Opens a handle on the file: the handle id, with file and the two read-only flags set.
  // 11013 when the file or the request is exclusive and the file is open already; 11010
  // for a memory file that was never created or a missing disk file.
  TFileResult<std::int32_t> OpenListedFile(std::string_view name, bool inMemory, bool temporary,
                                           bool exclusive, TAbstractFile*& file, bool& readOnly,
                                           bool& readOnlyAttribute);
  // Closes one handle; 11010 when the file is not listed (11014 for an unknown handle). A
  // disk file leaves the list with its last handle; a memory file stays.
  TFileStatus CloseListedFile(TAbstractFile* file, bool inMemory, std::int32_t handleId);
  // 11013 while the file has open handles, 11010 when missing.
  TFileStatus RenameListedFile(std::string_view name, bool inMemory, std::string_view newName);
  TFileStatus DeleteListedFile(std::string_view name, bool inMemory);
  // True for a listed file, and for an unlisted disk file that exists and is not a folder.
  bool ListedFileExists(std::string_view name, bool inMemory);

  // Copies the open file (through its handle) into a newly created file of the other name;
  // when compress is set, each chunk is written deflated. A failed copy deletes the
  // destination. The failure as CopyFileContents reports it.
  TFileStatus CopyListedFileTo(TAbstractFile* file, std::int32_t handleId,
                               const TCopyProgress& progress, bool compress,
                               std::string_view destinationName, bool destinationInMemory);
  // Copies the other file, opened exclusively, over the open file, which is cut to the
  // copied length; when compress is set, the source is a compressed copy and is inflated.
  TFileStatus CopyListedFileFrom(TAbstractFile* file, std::int32_t handleId,
                                 const TCopyProgress& progress, bool compress,
                                 std::string_view sourceName, bool sourceInMemory);

  // The listed file of that name and kind, or nullptr.
  TAbstractFile* FindListedFile(std::string_view name, bool inMemory);
  // Install the maker of disk or memory file objects and answer the previous one. Files
  // already listed keep the objects they were made with.
  TFileFactory SetDiskFileFactory(TFileFactory factory);
  TFileFactory SetMemoryFileFactory(TFileFactory factory);

 private:
  // The key a name is listed under, or an empty string for a name that is too long or blank.
  static std::string ListKey(std::string_view name, bool inMemory);
  int FindIndex(const std::string& key, bool inMemory);
  int FindIndex(const TAbstractFile* file);
  std::unique_ptr<TAbstractFile> MakeFile(const std::string& key, bool inMemory, bool temporary,
                                          bool exclusive);
  void Remove(int index);

  std::recursive_mutex FLock;  // recursive: a copy's progress callback may use the list
  std::vector<std::unique_ptr<TAbstractFile>> FFiles;
  TFileFactory FDiskFileFactory;
  TFileFactory FMemoryFileFactory;
};

// The one file list of the process, from the first use of the engine to process exit.
TFileList& FileList();

}  // namespace kura
