// The handler of a table's BLOB file (".BLB"): its header, a cache of its blocks with
// read-ahead and write-back in runs, and the BLOB values stored in chains of blocks. The
// format is drawn in blob_format.h; the chain rules and the errors they raise in
// blob_chains.h.
//
// The table sets the block size and the encrypted flag from its data file header before the
// file is created or opened. Blocks are cached: a miss reads up to 16 KB of following blocks
// in one read (never more than the value still needs or the file holds); changed blocks stay
// in the cache until WriteChangedBlocks (or until the cache needs room while the table lock is
// not held) writes them, one write per run of consecutive block numbers. The header is
// written by FlushBlobHeader, which advances BlobChangeCount.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "storage/blob_chains.h"
#include "storage/blob_format.h"
#include "storage/buffer_cache.h"
#include "storage/data_file.h"
#include "storage/file_handler.h"

namespace kura {

class TBlobFile : public TFileHandler, private TBlockAccess {
 public:
  explicit TBlobFile(TFileList& list = FileList());
  ~TBlobFile() override;

  // The data file header's BlobBlockSize field (low 16 bits; 0 means 512). Set before
  // create or open; a size of 18 or less is refused when the file is created (9498) or
  // opened (8961).
  void SetStoredBlockSize(std::uint32_t storedBlockSize);
  // Blocks and header are scrambled on disk when the table is encrypted.
  void SetEncrypted(bool encrypted) { FEncrypted = encrypted; }
  // Takes the block size and the encrypted flag from the table's open data file.
  void ConfigureFrom(const TDataFile& dataFile) {
    SetStoredBlockSize(dataFile.BlobBlockSize());
    SetEncrypted(dataFile.Encrypted());
  }
  // Answers whether the table lock is held: while it is, a full cache grows instead of
  // writing changed blocks back.
  void SetTableLockQuery(std::function<bool()> query);

  int BlockSize() const { return FBlockSize; }
  bool Encrypted() const { return FEncrypted; }
  const TBlobHeader& Header() const { return FHeader; }

  // Opens the file and reads its header; raises 12035 for a version other than 5, and 8961
  // for an unusable block size or a NextBlockNo that counts more blocks than the file holds
  // or the limits allow (a damaged count would otherwise place new blocks gigabytes past the
  // end of the file). Any failure leaves the file closed.
  void Open() override;
  // Drops the cached blocks (write them back first) and closes the file.
  void Close() override;
  // Creates (or empties) the file with a fresh header in memory: version 5, no blocks, no
  // free chain, changed, so the next FlushBlobHeader writes it.
  void CreateFile() override;
  void CreateBlobFile() { CreateFile(); }

  // Block blockNo pinned, from the cache or read with up to readAhead blocks in one read.
  // With check set the number must name a block of the file (8963 otherwise). Give it back
  // with ReleaseBlock.
  TBlock& GetBlock(std::int32_t blockNo, std::int32_t readAhead, bool check);
  void ReleaseBlock(TBlock& block) override;
  // Marks a pinned block changed, to be written back.
  void MarkBlockChanged(TBlock& block) override;
  // See TBlobChains.
  std::int32_t NewBlock() { return FChains.NewBlock(); }
  void FreeBlock(std::int32_t blockNo) { FChains.FreeBlock(blockNo); }

  // Fills buffer.Data with the value buffer.FirstBlock / buffer.BlobChange names.
  void ReadBlob(TBlobBuffer& buffer) { FChains.ReadBlob(buffer); }
  // Stores buffer.Data under newChange; see TBlobChains::WriteBlob.
  void WriteBlob(TBlobBuffer& buffer, std::int32_t newChange) {
    FChains.WriteBlob(buffer, newChange);
  }
  // Stores the modified BLOB values of one record when it is posted: they must all carry
  // the same old change number (8963 otherwise, nothing written); they get one new number,
  // the one after lastBlobChange, which is answered for the caller to keep as the data
  // header's LastBlobChange and to write into the records' BLOB references.
  std::int32_t WriteRecordBlobs(std::span<TBlobBuffer* const> modified,
                                std::int32_t lastBlobChange);
  // The same, taking the number from the data file's LastBlobChange and storing the new one
  // there (which marks the data header changed).
  std::int32_t WriteRecordBlobs(std::span<TBlobBuffer* const> modified, TDataFile& dataFile) {
    const std::int32_t newChange = WriteRecordBlobs(modified, dataFile.LastBlobChange());
    dataFile.SetLastBlobChange(newChange);
    return newChange;
  }
  // Frees a value's chain; see TBlobChains::FreeBlob.
  void FreeBlob(std::int32_t firstBlock, std::int32_t expectedChange, bool force) {
    FChains.FreeBlob(firstBlock, expectedChange, force);
  }

  // Writes the header when it changed or force is set, advancing BlobChangeCount.
  void FlushBlobHeader(bool force);
  // Writes every changed, unpinned block: one write per run of consecutive numbers.
  void WriteChangedBlocks();
  // Drops every cached block whatever its state (another process changed the file, or a
  // rollback); the next access reads from disk.
  void DiscardBlocks();
  // Evicts unchanged, unpinned blocks down to the cache's target size.
  void TrimBlocks() { FCache.Trim(); }
  // Cuts the file to its header and forgets every block: NextBlockNo 1, no free chain.
  void EmptyBlobFile();
  // The table's structure check: version 5 (12035); FirstFreeBlock 0 or a block of the file,
  // and NextBlockNo within the file limits (8961).
  void CheckBlobStructure();
  // Reads the header on disk: when its BlobChangeCount differs from the one in memory it
  // replaces the header in memory and answers true (the caller then drops the cached
  // blocks); otherwise answers false.
  bool BlobHeaderChangedOnDisk();
  // Replaces the header in memory with the one on disk, whatever its counter (a rollback).
  void ReloadBlobHeader();
  // BlobChangeCount + 1 in memory and the header marked changed (a transaction's changes,
  // written at its commit).
  void MarkBlobChanged();

  TBlobChains& Chains() { return FChains; }
  TBufferCache<TBlock>& Cache() { return FCache; }

 private:
  TBlock& GetBlock(std::int32_t blockNo, std::int32_t readAhead) override;
  TBlock& FreshBlock(std::int32_t blockNo) override;

  // Reads block blockNo and up to count - 1 following ones into the cache; answers the
  // pinned entry of blockNo.
  TBlock& ReadBlocks(std::int32_t blockNo, std::int32_t count);
  // Writes one run of blocks with consecutive numbers.
  void WriteRun(std::span<TBlock* const> run);
  // Reads or writes the 512 header bytes at position 0, scrambled when encrypted.
  void ReadHeaderBytes(std::uint8_t* bytes);
  // Raises 8961 unless the header's block count is within the limits and the file holds
  // every block it counts.
  void CheckBlockCount(const TBlobHeader& header);
  // Raises code for a block size that cannot hold data.
  void CheckBlockSize(std::uint16_t code) const;

  std::uint32_t FStoredBlockSize = 0;
  int FBlockSize = kDefaultBlockSize;
  bool FEncrypted = false;
  TBlobHeader FHeader;
  TCachePool<TBlock> FPool;
  TBufferCache<TBlock> FCache;
  TBlobChains FChains;
};

}  // namespace kura
