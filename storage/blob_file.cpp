#include "storage/blob_file.h"

#include <algorithm>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/blob_scramble.h"

namespace kura {

namespace {

TCacheSettings BlockCacheSettings(TFileHandler* owner) {
  TCacheSettings settings;
  settings.ChainScan = kBlockChainScan;
  settings.GrowthStep = kBlockCacheGrowth;
  settings.CorruptCode = codes::kBlobBuffersCorrupt;
  settings.Owner = owner;
  return settings;
}

// Holds the file's critical section across a seek and the read or write that follows it.
class TFileAccess {
 public:
  explicit TFileAccess(TFileHandler& file) : FFile(file) { FFile.BeginAccess(); }
  ~TFileAccess() { FFile.EndAccess(); }
  TFileAccess(const TFileAccess&) = delete;
  TFileAccess& operator=(const TFileAccess&) = delete;

 private:
  TFileHandler& FFile;
};

}  // namespace

TBlobFile::TBlobFile(TFileList& list)
    : TFileHandler(list),
      FPool(kBlockPoolLimit, [] { return std::make_unique<TBlock>(kDefaultBlockSize); }),
      FCache(FPool, BlockCacheSettings(this)),
      FChains(*this, FHeader, kDefaultBlockSize, FFileName) {
  FCache.SetWriteBack([this](std::span<TBlock* const> run) { WriteRun(run); });
  FCache.SetCapacity(BlockCacheCapacity(kDefaultBlockSize));
}

TBlobFile::~TBlobFile() {
  // Holders of pinned blocks are gone by now; nothing is written from a destructor.
  FCache.Discard();
}

void TBlobFile::SetStoredBlockSize(std::uint32_t storedBlockSize) {
  FStoredBlockSize = storedBlockSize;
  const int blockSize = BlobBlockSizeOf(storedBlockSize);
  if (blockSize == 0 || blockSize == FBlockSize) return;
  FCache.Discard();
  FBlockSize = blockSize;
  FPool.SetFactory([blockSize] { return std::make_unique<TBlock>(blockSize); });
  FChains.SetBlockSize(blockSize);
  FCache.SetCapacity(BlockCacheCapacity(static_cast<std::size_t>(blockSize)));
}

void TBlobFile::SetTableLockQuery(std::function<bool()> query) {
  FCache.SetTableLockQuery(std::move(query));
}

void TBlobFile::CheckBlockSize(std::uint16_t code) const {
  if (BlobBlockSizeOf(FStoredBlockSize) == 0) RaiseTableError(code, FFileName);
}

void TBlobFile::ReadHeaderBytes(std::uint8_t* bytes) {
  {
    const TFileAccess access(*this);
    Seek(kSeekFromStart, 0);
    ReadBuffer(bytes, kBlobHeaderSize);
  }
  if (FEncrypted) ScrambleBlobBytes(bytes, kBlobHeaderSize);
}

void TBlobFile::Open() {
  if (IsOpen()) return;
  CheckBlockSize(codes::kHeaderCorrupt);
  TFileHandler::Open();
  try {
    std::uint8_t bytes[kBlobHeaderSize];
    ReadHeaderBytes(bytes);
    const TBlobHeader header = DecodeBlobHeader(bytes);
    if (header.BlobVersion != kBlobVersion) RaiseTableError(codes::kWrongVersion, FFileName);
    CheckBlockCount(header);
    FCache.Discard();
    FHeader = header;
    FCache.SetOwnerName(FFileName);
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
}

void TBlobFile::Close() {
  FCache.Discard();
  TFileHandler::Close();
}

void TBlobFile::CreateFile() {
  CheckBlockSize(codes::kBlobFieldLimits);
  FCache.Discard();
  TFileHandler::CreateFile();
  FHeader = TBlobHeader{};
  FHeader.Changed = true;
  FCache.SetOwnerName(FFileName);
}

TBlock& TBlobFile::GetBlock(std::int32_t blockNo, std::int32_t readAhead, bool check) {
  if (check && (blockNo < 1 || blockNo >= FHeader.NextBlockNo))
    RaiseTableError(codes::kBlobBuffersCorrupt, FFileName);
  return GetBlock(blockNo, readAhead);
}

TBlock& TBlobFile::GetBlock(std::int32_t blockNo, std::int32_t readAhead) {
  if (TBlock* cached = FCache.Find(blockNo)) return *cached;
  const std::int64_t blocksLeft = static_cast<std::int64_t>(FHeader.NextBlockNo) - blockNo;
  const std::int64_t count = std::min<std::int64_t>(
      {static_cast<std::int64_t>(BlockReadAheadCount(FBlockSize)), readAhead, blocksLeft});
  return ReadBlocks(blockNo, static_cast<std::int32_t>(std::max<std::int64_t>(count, 1)));
}

TBlock& TBlobFile::ReadBlocks(std::int32_t blockNo, std::int32_t count) {
  // Blocks cached before the read keep their cached contents: a changed one may be written
  // back and evicted while the run is inserted, and the bytes read for it would be stale.
  std::vector<bool> cachedBefore(static_cast<std::size_t>(count), false);
  for (std::int32_t i = 1; i < count; ++i)
    cachedBefore[static_cast<std::size_t>(i)] = FCache.Peek(blockNo + i) != nullptr;

  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count) * FBlockSize);
  std::int64_t got = 0;
  {
    const TFileAccess access(*this);
    Seek(kSeekFromStart, BlockPosition(blockNo, FBlockSize));
    got = ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()), true);
  }
  const std::int64_t whole = got / FBlockSize;
  // A block the header counts but the file does not hold: the file was cut short.
  if (whole < 1) RaiseTableError(codes::kBlobBuffersCorrupt, FFileName);

  auto decode = [&](std::int64_t i, TBlock& block) {
    std::uint8_t* at = bytes.data() + i * FBlockSize;
    if (FEncrypted) UnscrambleBlock(at, FBlockSize);
    DecodeBlock(at, FBlockSize, block);
  };
  TBlock& wanted = *FCache.MakeEntry(blockNo);
  try {
    decode(0, wanted);
    for (std::int64_t i = 1; i < whole; ++i) {
      if (cachedBefore[static_cast<std::size_t>(i)]) continue;
      if (TBlock* extra = FCache.InsertReadAhead(blockNo + static_cast<std::int32_t>(i)))
        decode(i, *extra);
    }
  } catch (...) {
    FCache.Release(&wanted);
    throw;
  }
  return wanted;
}

TBlock& TBlobFile::FreshBlock(std::int32_t blockNo) {
  if (TBlock* cached = FCache.Find(blockNo)) {
    cached->Clear();
    return *cached;
  }
  return *FCache.MakeEntry(blockNo);
}

void TBlobFile::MarkBlockChanged(TBlock& block) {
  FCache.MarkChanged(&block);
}

void TBlobFile::ReleaseBlock(TBlock& block) {
  FCache.Release(&block);
}

void TBlobFile::WriteRun(std::span<TBlock* const> run) {
  std::vector<std::uint8_t> bytes(run.size() * static_cast<std::size_t>(FBlockSize));
  for (std::size_t i = 0; i < run.size(); ++i) {
    std::uint8_t* at = bytes.data() + i * static_cast<std::size_t>(FBlockSize);
    EncodeBlock(*run[i], at, FBlockSize);
    if (FEncrypted) ScrambleBlock(at, FBlockSize);
  }
  {
    const TFileAccess access(*this);
    Seek(kSeekFromStart, BlockPosition(run.front()->Number, FBlockSize));
    WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  }
}

std::int32_t TBlobFile::WriteRecordBlobs(std::span<TBlobBuffer* const> modified,
                                         std::int32_t lastBlobChange) {
  for (const TBlobBuffer* buffer : modified) {
    if (buffer->BlobChange != modified.front()->BlobChange)
      RaiseTableError(codes::kBlobBuffersCorrupt, FFileName);
  }
  const std::int32_t newChange = NextBlobChange(lastBlobChange);
  for (TBlobBuffer* buffer : modified) FChains.WriteBlob(*buffer, newChange);
  return newChange;
}

void TBlobFile::FlushBlobHeader(bool force) {
  if (!FHeader.Changed && !force) return;
  TBlobHeader written = FHeader;
  written.BlobChangeCount = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(FHeader.BlobChangeCount) + 1u);  // wraps, like the disk field
  std::uint8_t bytes[kBlobHeaderSize];
  EncodeBlobHeader(written, bytes);
  if (FEncrypted) ScrambleBlobBytes(bytes, kBlobHeaderSize);
  {
    const TFileAccess access(*this);
    Seek(kSeekFromStart, 0);
    WriteBuffer(bytes, kBlobHeaderSize);
  }
  FHeader.BlobChangeCount = written.BlobChangeCount;
  FHeader.Changed = false;
}

void TBlobFile::WriteChangedBlocks() {
  FCache.WriteBack();
}

void TBlobFile::DiscardBlocks() {
  FCache.Discard();
}

void TBlobFile::EmptyBlobFile() {
  FCache.Discard();
  {
    const TFileAccess access(*this);
    Seek(kSeekFromStart, kBlobHeaderSize);
    WriteBuffer(nullptr, 0);
  }
  FHeader.NextBlockNo = 1;
  FHeader.FirstFreeBlock = 0;
  FHeader.Changed = true;
}

void TBlobFile::CheckBlockCount(const TBlobHeader& header) {
  if (!BlockCountWithinLimits(header.NextBlockNo, FBlockSize) ||
      FileSize() < BlockPosition(header.NextBlockNo, FBlockSize))
    RaiseTableError(codes::kHeaderCorrupt, FFileName);
}

void TBlobFile::CheckBlobStructure() {
  if (FHeader.BlobVersion != kBlobVersion) RaiseTableError(codes::kWrongVersion, FFileName);
  const bool freeOk = FHeader.FirstFreeBlock == 0 ||
                      (FHeader.FirstFreeBlock >= 1 && FHeader.FirstFreeBlock < FHeader.NextBlockNo);
  if (!freeOk) RaiseTableError(codes::kHeaderCorrupt, FFileName);
  // Blocks still in the cache count as written: they reach the file before the header does.
  if (!BlockCountWithinLimits(FHeader.NextBlockNo, FBlockSize))
    RaiseTableError(codes::kHeaderCorrupt, FFileName);
}

bool TBlobFile::BlobHeaderChangedOnDisk() {
  std::uint8_t bytes[kBlobHeaderSize];
  ReadHeaderBytes(bytes);
  const TBlobHeader onDisk = DecodeBlobHeader(bytes);
  if (onDisk.BlobChangeCount == FHeader.BlobChangeCount) return false;
  CheckBlockCount(onDisk);
  FHeader = onDisk;
  return true;
}

void TBlobFile::ReloadBlobHeader() {
  std::uint8_t bytes[kBlobHeaderSize];
  ReadHeaderBytes(bytes);
  const TBlobHeader onDisk = DecodeBlobHeader(bytes);
  CheckBlockCount(onDisk);
  FHeader = onDisk;
}

void TBlobFile::MarkBlobChanged() {
  FHeader.BlobChangeCount =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(FHeader.BlobChangeCount) + 1u);
  FHeader.Changed = true;
}

}  // namespace kura
