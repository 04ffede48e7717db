// The lock companion of a disk file: a small empty file in a folder shared by every process
// of the machine, named after the device and inode of the file it stands for, on which the
// file layer takes the locks a read-only descriptor cannot take on the file itself.
//
// Why: a write lock needs a descriptor opened for writing. A process that may only read a
// table file (no write permission for its user, though the file is not read-only for
// everyone) can take only read locks on it, and read locks do not exclude each other: two
// such processes would both "hold" the same table or record byte, and an exclusive open of
// such a process could not keep out another process's shared open. On the companion, which
// every user may write, such a process takes write locks instead.
//
// The rules (TPhysicalFile applies them):
//   - every open takes the companion's share byte too: a read lock for a shared open, a
//     write lock for an exclusive one, so an exclusive holder keeps every other open out
//     whatever the open modes;
//   - a descriptor opened for reading only takes each byte-range lock as a write lock on the
//     companion as well as a read lock on the file (writers' write locks on the file keep
//     conflicting with it as before); a writable descriptor locks the file alone.
// The table files themselves are unchanged, and a process that does not know companions
// still meets every lock on the table files as before.
//
// COMPANION FILE
//   folder   /tmp/.kura-locks (mode 1777, made on first use)
//   name     <device in hex>-<inode in hex>.lock, mode 0666, always empty
// Companions are never deleted: deleting one while another process has it open would let a
// third process make a new one and miss the second one's locks. A file whose companion
// cannot be opened locks the file alone, as before.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace kura {

class TLockCompanion {
 public:
  TLockCompanion() = default;
  ~TLockCompanion() { Close(); }
  TLockCompanion(const TLockCompanion&) = delete;
  TLockCompanion& operator=(const TLockCompanion&) = delete;

  // Opens, making it when needed, the companion of the file open on fileDescriptor;
  // answers false (and stays closed) when that is not possible.
  bool Open(int fileDescriptor);
  // Closing releases every lock taken on the companion.
  void Close();
  bool IsOpen() const { return FDescriptor >= 0; }

  // One lock (F_RDLCK or F_WRLCK) or unlock of bytes start .. start + length - 1, without
  // waiting; true when done. Always true while closed (there is nothing to lock).
  bool Lock(short type, std::int64_t start, std::int64_t length);
  bool Unlock(std::int64_t start, std::int64_t length);

  // The companion's full name for a device and inode.
  static std::string PathFor(dev_t device, ino_t inode);

 private:
  int FDescriptor = -1;
};

}  // namespace kura
