// A disk file of the process, opened once with one descriptor shared by all its handles.
//
// Positions are kept per handle and every transfer is a positioned read or write, so two
// handles never disturb each other's position.
//
// Byte-range locks are open-file-description locks on the one descriptor, so they conflict
// with every other process and every other descriptor of the file, and close with it. All
// handles of the process share that one description, so the file also keeps the list of
// ranges the process has locked and refuses an overlapping range before asking the system.
//
// Share modes: the byte at kShareLockPosition, above every lock position the engine uses,
// says how the file is open. A shared open holds a read lock on it, an exclusive open or a
// create a write lock, so an exclusive open fails while another process has the file open
// and any open fails while another process holds it exclusively (-11013).
//
// A descriptor that could only be opened for reading cannot take write locks: the file's lock
// companion (lock_companion.h) then carries them, so that whatever the open modes a lock
// excludes every overlapping lock of every process and an exclusive holder keeps every other
// open out.
//
// The read-only attribute is a file without any write permission bit.
#pragma once

#include <sys/types.h>

#include <string>

#include "storage/abstract_file.h"
#include "storage/lock_companion.h"

namespace kura {

// The reserved share byte: 2^32, one past the highest lock byte of the table files.
inline constexpr std::int64_t kShareLockPosition = std::int64_t{1} << 32;

class TPhysicalFile : public TAbstractFile {
 public:
  // name: the full path, as ResolveDiskFileName gives it.
  TPhysicalFile(std::string name, bool temporary, bool exclusive);
  ~TPhysicalFile() override;

  TFileResult<std::int64_t> GetFileSize() override;
  TFileResult<std::int32_t> CreateFile() override;
  TFileResult<std::int32_t> OpenFile() override;
  // Closing the last handle closes the descriptor; a temporary file that was opened (not
  // created) is then deleted, unless another process still has it open.
  TFileStatus CloseHandle(std::int32_t handleId) override;
  // Renames the closed file. Refused when the new name is taken by another file (a rename
  // never replaces a file) or another process has the file open.
  TFileStatus Rename(const std::string& newName) override;
  // Deletes the closed file. Refused for a file with the read-only attribute or one that
  // another process has open.
  TFileStatus Delete() override;
  TFileResult<std::int64_t> Read(std::int32_t handleId, void* buffer, std::int64_t count) override;
  TFileResult<std::int64_t> Write(std::int32_t handleId, const void* buffer,
                                  std::int64_t count) override;
  TFileStatus Flush() override;
  TFileResult<std::int64_t> Seek(std::int32_t handleId, int origin, std::int64_t offset) override;
  bool LockRange(std::int64_t length, std::int64_t start) override;
  bool UnlockRange(std::int64_t length, std::int64_t start) override;
  // One system call for the whole run when every byte of it is locked here.
  bool UnlockByteRun(std::int64_t start, std::int64_t count) override;
  // One system call: the system merges this description's own locks inside the range into
  // it and grants it only when no other description holds a byte of it. Refused for a
  // descriptor opened for reading only (its locks live on the companion as well).
  bool LockRangeAbsorbing(std::int64_t length, std::int64_t start,
                          std::int64_t absorbedCount) override;
  // The gaps between the kept bytes are unlocked one by one, so the system splits the range
  // around them and they never come free.
  bool UnlockRangeKeeping(std::int64_t length, std::int64_t start,
                          std::span<const std::int64_t> keptBytes) override;
  bool IsInMemory() const override { return false; }

 protected:
  // The open(2) call; a seam for tests that need a refused open.
  virtual int SystemOpen(const char* path, int flags, mode_t mode);

 private:
  // Takes the share byte for this open: on the file a write lock when exclusive and
  // writable, else a read lock; on the companion a write lock when exclusive, else a read
  // lock.
  TFileStatus TakeShareLock();
  void CloseDescriptor();

  int FDescriptor = -1;
  bool FDeleteOnClose = false;
  TLockCompanion FCompanion;
};

// Normalises a disk file name: blanks trimmed at both ends and "\" taken as "/".
std::string NormaliseDiskFileName(std::string_view name);

// The file a disk name stands for, as an absolute path: the file itself when it exists, else
// the file of that folder whose name matches without regard to case (the first in name
// order), else the name as given.
std::string ResolveDiskFileName(std::string_view name);

// True when the resolved file exists and is not a folder.
bool DiskFileExists(std::string_view name);

// True when any open file description (another process's, or a descriptor this process
// opened outside the file list) holds a lock on the share byte of the file at path, i.e.
// has it open through the file layer.
bool DiskFileInUse(const std::string& path);

}  // namespace kura
