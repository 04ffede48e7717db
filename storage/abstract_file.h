// One file of the process as the file list keeps it: a disk file (TPhysicalFile) or a file
// that lives only in memory (TMemoryFile).
//
// A file is opened once per process however many handlers use it; each handler owns one
// handle on it, numbered 1, 2, 3, ... in the order handles are opened, and each handle has its
// own 64-bit position. Every operation takes the file's own lock; the file list takes its own
// lock before a file's lock, never the other way round.
//
// Every operation that can fail answers a TFileStatus (or a TFileResult with its value): the
// engine error code and the operating system's reason together (storage/os_errors.h). Lock and
// unlock answer a plain yes or no: a refused lock is an answer the caller retries, not a
// failure to report.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "storage/listed_locks.h"
#include "storage/os_errors.h"

namespace kura {

// Seek origins.
inline constexpr int kSeekFromStart = 0;
inline constexpr int kSeekFromCurrent = 1;
inline constexpr int kSeekFromEnd = 2;

// Longest file name kept, in characters.
inline constexpr std::size_t kMaxFileNameLength = 255;

class TAbstractFile {
 public:
  TAbstractFile(std::string name, bool temporary, bool exclusive);
  virtual ~TAbstractFile();
  TAbstractFile(const TAbstractFile&) = delete;
  TAbstractFile& operator=(const TAbstractFile&) = delete;

  // Index of the handle in the handle list, or -1 when the id is not open.
  virtual int FindHandle(std::int32_t handleId);
  // Current length in bytes.
  virtual TFileResult<std::int64_t> GetFileSize();
  // Creates (or empties) the file and opens a handle: the new handle id.
  virtual TFileResult<std::int32_t> CreateFile() = 0;
  // Opens one more handle: the new handle id.
  virtual TFileResult<std::int32_t> OpenFile();
  // Closes one handle; 11014 for an id that is not open.
  virtual TFileStatus CloseHandle(std::int32_t handleId);
  // Renames the file (which must have no open handle).
  virtual TFileStatus Rename(const std::string& newName);
  // Deletes the file (which must have no open handle).
  virtual TFileStatus Delete();
  // Reads up to count bytes at the handle's position and advances it past what was read:
  // the byte count, fewer than asked (with success) at the end of the file.
  virtual TFileResult<std::int64_t> Read(std::int32_t handleId, void* buffer,
                                         std::int64_t count) = 0;
  // Writes count bytes at the handle's position and advances it; count 0 cuts the file there.
  // A failure after part of the bytes were written answers that part with the failure.
  virtual TFileResult<std::int64_t> Write(std::int32_t handleId, const void* buffer,
                                          std::int64_t count) = 0;
  // Pushes written data to the device.
  virtual TFileStatus Flush();
  // Moves the handle's position and answers the new one; fails (position unchanged) for an
  // unknown handle, a bad origin or a position before the start of the file.
  virtual TFileResult<std::int64_t> Seek(std::int32_t handleId, int origin, std::int64_t offset);
  // Locks bytes start .. start + length - 1 without waiting. Fails when the range overlaps any
  // lock already taken; the range may lie beyond the end of the file.
  virtual bool LockRange(std::int64_t length, std::int64_t start);
  // Removes the lock with exactly this start and length; fails when there is none.
  virtual bool UnlockRange(std::int64_t length, std::int64_t start);
  // Removes the one-byte locks at start .. start + count - 1, as count UnlockRange(1, ...)
  // calls would (false when any of them fails); a file may release them all at once.
  virtual bool UnlockByteRun(std::int64_t start, std::int64_t count);
  // Locks bytes start .. start + length - 1 as one lock that takes over the process's locks
  // inside the range: they stop being locks of their own (they go with the range) and are
  // never free meanwhile. Refused, with nothing changed, when a lock of the process crosses
  // a border of the range, when the number of locks inside is not absorbedCount (the caller
  // names how many of its own it knows to lie there, so it never takes over a lock it does
  // not own), or when any other lock overlaps the range.
  virtual bool LockRangeAbsorbing(std::int64_t length, std::int64_t start,
                                  std::int64_t absorbedCount);
  // Removes the lock with exactly this start and length except the bytes keptBytes names
  // (ascending, inside the range), which stay locked, each a one-byte lock of its own, with
  // no moment in which they are free. False, with nothing changed, when there is no such lock
  // or keptBytes is not ascending inside it.
  virtual bool UnlockRangeKeeping(std::int64_t length, std::int64_t start,
                                  std::span<const std::int64_t> keptBytes);

  // The file's lock, for callers that must keep a seek and the following read or write
  // together. Recursive: the operations above take it again.
  void BeginAccess() { FLock.lock(); }
  void EndAccess() { FLock.unlock(); }

  virtual bool IsInMemory() const = 0;
  const std::string& Name() const { return FName; }
  bool IsExclusive() const { return FExclusive; }
  void SetExclusive(bool exclusive) { FExclusive = exclusive; }
  bool IsTemporary() const { return FTemporary; }
  void SetTemporary(bool temporary) { FTemporary = temporary; }
  bool IsReadOnly() const { return FReadOnly; }
  bool HasReadOnlyAttribute() const { return FReadOnlyAttribute; }
  int OpenCount();
  std::int64_t HandlePosition(std::int32_t handleId);

 protected:
  struct THandleEntry {
    std::int32_t Id;
    std::int64_t Position;
  };

  // Adds a handle at position 0 and answers its id.
  std::int32_t AddHandle();
  // The range bytes start .. start + length - 1, or false when the length is not positive
  // or the range would run past the largest 64-bit position.
  static bool MakeRange(std::int64_t length, std::int64_t start, TLockRange& range);
  bool OverlapsListedLock(const TLockRange& range) const { return FLocks.Overlaps(range); }
  // Whether keptBytes are strictly ascending and inside range.
  static bool KeptBytesInside(const TLockRange& range, std::span<const std::int64_t> keptBytes);

  std::recursive_mutex FLock;
  bool FExclusive;
  bool FReadOnly = false;
  bool FReadOnlyAttribute = false;
  bool FTemporary;
  std::string FName;
  std::int64_t FSize = 0;
  TListedLocks FLocks;
  std::vector<THandleEntry> FHandles;
  std::int32_t FLastHandleId = 0;
};

// A file kept in a memory block that grows in steps of 4096 zero-filled bytes. It stays in
// the file list, contents and all, after its last handle closes, until it is deleted.
class TMemoryFile : public TAbstractFile {
 public:
  static constexpr std::int64_t kGrowStep = 4096;

  TMemoryFile(std::string name, bool temporary, bool exclusive);

  TFileResult<std::int32_t> CreateFile() override;
  TFileStatus CloseHandle(std::int32_t handleId) override;
  TFileResult<std::int64_t> Read(std::int32_t handleId, void* buffer, std::int64_t count) override;
  TFileResult<std::int64_t> Write(std::int32_t handleId, const void* buffer,
                                  std::int64_t count) override;
  bool IsInMemory() const override { return true; }

  // Bytes reserved for the contents: the size rounded up to the grow step.
  std::int64_t Capacity() const { return static_cast<std::int64_t>(FBlock.size()); }

 private:
  // Makes room for newSize bytes; fails with 11016 when memory runs out.
  TFileStatus Reserve(std::int64_t newSize);

  std::vector<unsigned char> FBlock;
};

}  // namespace kura
