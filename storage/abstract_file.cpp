#include "storage/abstract_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>

#include "storage/os_errors.h"

namespace kura {

using Guard = std::lock_guard<std::recursive_mutex>;
constexpr std::int64_t kMaxPosition = std::numeric_limits<std::int64_t>::max();

TAbstractFile::TAbstractFile(std::string name, bool temporary, bool exclusive)
    : FExclusive(exclusive), FTemporary(temporary), FName(std::move(name)) {}

TAbstractFile::~TAbstractFile() = default;

int TAbstractFile::FindHandle(std::int32_t handleId) {
  Guard guard(FLock);
  for (std::size_t i = 0; i < FHandles.size(); ++i)
    if (FHandles[i].Id == handleId) return static_cast<int>(i);
  return -1;
}

TFileResult<std::int64_t> TAbstractFile::GetFileSize() {
  Guard guard(FLock);
  return FSize;
}

TFileResult<std::int32_t> TAbstractFile::OpenFile() {
  Guard guard(FLock);
  return AddHandle();
}

TFileStatus TAbstractFile::CloseHandle(std::int32_t handleId) {
  Guard guard(FLock);
  const int index = FindHandle(handleId);
  if (index < 0) return OSFailure(EBADF);
  FHandles.erase(FHandles.begin() + index);
  return {};
}

TFileStatus TAbstractFile::Rename(const std::string& newName) {
  Guard guard(FLock);
  FName = newName;
  return {};
}

TFileStatus TAbstractFile::Delete() {
  return {};
}

TFileStatus TAbstractFile::Flush() {
  return {};
}

TFileResult<std::int64_t> TAbstractFile::Seek(std::int32_t handleId, int origin,
                                              std::int64_t offset) {
  Guard guard(FLock);
  const int index = FindHandle(handleId);
  if (index < 0) return OSFailure(EBADF);
  std::int64_t base = 0;
  switch (origin) {
    case kSeekFromStart:
      break;
    case kSeekFromCurrent:
      base = FHandles[index].Position;
      break;
    case kSeekFromEnd: {
      const TFileResult<std::int64_t> size = GetFileSize();
      if (!size.Ok()) return size.Status;
      base = size.Value;
      break;
    }
    default:
      return OSFailure(EINVAL);
  }
  // Overflow-safe base + offset, refusing positions before the start.
  if ((offset > 0 && base > kMaxPosition - offset) || base + offset < 0) return OSFailure(EINVAL);
  FHandles[index].Position = base + offset;
  return FHandles[index].Position;
}

bool TAbstractFile::LockRange(std::int64_t length, std::int64_t start) {
  Guard guard(FLock);
  TLockRange range;
  if (!MakeRange(length, start, range) || OverlapsListedLock(range)) return false;
  FLocks.Add(range);
  return true;
}

bool TAbstractFile::UnlockRange(std::int64_t length, std::int64_t start) {
  Guard guard(FLock);
  return FLocks.Remove(length, start);
}

bool TAbstractFile::UnlockByteRun(std::int64_t start, std::int64_t count) {
  bool released = true;
  for (std::int64_t i = 0; i < count; ++i) released = UnlockRange(1, start + i) && released;
  return released;
}

bool TAbstractFile::LockRangeAbsorbing(std::int64_t length, std::int64_t start,
                                       std::int64_t absorbedCount) {
  Guard guard(FLock);
  TLockRange range;
  if (!MakeRange(length, start, range) || FLocks.CountInside(range) != absorbedCount) return false;
  FLocks.Absorb(range);
  return true;
}

bool TAbstractFile::UnlockRangeKeeping(std::int64_t length, std::int64_t start,
                                       std::span<const std::int64_t> keptBytes) {
  Guard guard(FLock);
  TLockRange range;
  if (!MakeRange(length, start, range) || !KeptBytesInside(range, keptBytes)) return false;
  return FLocks.Split(length, start, keptBytes);
}

bool TAbstractFile::KeptBytesInside(const TLockRange& range,
                                    std::span<const std::int64_t> keptBytes) {
  std::int64_t previous = range.Start - 1;
  for (std::int64_t byte : keptBytes) {
    if (byte <= previous || byte > range.End) return false;
    previous = byte;
  }
  return true;
}

int TAbstractFile::OpenCount() {
  Guard guard(FLock);
  return static_cast<int>(FHandles.size());
}

std::int64_t TAbstractFile::HandlePosition(std::int32_t handleId) {
  Guard guard(FLock);
  const int index = FindHandle(handleId);
  return index < 0 ? -1 : FHandles[index].Position;
}

std::int32_t TAbstractFile::AddHandle() {
  FHandles.push_back({++FLastHandleId, 0});
  return FLastHandleId;
}

bool TAbstractFile::MakeRange(std::int64_t length, std::int64_t start, TLockRange& range) {
  if (length <= 0 || start < 0 || start > kMaxPosition - (length - 1)) return false;
  range = {start, start + (length - 1), length};
  return true;
}

// ---- TMemoryFile -------------------------------------------------------------------------

TMemoryFile::TMemoryFile(std::string name, bool temporary, bool exclusive)
    : TAbstractFile(std::move(name), temporary, exclusive) {}

TFileResult<std::int32_t> TMemoryFile::CreateFile() {
  Guard guard(FLock);
  FBlock.clear();
  FBlock.shrink_to_fit();
  FSize = 0;
  FLocks.Clear();
  return AddHandle();
}

TFileStatus TMemoryFile::CloseHandle(std::int32_t handleId) {
  Guard guard(FLock);
  const TFileStatus result = TAbstractFile::CloseHandle(handleId);
  // Closing the last handle gives up its locks, as closing a disk file does; otherwise a
  // table closed while holding a lock could never be locked again.
  if (result.Ok() && FHandles.empty()) FLocks.Clear();
  return result;
}

TFileResult<std::int64_t> TMemoryFile::Read(std::int32_t handleId, void* buffer,
                                            std::int64_t count) {
  Guard guard(FLock);
  const int index = FindHandle(handleId);
  if (index < 0) return OSFailure(EBADF);
  if (count < 0) return OSFailure(EINVAL);
  std::int64_t& position = FHandles[index].Position;
  const std::int64_t available = position < FSize ? FSize - position : 0;
  const std::int64_t moved = std::min(count, available);
  if (moved > 0) std::memcpy(buffer, FBlock.data() + position, static_cast<std::size_t>(moved));
  position += moved;
  return moved;
}

TFileResult<std::int64_t> TMemoryFile::Write(std::int32_t handleId, const void* buffer,
                                             std::int64_t count) {
  Guard guard(FLock);
  const int index = FindHandle(handleId);
  if (index < 0) return OSFailure(EBADF);
  if (count < 0) return OSFailure(EINVAL);
  std::int64_t& position = FHandles[index].Position;
  if (count == 0) {
    // Cut (or extend with zeros) the file at the handle's position.
    if (const TFileStatus reserved = Reserve(position); !reserved.Ok()) return reserved;
    if (position < FSize)
      std::fill(FBlock.begin() + position, FBlock.begin() + FSize, static_cast<unsigned char>(0));
    FSize = position;
    return 0;
  }
  if (position > kMaxPosition - count) return OSFailure(EFBIG);
  const std::int64_t end = position + count;
  if (const TFileStatus reserved = Reserve(end); !reserved.Ok()) return reserved;
  std::memcpy(FBlock.data() + position, buffer, static_cast<std::size_t>(count));
  position = end;
  FSize = std::max(FSize, end);
  return count;
}

TFileStatus TMemoryFile::Reserve(std::int64_t newSize) {
  if (newSize <= Capacity()) return {};
  if (newSize > kMaxPosition - kGrowStep) return OSFailure(ENOMEM);
  const std::int64_t capacity = (newSize + kGrowStep - 1) / kGrowStep * kGrowStep;
  if (static_cast<std::uint64_t>(capacity) > FBlock.max_size()) return OSFailure(ENOMEM);
  try {
    FBlock.resize(static_cast<std::size_t>(capacity), 0);  // new bytes are zero
  } catch (const std::exception&) {
    return OSFailure(ENOMEM);
  }
  return {};
}

}  // namespace kura
