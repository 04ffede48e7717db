// The base of the data, index and BLOB file handlers: it names one file and holds one open
// handle on it through the process's file list.
//
// Failures are raised as engine errors with the handler's file name as the table name.
// Every handler that seeks and then reads or writes does so between BeginAccess and
// EndAccess, so the pair is not split by another handler of the same file.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "storage/abstract_file.h"
#include "storage/file_copy.h"
#include "storage/file_list.h"

namespace kura {

class TFileHandler {
 public:
  // list: the file list to work through; the process's own unless a test gives another.
  explicit TFileHandler(TFileList& list = FileList());
  // Closes the handle if it is still open (errors are dropped: nothing can be raised here).
  virtual ~TFileHandler();
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;

  // Opens a handle on the named file with the in-memory, temporary and exclusive flags and
  // records the read-only flags. Does nothing when already open. Raises 11010 when the file
  // does not exist, and the list's code for any other failure.
  virtual void Open();
  // Closes the handle, if any.
  virtual void Close();
  // Creates (or empties) the file and opens it exclusively.
  virtual void CreateFile();
  // Deletes the file, which must not be open in the process (11013).
  virtual void DeleteFile();
  // Renames the closed file; the handler then names the new file.
  virtual void RenameFile(const std::string& newName);
  // Copies the open file into a new file of the given name (same kind, memory or disk);
  // compress writes each 64 KB chunk deflated. Progress as described in file_copy.h.
  virtual void CopyToFile(const std::string& destinationName, bool compress, int progressStep,
                          TProgressCallback callback, void* callbackData);
  // Replaces the open file's contents with a copy of the named file; compress says the
  // source was written by a compressed CopyToFile and is to be inflated.
  virtual void CopyFromFile(const std::string& sourceName, bool compress, int progressStep,
                            TProgressCallback callback, void* callbackData);
  // Reads count bytes at the handle's position: raises 9217 when fewer come back, unless
  // allowShort. Answers the number read.
  virtual std::int64_t ReadBuffer(void* buffer, std::int64_t count, bool allowShort = false);
  // Writes count bytes at the handle's position: raises 9218 when fewer are written. Count 0
  // cuts the file at the position.
  virtual void WriteBuffer(const void* buffer, std::int64_t count);
  // Pushes written data to the device; raises 9218 when that fails.
  virtual void FlushFile();

  // Moves the handle's position (origin kSeekFromStart, kSeekFromCurrent or kSeekFromEnd)
  // and answers the new one; raises 11047 for a position before the start.
  std::int64_t Seek(int origin, std::int64_t offset);
  // The file's length; the handle's position is left where it was.
  std::int64_t FileSize();
  // Whether the named file exists (listed, or on disk).
  bool FileExists();
  // Lock and unlock without waiting; false when no file is open or the system refuses.
  bool LockRange(std::int64_t length, std::int64_t start);
  bool UnlockRange(std::int64_t length, std::int64_t start);
  // Releases the one-byte locks at start .. start + count - 1 (see TAbstractFile).
  bool UnlockByteRun(std::int64_t start, std::int64_t count);
  // One lock over a range that takes over the caller's absorbedCount locks inside it, and
  // its release keeping the bytes named (see TAbstractFile).
  bool LockRangeAbsorbing(std::int64_t length, std::int64_t start, std::int64_t absorbedCount);
  bool UnlockRangeKeeping(std::int64_t length, std::int64_t start,
                          std::span<const std::int64_t> keptBytes);
  void BeginAccess();
  void EndAccess();

  void SetFileName(const std::string& name) { FFileName = name; }
  const std::string& FileName() const { return FFileName; }
  void SetInMemory(bool inMemory) { FInMemory = inMemory; }
  bool InMemory() const { return FInMemory; }
  void SetExclusive(bool exclusive) { FExclusive = exclusive; }
  bool Exclusive() const { return FExclusive; }
  void SetTemporary(bool temporary) { FTemporary = temporary; }
  bool Temporary() const { return FTemporary; }
  bool OpenedReadOnly() const { return FOpenedReadOnly; }
  bool ReadOnlyAttribute() const { return FReadOnlyAttribute; }
  bool IsOpen() const { return FOpen; }
  std::int32_t HandleId() const { return FHandleId; }
  TAbstractFile* File() const { return FFile; }
  // The file list the handler works through (helpers of the handler make their own files
  // on the same list).
  TFileList& List() const { return FList; }

 protected:
  // Raises the status's engine error with its operating system reason and the file's name.
  [[noreturn]] void RaiseFileError(const TFileStatus& status) const;
  // The open file, or raises 11014 when the handler is closed.
  TAbstractFile& OpenFileObject() const;

  TFileList& FList;
  bool FInMemory = false;
  TAbstractFile* FFile = nullptr;
  std::string FFileName;
  std::int32_t FHandleId = 0;
  bool FExclusive = false;
  bool FOpenedReadOnly = false;
  bool FReadOnlyAttribute = false;
  bool FOpen = false;
  bool FTemporary = false;
};

}  // namespace kura
