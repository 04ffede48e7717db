#include "storage/physical_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <vector>

#include "storage/ascii_case.h"
#include "storage/os_errors.h"

namespace kura {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;
constexpr std::int64_t kMaxPosition = std::numeric_limits<std::int64_t>::max();
constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kNewFileMode = 0666;  // less the umask

// One open-file-description lock request on fd, without waiting.
int SetLock(int fd, short type, std::int64_t start, std::int64_t length) {
  struct flock request {};
  request.l_type = type;
  request.l_whence = SEEK_SET;
  request.l_start = start;
  request.l_len = length;
  request.l_pid = 0;  // required by open-file-description locks
  return fcntl(fd, F_OFD_SETLK, &request);
}

// Whether a lock of the given type on the share byte would conflict with a lock of another
// open file description.
bool ShareByteConflicts(int fd, short type) {
  struct flock probe {};
  probe.l_type = type;
  probe.l_whence = SEEK_SET;
  probe.l_start = kShareLockPosition;
  probe.l_len = 1;
  probe.l_pid = 0;
  if (fcntl(fd, F_OFD_GETLK, &probe) != 0) return false;
  return probe.l_type != F_UNLCK;
}

bool ReadMode(const std::string& path, struct stat& info) {
  return stat(path.c_str(), &info) == 0;
}

std::string MakeAbsolute(const std::string& path) {
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(path, error);
  if (error) return path;
  return full.lexically_normal().string();
}

}  // namespace

std::string NormaliseDiskFileName(std::string_view name) {
  const auto first = name.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  name = name.substr(first, name.find_last_not_of(' ') - first + 1);
  std::string result(name);
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

std::string ResolveDiskFileName(std::string_view name) {
  std::string path = MakeAbsolute(NormaliseDiskFileName(name));
  struct stat info;
  if (path.empty() || lstat(path.c_str(), &info) == 0) return path;
  const std::filesystem::path full(path);
  const std::string wanted = full.filename().string();
  const std::string folder = full.parent_path().string();
  DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
  if (!dir) return path;
  std::vector<std::string> matches;
  while (const dirent* entry = readdir(dir))
    if (EqualsIgnoringAsciiCase(entry->d_name, wanted)) matches.emplace_back(entry->d_name);
  closedir(dir);
  if (matches.empty()) return path;
  std::sort(matches.begin(), matches.end());
  return (full.parent_path() / matches.front()).string();
}

bool DiskFileExists(std::string_view name) {
  struct stat info;
  return ReadMode(ResolveDiskFileName(name), info) && !S_ISDIR(info.st_mode);
}

bool DiskFileInUse(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  const bool inUse = ShareByteConflicts(fd, F_WRLCK);
  close(fd);
  return inUse;
}

TPhysicalFile::TPhysicalFile(std::string name, bool temporary, bool exclusive)
    : TAbstractFile(std::move(name), temporary, exclusive) {}

TPhysicalFile::~TPhysicalFile() {
  CloseDescriptor();
}

int TPhysicalFile::SystemOpen(const char* path, int flags, mode_t mode) {
  return open(path, flags, mode);
}

TFileResult<std::int64_t> TPhysicalFile::GetFileSize() {
  Guard guard(FLock);
  struct stat info;
  if (FDescriptor < 0 || fstat(FDescriptor, &info) != 0) return OSFailure(EBADF);
  return static_cast<std::int64_t>(info.st_size);
}

TFileStatus TPhysicalFile::TakeShareLock() {
  const bool writable = !FReadOnly;
  if (FExclusive && !writable) {
    // A write lock needs a writable descriptor: refuse if anyone has the file open, then
    // hold a read lock so that no one can open it exclusively (the companion's write lock
    // keeps out the shared opens).
    if (ShareByteConflicts(FDescriptor, F_WRLCK)) return OSFailure(EAGAIN);
  }
  FCompanion.Open(FDescriptor);
  if (!FCompanion.Lock(FExclusive ? F_WRLCK : F_RDLCK, kShareLockPosition, 1))
    return OSFailure(EAGAIN);
  const short type = FExclusive && writable ? F_WRLCK : F_RDLCK;
  if (SetLock(FDescriptor, type, kShareLockPosition, 1) != 0) {
    const int error = errno == EACCES ? EAGAIN : errno;
    FCompanion.Close();
    return OSFailure(error);
  }
  return {};
}

TFileResult<std::int32_t> TPhysicalFile::OpenFile() {
  Guard guard(FLock);
  if (FDescriptor >= 0) return AddHandle();
  struct stat info;
  if (!ReadMode(FName, info)) return OSFailure(errno);
  if (S_ISDIR(info.st_mode)) return OSFailure(EISDIR);
  FReadOnly = FReadOnlyAttribute = (info.st_mode & kAnyWriteBit) == 0;
  const int common = O_CLOEXEC | O_NOCTTY;
  FDescriptor = SystemOpen(FName.c_str(), (FReadOnly ? O_RDONLY : O_RDWR) | common, 0);
  if (FDescriptor < 0 && !FReadOnly) {
    FDescriptor = SystemOpen(FName.c_str(), O_RDONLY | common, 0);
    FReadOnly = FDescriptor >= 0;
  }
  if (FDescriptor < 0) return OSFailure(errno);
  posix_fadvise(FDescriptor, 0, 0, POSIX_FADV_RANDOM);
  if (const TFileStatus shared = TakeShareLock(); !shared.Ok()) {
    CloseDescriptor();
    return shared;
  }
  FDeleteOnClose = FTemporary;
  return AddHandle();
}

TFileResult<std::int32_t> TPhysicalFile::CreateFile() {
  Guard guard(FLock);
  if (FDescriptor < 0) {
    struct stat info;
    if (ReadMode(FName, info)) {
      if (S_ISDIR(info.st_mode)) return OSFailure(EISDIR);
      // Like the read-only attribute elsewhere, it keeps the file from being overwritten.
      if ((info.st_mode & kAnyWriteBit) == 0) return OSFailure(EACCES);
    }
    FDescriptor = SystemOpen(FName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, kNewFileMode);
    if (FDescriptor < 0) return OSFailure(errno);
    FReadOnly = FReadOnlyAttribute = false;
    FExclusive = true;
    // Take the share byte before emptying, so a file another process has open is refused
    // with its contents intact.
    if (const TFileStatus shared = TakeShareLock(); !shared.Ok()) {
      CloseDescriptor();
      return shared;
    }
    posix_fadvise(FDescriptor, 0, 0, POSIX_FADV_RANDOM);
  }
  if (ftruncate(FDescriptor, 0) != 0) {
    const int error = errno;
    if (FHandles.empty()) CloseDescriptor();
    return OSFailure(error);
  }
  FDeleteOnClose = false;  // users of created temporary files delete them themselves
  FSize = 0;
  return AddHandle();
}

TFileStatus TPhysicalFile::CloseHandle(std::int32_t handleId) {
  Guard guard(FLock);
  const TFileStatus result = TAbstractFile::CloseHandle(handleId);
  if (result.Ok() && FHandles.empty()) {
    if (FDeleteOnClose && FDescriptor >= 0 && !ShareByteConflicts(FDescriptor, F_WRLCK))
      unlink(FName.c_str());
    CloseDescriptor();
  }
  return result;
}

void TPhysicalFile::CloseDescriptor() {
  if (FDescriptor >= 0) close(FDescriptor);  // releases every lock of the description
  FDescriptor = -1;
  FCompanion.Close();
  FLocks.Clear();
}

TFileStatus TPhysicalFile::Rename(const std::string& newName) {
  Guard guard(FLock);
  struct stat from, to;
  if (!ReadMode(FName, from)) return OSFailure(errno);
  const std::string target = ResolveDiskFileName(newName);
  // A rename never replaces another file; renaming to a different case of the same name is
  // allowed.
  if (lstat(target.c_str(), &to) == 0 && !(to.st_dev == from.st_dev && to.st_ino == from.st_ino))
    return OSFailure(EEXIST);
  if (DiskFileInUse(FName)) return OSFailure(EAGAIN);
  const std::string destination = MakeAbsolute(NormaliseDiskFileName(newName));
  int done = renameat2(AT_FDCWD, FName.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE);
  if (done != 0 && (errno == EINVAL || errno == ENOSYS || errno == EEXIST)) {
    // No RENAME_NOREPLACE on this file system, or a case-only rename onto itself.
    if (errno == EEXIST && target != FName) return OSFailure(EEXIST);
    done = rename(FName.c_str(), destination.c_str());
  }
  if (done != 0) return OSFailure(errno);
  FName = destination;
  return {};
}

TFileStatus TPhysicalFile::Delete() {
  Guard guard(FLock);
  struct stat info;
  if (!ReadMode(FName, info)) return OSFailure(errno);
  if (S_ISDIR(info.st_mode)) return OSFailure(EISDIR);
  if ((info.st_mode & kAnyWriteBit) == 0) return OSFailure(EACCES);
  if (DiskFileInUse(FName)) return OSFailure(EAGAIN);
  if (unlink(FName.c_str()) != 0) return OSFailure(errno);
  return {};
}

TFileResult<std::int64_t> TPhysicalFile::Read(std::int32_t handleId, void* buffer,
                                              std::int64_t count) {
  Guard guard(FLock);
  const int index = FindHandle(handleId);
  if (index < 0 || FDescriptor < 0) return OSFailure(EBADF);
  if (count < 0) return OSFailure(EINVAL);
  std::int64_t& position = FHandles[index].Position;
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t got = pread(FDescriptor, bytes + done, static_cast<std::size_t>(count - done),
                              static_cast<off_t>(position + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return OSFailure(errno);
    if (got == 0) break;  // end of file
    done += got;
  }
  position += done;
  return done;
}

TFileResult<std::int64_t> TPhysicalFile::Write(std::int32_t handleId, const void* buffer,
                                               std::int64_t count) {
  Guard guard(FLock);
  const int index = FindHandle(handleId);
  if (index < 0 || FDescriptor < 0) return OSFailure(EBADF);
  if (count < 0) return OSFailure(EINVAL);
  std::int64_t& position = FHandles[index].Position;
  if (count == 0) {
    if (ftruncate(FDescriptor, static_cast<off_t>(position)) != 0) return OSFailure(errno);
    return 0;
  }
  if (position > kMaxPosition - count) return OSFailure(EFBIG);
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t put = pwrite(FDescriptor, bytes + done, static_cast<std::size_t>(count - done),
                               static_cast<off_t>(position + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      // A short write: the caller sees the bytes written and the reason for the rest.
      position += done;
      return {done, OSFailure(put == 0 ? ENOSPC : errno)};
    }
    done += put;
  }
  position += done;
  return done;
}

TFileStatus TPhysicalFile::Flush() {
  Guard guard(FLock);
  if (FDescriptor < 0) return OSFailure(EBADF);
  if (fsync(FDescriptor) != 0) return OSFailure(errno);
  return {};
}

TFileResult<std::int64_t> TPhysicalFile::Seek(std::int32_t handleId, int origin,
                                              std::int64_t offset) {
  return TAbstractFile::Seek(handleId, origin, offset);
}

bool TPhysicalFile::LockRange(std::int64_t length, std::int64_t start) {
  Guard guard(FLock);
  TLockRange range;
  if (FDescriptor < 0 || !MakeRange(length, start, range)) return false;
  // The share byte belongs to the open itself: locking or unlocking it here would change
  // what other processes see of this open.
  if (range.Start <= kShareLockPosition && kShareLockPosition <= range.End) return false;
  if (OverlapsListedLock(range)) return false;  // our own locks never conflict in the system
  if (!FReadOnly) {
    if (SetLock(FDescriptor, F_WRLCK, range.Start, range.Length) != 0) return false;
    FLocks.Add(range);
    return true;
  }
  // A read-only descriptor cannot take a write lock: its read lock on the file keeps writers
  // out, and the write lock on the companion keeps out the other read-only descriptors.
  if (!FCompanion.Lock(F_WRLCK, range.Start, range.Length)) return false;
  if (SetLock(FDescriptor, F_RDLCK, range.Start, range.Length) != 0) {
    FCompanion.Unlock(range.Start, range.Length);
    return false;
  }
  FLocks.Add(range);
  return true;
}

bool TPhysicalFile::UnlockByteRun(std::int64_t start, std::int64_t count) {
  Guard guard(FLock);
  bool whole = FDescriptor >= 0 && count > 1;
  for (std::int64_t i = 0; whole && i < count; ++i) whole = FLocks.Contains(1, start + i);
  // The run's bytes are all ours, so releasing the span releases exactly them (the system
  // merged them into one lock anyway).
  if (whole && SetLock(FDescriptor, F_UNLCK, start, count) == 0) {
    if (FReadOnly) FCompanion.Unlock(start, count);
    for (std::int64_t i = 0; i < count; ++i) FLocks.Remove(1, start + i);
    return true;
  }
  return TAbstractFile::UnlockByteRun(start, count);
}

bool TPhysicalFile::LockRangeAbsorbing(std::int64_t length, std::int64_t start,
                                       std::int64_t absorbedCount) {
  Guard guard(FLock);
  TLockRange range;
  if (FDescriptor < 0 || FReadOnly || !MakeRange(length, start, range)) return false;
  if (range.Start <= kShareLockPosition && kShareLockPosition <= range.End) return false;
  if (FLocks.CountInside(range) != absorbedCount) return false;
  if (SetLock(FDescriptor, F_WRLCK, range.Start, range.Length) != 0) return false;
  FLocks.Absorb(range);
  return true;
}

bool TPhysicalFile::UnlockRangeKeeping(std::int64_t length, std::int64_t start,
                                       std::span<const std::int64_t> keptBytes) {
  Guard guard(FLock);
  TLockRange range;
  if (FDescriptor < 0 || FReadOnly || !MakeRange(length, start, range)) return false;
  if (!FLocks.Contains(length, start) || !KeptBytesInside(range, keptBytes)) return false;
  bool released = true;
  std::int64_t gapStart = range.Start;
  const auto unlockGap = [&](std::int64_t gapEnd) {
    if (gapEnd >= gapStart)
      released = SetLock(FDescriptor, F_UNLCK, gapStart, gapEnd - gapStart + 1) == 0 && released;
  };
  for (std::int64_t byte : keptBytes) {
    unlockGap(byte - 1);
    gapStart = byte + 1;
  }
  unlockGap(range.End);
  // A gap the system refused to release stays held until the descriptor closes; the answer
  // says so.
  FLocks.Split(length, start, keptBytes);
  return released;
}

bool TPhysicalFile::UnlockRange(std::int64_t length, std::int64_t start) {
  Guard guard(FLock);
  if (FDescriptor < 0 || !FLocks.Contains(length, start)) return false;
  if (SetLock(FDescriptor, F_UNLCK, start, length) != 0) return false;
  if (FReadOnly) FCompanion.Unlock(start, length);
  FLocks.Remove(length, start);
  return true;
}

}  // namespace kura
