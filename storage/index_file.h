// The index file of a Kura table (extension ".IDX"): a 4096-byte header holding 33 index
// descriptors, then 4096-byte pages of the B+-trees of every index (index_page.h).
//
// Header (page 0), little-endian:
//
// OFFSET  SIZE  DESCRIPTION
//      0     4  IndexChangeCount (signed): incremented on every header write
//      4     4  zero
//      8     1  IndexVersion: always 5
//      9     4  NextPageNo (signed): one more than the number of pages (1 for an empty file)
//     13     1  SecondaryCount: secondary indexes, at most 30
//     14  3960  33 index descriptors of 120 bytes (index_key.h): slot 0 the primary index,
//               1..30 the secondary indexes in creation order, 31 "Sys Deleted", 32 "Sys Text"
//   3974     4  LiveRecordCount (signed): live records of the table
//   3978     1  NoPrimaryIndex: 1 = the primary order is the physical record order
//   3979     1  IndexHeaderChanged: 1 when the header was written because it had changed
//   3980   116  zero
//   4096        end
//
// Page n (n >= 1) lies at n x 4096. An encrypted table scrambles the header and every page as
// one 4096-byte buffer each with the record seeds.
//
// Limits: at most 2 000 000 000 pages and 4 000 000 000 bytes (9479); at most 30 secondary
// indexes and 16 fields per index (9487).
//
// Invariants of the header (checked on open and by CheckIndexStructure, 8961 when broken):
//   1. IndexVersion is 5, NextPageNo >= 1, SecondaryCount <= 30.
//   2. Each descriptor's RootPage, FreePage and ParamPage are 0 or below NextPageNo.
//   3. The system slots carry their key lengths (5 and 68).
//   4. Secondary names start with a letter, "_" or a byte 128..254 and differ without regard
//      to case; the primary name is empty.
//   5. Key fields are existing non-BLOB fields without gaps, their parts at most 522 bytes.
// and of the header as stored (checked whenever it is read from the file):
//   6. NoPrimaryIndex is 0 or 1 (8961).
//   7. No descriptor is marked temporary: a temporary index's descriptor is never written,
//      and a header written with one would drop that slot (8965).
//   8. With NoPrimaryIndex 1, slot 0 is all zero: the changes of a table without a primary
//      index leave slot 0 alone, so an index there would go stale (8965).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/buffer_cache.h"
#include "storage/file_handler.h"
#include "storage/index_key.h"
#include "storage/index_page.h"
#include "storage/index_tree.h"
#include "storage/index_tree_check.h"

namespace kura {

inline constexpr std::uint8_t kIndexVersion = 5;
inline constexpr std::int32_t kMaxIndexFilePages = 2'000'000'000;
inline constexpr std::int64_t kMaxIndexFileBytes = 4'000'000'000;

// What a caller asks for when it makes an index.
struct TIndexDefinition {
  std::string Name;
  std::vector<std::uint16_t> Fields;  // field numbers, 1-based
  std::vector<bool> FieldDescending;  // per field; may be shorter than Fields
  bool Descending = false;
  bool CaseInsensitive = false;
  bool Unique = false;
  std::uint8_t Compression = kCompressNone;
  bool Uncounted = false;
};

// The in-memory header.
struct TIndexHeader {
  std::int32_t IndexChangeCount = 0;
  std::int32_t NextPageNo = 1;
  std::uint8_t SecondaryCount = 0;
  std::array<TIndexDescriptor, kIndexSlotCount> Descriptors{};
  std::int32_t LiveRecordCount = 0;
  bool NoPrimaryIndex = false;
  bool HeaderChanged = false;
};

// Writes and reads the 4096-byte header image (descriptors of temporary indexes are left out
// when written). Decoding raises 12035 for a version other than 5, 8961 for a header that
// breaks invariant 1, 2, 3 or 6, and 8965 for invariant 7 or 8 (its text names the slot).
void EncodeIndexHeader(const TIndexHeader& header, std::span<std::uint8_t, kIndexPageBytes> image);
TIndexHeader DecodeIndexHeader(std::span<const std::uint8_t, kIndexPageBytes> image);

// What breaks invariant 6, 7 or 8 in a stored header image: the code it raises (0 when none),
// the slot concerned (-1 for the header itself) and what is wrong, in words.
struct TStoredHeaderFault {
  std::uint16_t Code = 0;
  int Slot = -1;
  std::string What;
};
TStoredHeaderFault StoredIndexHeaderFault(std::span<const std::uint8_t, kIndexPageBytes> image);

// The XOR scrambling of encrypted tables over one buffer (applying it twice restores it).
void ScrambleBuffer(std::span<std::uint8_t> buffer, std::uint8_t low, std::uint8_t high);

class TIndexFile : public TFileHandler {
 public:
  explicit TIndexFile(TFileList& list = FileList());
  ~TIndexFile() override;

  // The table the keys are built for: its fields (numbered from 1), locale and encryption.
  // Set before opening or creating.
  void SetTable(std::vector<TFieldDescriptor> fields, TTableLocale locale, bool encrypted);

  // Opens the file and reads its header (see DecodeIndexHeader for the codes). A failure
  // leaves the file closed.
  void Open() override;
  // Discards the caches and closes. Callers write back first (WriteChangedPages,
  // FlushIndexHeader).
  void Close() override;
  // Creates the file with a fresh header (CreateIndexFile) and writes it.
  void CreateFile() override;
  // A fresh header in memory: version 5, NextPageNo 1, the two system descriptors, changed.
  void CreateIndexFile();

  const TIndexHeader& Header() const { return FHeader; }
  std::int32_t NextPageNo() const { return FHeader.NextPageNo; }
  std::int32_t LiveRecordCount() const { return FHeader.LiveRecordCount; }
  void IncLiveRecordCount();
  // After a change of definitions failed part-way: every cached page is dropped and the
  // header is the one given (taken before the change), marked to be written by the next
  // flush. Pages written past its NextPageNo stay unused.
  void RestoreHeader(const TIndexHeader& header);
  // After the records were rewritten as a whole (a sorted result table).
  void SetLiveRecordCount(std::int32_t count);
  void DecLiveRecordCount();
  bool NoPrimaryIndex() const { return FHeader.NoPrimaryIndex; }
  int SecondaryCount() const { return FHeader.SecondaryCount; }

  // Makes the primary index (slot 0). Raises 9993 when one exists, 9487 for more than 16
  // fields, 10023 for a field number that names no field, 12292 for a BLOB field and 10026
  // when the key would pass 522 bytes. No fields: the table has no primary index of its own.
  void SetPrimaryIndex(const TIndexDefinition& definition);
  // Adds a secondary index in the next slot and answers the slot. Raises 9487 (a 31st index
  // or more than 16 fields), 10010 (no name), 10022 (a name not starting with a letter, "_"
  // or a byte 128..254), 10027 (a name in use, without regard to case), 10023, 12292, 10026.
  int AddSecondaryIndex(const TIndexDefinition& definition);
  // Names the string and memo fields the text index ("Sys Text", slot 32) covers, in the
  // order given; none leaves it covering nothing. Raises 9487 for more than 16 fields, 10023
  // for a number that names no field and 12292 for a field that is neither a string nor a
  // memo. The keys already in the index are left as they are.
  void SetTextIndex(std::span<const std::uint16_t> fields);
  // Removes a secondary index; the later descriptors move down one slot. Its pages stay in
  // the file unused until the table is rebuilt. Raises 10023 for a slot that holds none.
  void DeleteIndex(int slot);
  // The slot of the named index (without regard to case), -1 when there is none.
  int FindIndexName(std::string_view name) const;
  // A copy of the descriptor of a slot 0..32.
  TIndexDescriptor ReadIndexDescriptor(int slot) const;
  // Whether the slot holds an index.
  bool SlotInUse(int slot) const;

  // Writes the header when changed or forced, incrementing IndexChangeCount.
  void FlushIndexHeader(bool force);
  // Reads the header on disk: when its IndexChangeCount differs from the one in memory it
  // replaces the header in memory and answers true (the caller then drops the cached pages);
  // otherwise answers false and the header in memory stays as it is.
  bool IndexHeaderChangedOnDisk();
  // Replaces the header in memory with the one on disk, whatever its counter (a rollback).
  void ReloadIndexHeader();
  // IndexChangeCount + 1 in memory and the header marked changed (a transaction's changes,
  // written at its commit).
  void MarkIndexChanged();
  // Answers whether the table lock is held: while it is, a full page cache grows instead of
  // writing changed pages back.
  void SetTableLockQuery(std::function<bool()> query);
  // Whether any cached page of any index is changed.
  bool HasChangedPages() const;
  // Evicts unchanged, unpinned pages of every index down to the caches' target sizes.
  void TrimPages();
  // The capacity, and target, of every index's page cache (PageCacheCapacity at first).
  void SetPageCacheCapacity(std::size_t pages);
  // Writes every changed unpinned page, one write per run of consecutive page numbers.
  void WriteChangedPages();
  // Drops every cached page whatever its state (another process changed the file).
  void DiscardPages();
  // Cuts the file to its header; NextPageNo 1, no live records, every index empty.
  void EmptyIndexFile();
  // Checks the header against the table's fields (invariants 1 to 5); raises 8961.
  void CheckIndexStructure();

  // Page access for one index: the page, pinned (8965 for a number outside the file or an
  // unreadable image); release each page got or made.
  TPage* GetPage(int slot, std::int32_t pageNo);
  void ReleasePage(int slot, TPage* page);
  // A new empty page of the index: its free chain's head, else a page at the end of the
  // file (9479 past the file limits).
  TPage* NewPage(int slot);
  // Links the page to the head of the index's free chain.
  void FreePage(int slot, TPage* page);
  // Puts the whole free chain of index fromSlot in front of toSlot's, so that the pages of an
  // index about to be deleted stay reusable instead of belonging to nothing (8965 for a chain
  // that loops or leaves the file).
  void HandOverFreePages(int fromSlot, int toSlot);
  std::int32_t RootPage(int slot) const { return FHeader.Descriptors.at(slot).RootPage; }
  // The first page of the text index's parameters (0: none, the defaults apply).
  std::int32_t ParamPage() const { return FHeader.Descriptors[kSysTextSlot].ParamPage; }
  void SetParamPage(std::int32_t pageNo);

  // Key and page formats of a slot's index, and its tree.
  const TKeyFormat& KeyFormat(int slot);
  TPageFormat PageFormat(int slot) const;
  TIndexPageStore& Store(int slot);
  TIndexTree Tree(int slot);
  // Runs the tree checker over the slot's index.
  TTreeCheckReport CheckTree(int slot);
  // The page cache of a slot (for tests and statistics).
  const TBufferCache<TPage>& Cache(int slot) const { return *FCaches.at(slot); }

 private:
  class TSlotStore;

  void RequireSlot(int slot) const;
  // Reads and checks the header image on disk (see DecodeIndexHeader for the codes).
  TIndexHeader ReadHeaderFromDisk();
  void WriteHeaderImage();
  void WritePageRun(std::span<TPage* const> run);
  void ReadPage(TPage& page);
  TIndexDescriptor MakeDescriptor(const TIndexDefinition& definition) const;
  void ValidateName(std::string_view name) const;
  void MarkHeaderChanged() { FHeader.HeaderChanged = true; }
  void ResetKeyFormats();
  [[noreturn]] void Raise(std::uint16_t code, std::string_view index = {}) const;

  TIndexHeader FHeader;
  std::vector<TFieldDescriptor> FFields;
  TTableLocale FLocale;
  bool FEncrypted = false;
  TCachePool<TPage> FPool;
  std::array<std::unique_ptr<TBufferCache<TPage>>, kIndexSlotCount> FCaches;
  std::array<std::unique_ptr<TSlotStore>, kIndexSlotCount> FStores;
  std::array<std::unique_ptr<TKeyFormat>, kIndexSlotCount> FKeyFormats;
};

}  // namespace kura
